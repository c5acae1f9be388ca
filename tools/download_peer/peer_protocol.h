// The downloading side of the file transfer protocol: what a peer sends and how it reads the
// server's offer. Pure text handling, shared by the download_peer program and its tests.
#pragma once

#include <cstdint>
#include <string>

namespace peer {

inline constexpr char kRequestFile[] = "request file:";
inline constexpr char kOfferPrefix[] = "request sendfile:";
inline constexpr char kRefused[] = "connectionrefused";
inline constexpr char kOkSendFile[] = "ok sendfile";
inline constexpr char kStatus[] = "status";
inline constexpr char kCancel[] = "fuck off";

struct Offer {
    std::int64_t size = 0;
    std::string name;
};

// Reads "request sendfile:<decimal size>-<name>"; false for anything else (no digits, no "-",
// a size beyond 63 bits, trailing text that is not part of the name cannot be told apart and
// belongs to the name).
bool ParseOffer(const std::string& message, Offer* offer);

// Whether `name` may be written as a file inside the download folder: one plain name, with no
// folder part ("/" or "\"), no drive or stream (":"), not "." or "..", no control characters,
// not a device name (CON, NUL, COM1, ...), and not ending in a dot or blank (Windows would
// silently drop them and write another file than the one named).
bool IsSafeFileName(const std::string& name);

}  // namespace peer
