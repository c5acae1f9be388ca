// The downloading peer: connects to a file server, asks for its file, answers the offer and
// writes exactly the offered bytes into a folder, reporting progress to the server as it goes.
// Download() is the whole exchange, for the command line program and for anything that finds
// the server's address some other way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace peer {

struct Options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 1000;
    std::string user = "peer";
    std::string folder = ".";          // the file is written here and nowhere else
    int offerTimeoutMs = 120000;       // the server's user is asked first
    int timeoutMs = 30000;             // any other wait
    std::int64_t statusEvery = 65536;  // bytes between "status" reports (and one at the end)
    // Misbehaviour on request, for tests of the server.
    int splitAt = 0;                // > 0: each message goes out in two pieces, cut here
    std::int64_t cancelAfter = -1;  // >= 0: send "fuck off" once this many bytes are in
    std::int64_t resetAfter = -1;   // >= 0: reset the connection once this many bytes are in
    int readSize = 65536;           // bytes asked for per read
    int readDelayMs = 0;            // pause after each read
    int receiveWindow = 0;          // > 0: receive buffer size of the socket
};

enum ExitCode {
    kDone = 0,
    kUsage = 2,
    kWasRefused = 3,     // "connectionrefused", or closed without an offer
    kBrokenOffer = 4,    // not an offer, or a name that would leave the folder
    kShortTransfer = 5,  // the connection ended before all offered bytes came
    kTimedOut = 6,
    kCannotConnect = 7,
    kCancelled = 8,  // cancelled on request (--cancel-after)
    kResetDone = 9,  // reset on request (--reset-after)
    kCannotWrite = 10,
};

struct Result {
    int code = kDone;
    std::string message;  // one line for the user
    std::string path;     // the file written (empty when none is left)
    std::int64_t bytes = 0;
    std::int64_t size = -1;  // the offered size, -1 before the offer
};

using Progress = std::function<void(std::int64_t bytes, std::int64_t size)>;

Result Download(const Options& options, const Progress& progress = nullptr);

}  // namespace peer
