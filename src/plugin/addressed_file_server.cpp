// The file server's side of an announcement with the public address lookup behind the token.
#include "plugin/addressed_file_server.h"

void TAddressedFileServer::SetTrayIcon(bool visible) {
    if (window_ != nullptr) {
        window_->SetTrayIcon(visible);
    }
}

void TAddressedFileServer::SetServedFile(const std::string& fileName) {
    if (window_ != nullptr) {
        window_->SetServedFile(fileName);
    }
}

void TAddressedFileServer::SetServerPort(int port) {
    if (window_ != nullptr) {
        window_->SetServerPort(port);
    }
}

void TAddressedFileServer::RejectServerPort(const std::string& text) {
    if (window_ != nullptr) {
        window_->RejectServerPort(text);
    }
}

std::string TAddressedFileServer::GetEncodedAddress(char kind) {
    if (listener_ == nullptr) {
        return {};
    }
    return lookup_.GetEncodedAddress(kind, *listener_, AddressHosts(settings_.fs));
}
