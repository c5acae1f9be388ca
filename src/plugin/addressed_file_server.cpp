// The file server's side of an announcement with the public address lookup behind the token.
#include "plugin/addressed_file_server.h"

#include <utility>

namespace {

// The listener as it was when the song changed.
class TListenerSnapshot final : public IListenerState {
  public:
    TListenerSnapshot(bool listening, int port) : listening_(listening), port_(port) {}
    bool Listening() const override { return listening_; }
    int ListenerPort() const override { return port_; }

  private:
    bool listening_;
    int port_;
};

}  // namespace

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

std::function<std::string()> TAddressedFileServer::EncodedAddressCall(char kind) {
    TAddressHosts hosts = AddressHosts(settings_.fs);
    // Nobody to ask: no lookup, the token is empty.
    if (listener_ == nullptr || !listener_->Listening() ||
        SplitHostPort(hosts.EchoHost).Host.empty()) {
        return {};
    }
    // Copies only: the lookup object holds references to the client and the clock, nothing else.
    return [lookup = lookup_, kind, listener = TListenerSnapshot(true, listener_->ListenerPort()),
            hosts = std::move(hosts)]() mutable {
        return lookup.GetEncodedAddress(kind, listener, hosts);
    };
}
