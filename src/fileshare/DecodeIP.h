// The peer's side of the download link: the inverse of the address encoder and a reader for the
// link as it reaches another user (the link target, the bare token, or the whole chat line).
#pragma once

#include <optional>
#include <string>

inline constexpr char kLinkScheme[] = "www.brenloplug:";

// Where a link points: the dotted IPv4 address and the file server's port.
struct TLinkAddress {
    std::string Address;
    int Port = 0;
    bool operator==(const TLinkAddress&) const = default;
};

// The plain text a token was made from, padding included. Nothing when the token has odd length
// or a character outside the token alphabet "kwhmzrfsuxgj".
std::optional<std::string> DecodeAddress(const std::string& token);

// The address and port in a decoded plain text: kind character, "1", the address service's
// reply, ":", the port, ":::" and padding. The reply may have carried characters outside the
// plain alphabet (a line end, an HTML page around the address); they decode as ":", so the
// address is the first field that holds a dotted IPv4 address (a full stop right before or
// after it, as in a sentence, is not part of it). Nothing when there is no such address or no
// port from 1 to 65535 in the last field.
std::optional<TLinkAddress> ParsePlainAddress(const std::string& plain);

// Reads a link as another user passes it on: "www.brenloplug:" + token (any letter case of the
// prefix), a bare token, or a whole chat line holding such a link target (the first one counts).
// Blanks and line ends around it are ignored.
std::optional<TLinkAddress> ParseDownloadLink(const std::string& text);
