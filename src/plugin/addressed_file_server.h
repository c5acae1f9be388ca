// The file server's side of an announcement with the public address lookup behind the token.
#pragma once

#include <string>

#include "announce/u_composer.h"
#include "config/u_config.h"
#include "fileshare/public_address.h"

// The tray icon, the served file and the port go to the file-server window (when there is one);
// the token comes from the address lookup, which asks the window's listener whether it listens
// and on which port, and reads the host names from the settings at the moment of the call.
// Without a listener there is no lookup and the token is empty.
class TAddressedFileServer final : public IFileServerLink {
  public:
    TAddressedFileServer(TAddressLookup& lookup, const TPluginSettings& settings)
        : lookup_(lookup), settings_(settings) {}

    // The window that serves the song and its listener; either may be null.
    void Attach(IFileServerLink* window, const IListenerState* listener) {
        window_ = window;
        listener_ = listener;
    }

    void SetTrayIcon(bool visible) override;
    void SetServedFile(const std::string& fileName) override;
    void SetServerPort(int port) override;
    void RejectServerPort(const std::string& text) override;
    std::string GetEncodedAddress(char kind) override;
    // Takes the listener's state and the host names now; the lookup runs when the call does,
    // through the same HTTP client and clock, which must outlive every call handed out. No call
    // when the listener is closed or no address host is named.
    std::function<std::string()> EncodedAddressCall(char kind) override;

  private:
    TAddressLookup& lookup_;
    const TPluginSettings& settings_;
    IFileServerLink* window_ = nullptr;
    const IListenerState* listener_ = nullptr;
};
