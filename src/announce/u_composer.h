// The announcement composer: turns one song change into the chat line handed to the chat driver.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "announce/aol_message.h"
#include "common/plugin_settings.h"
#include "common/song_info.h"

// The file server's side of an announcement: the tray icon, the file offered to peers, the
// listener's port and the encoded address token for the download link.
class IFileServerLink {
  public:
    virtual ~IFileServerLink() = default;
    virtual void SetTrayIcon(bool visible) = 0;
    virtual void SetServedFile(const std::string& fileName) = 0;
    // Moves the listener only when the port differs from the current one.
    virtual void SetServerPort(int port) = 0;
    // The configured port text names no port: the listener stays as it is and the user is told;
    // the announcement goes on, with the link of whatever listens.
    virtual void RejectServerPort(const std::string& text) { (void)text; }
    // The link token for the given kind character; empty when the server is not listening or
    // no public address is known.
    virtual std::string GetEncodedAddress(char kind) = 0;
    // The token as an announcement carries it to the thread that posts it: a call that refers to
    // nothing of this object (it may run on another thread, after this object is gone) and may
    // wait as long as the lookup does; an empty call when no lookup would be made (the token is
    // then empty). By default the token is found at once and the call only hands it over.
    virtual std::function<std::string()> EncodedAddressCall(char kind) {
        return [token = GetEncodedAddress(kind)] { return token; };
    }
    // The library is unmapped without a teardown (under the loader lock): the file server's
    // windows stop calling into it; nothing is destroyed.
    virtual void Abandon() noexcept {}
};

// One song's announcement as the player's thread hands it on: the composed message without its
// download link, and with sharing on the call that gives the link's token. Self-contained: it
// refers to neither the settings, nor the player, nor the file server.
struct TAnnouncement {
    TAolMessage Message;
    bool Link = false;                   // the line ends with the download link
    std::function<std::string()> Token;  // the link's token; empty: no lookup, an empty token
};

// The quick part of ComposeAolMessage, all of it but finding the token: the settings are read,
// the tray icon, the served file and the port are set as described there, and the token call is
// taken from the file server (EncodedAddressCall) without being run.
std::optional<TAnnouncement> ComposeAnnouncement(const TSongInfo& song,
                                                 const TPluginSettings& settings,
                                                 IFileServerLink& fileServer);

// The message to post: with a token call, the link with its token is appended to Text. Throws
// EBrenloError as ComposeAolMessage does when the call fails.
TAolMessage FinishAnnouncement(const TAnnouncement& announcement);

// Composes the announcement of `song` from `settings` (ComposeAnnouncement, then
// FinishAnnouncement).
//
// Returns nothing when chat output (`enablechat`) is off; then nothing else happens either, not
// even the tray icon update. Otherwise the tray icon follows `aolfs`, and with `aolfs` on the song
// becomes the served file, the listener moves to `fsport` and the download link (with the token,
// possibly empty) is appended to Text after the fade.
//
// `fsport` is read like Delphi's StrToInt for what a user types into a port field: leading
// blanks, an optional sign and decimal digits, nothing else; it must name a port from 1 to 65535.
// A text that is no such port goes to RejectServerPort instead of SetServerPort, and the song is
// still announced.
//
// Throws EBrenloError with a German message when a file server call fails (its own EBrenloError
// passes unchanged, other exceptions are wrapped); an EAbort from a file server call passes
// unchanged. Either way nothing is to be posted for this song; the tray icon and the served file
// may already have changed.
std::optional<TAolMessage> ComposeAolMessage(const TSongInfo& song, const TPluginSettings& settings,
                                             IFileServerLink& fileServer);

// The playing-time and bit-rate suffix: " [ m:ss min - b Kb/s ]".
std::string ExtendedSongInfo(std::int32_t lengthSeconds, std::int32_t bitrate);

// The listener port held by the `fsport` text, or nothing when it is not a valid port.
std::optional<int> ParsePort(const std::string& text);
