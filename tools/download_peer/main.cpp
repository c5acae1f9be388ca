// download_peer: fetches the file a BrenloPlug file server offers, as a listener on the other
// side of a chat link would.
//
//   download_peer HOST PORT [options]
//   download_peer --link TEXT [options]       the address from a link: the link target
//                                             ("www.brenloplug:" + token), the bare token, or a
//                                             whole chat line holding the link
//   download_peer --link-file FILE [options]  the same from the last line of a text file (a
//                                             chat log, say) that holds a link
//     --user NAME          the user name sent with the request (default "peer")
//     --folder DIR         where the file is written (default: the current folder)
//     --timeout S          longest wait for data (default 30)
//     --offer-timeout S    longest wait for the offer while the server's user decides (120)
//     --status-every N     bytes between progress reports to the server (65536)
//     --quiet              no progress on the terminal
//   misbehaviour for tests of the server:
//     --split-at N         send every message in two pieces, cut after N bytes
//     --cancel-after N     send "fuck off" once N bytes are in
//     --reset-after N      reset the connection once N bytes are in
//     --read-size N        bytes asked for per read (65536)
//     --read-delay MS      pause after every read
//     --window N           receive buffer of the socket, in bytes
//
// Prints one line saying what happened; exit codes: 0 saved, 2 usage, 3 refused or no offer,
// 4 broken offer or unsafe name, 5 short transfer, 6 time-out, 7 cannot connect, 8 cancelled
// as asked, 9 reset as asked, 10 cannot write the file.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "download_peer.h"
#include "fileshare/DecodeIP.h"

namespace {

int Usage(const char* why) {
    std::fprintf(stderr,
                 "download_peer: %s\nusage: download_peer (HOST PORT | --link TEXT | "
                 "--link-file FILE) [--user NAME] "
                 "[--folder DIR] [--timeout S] [--offer-timeout S] [--status-every N] "
                 "[--quiet] [--split-at N] [--cancel-after N] [--reset-after N] "
                 "[--read-size N] [--read-delay MS] [--window N]\n",
                 why);
    return peer::kUsage;
}

bool Number(const char* text, long long min, long long max, long long* value) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (!*text || *end || v < min || v > max)
        return false;
    *value = v;
    return true;
}

// The newest link in a text file: its last line that holds one.
std::optional<TLinkAddress> LinkFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::optional<TLinkAddress> found;
    std::string line;
    while (std::getline(in, line)) {
        if (const std::optional<TLinkAddress> link = ParseDownloadLink(line))
            found = link;
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage("missing HOST or PORT");
    peer::Options options;
    long long n = 0;
    const std::string first = argv[1];
    if (first == "--link" || first == "--link-file") {
        const std::optional<TLinkAddress> link =
            first == "--link" ? ParseDownloadLink(argv[2]) : LinkFromFile(argv[2]);
        if (!link)
            return Usage(first == "--link" ? "no BrenloPlug link with an address in the text"
                                           : "no BrenloPlug link with an address in the file");
        options.host = link->Address;
        options.port = static_cast<std::uint16_t>(link->Port);
        std::fprintf(stderr, "download_peer: the link leads to %s port %d\n", link->Address.c_str(),
                     link->Port);
    } else {
        options.host = first;
        if (!Number(argv[2], 1, 65535, &n))
            return Usage("PORT must be 1 to 65535");
        options.port = static_cast<std::uint16_t>(n);
    }
    bool quiet = false;
    for (int i = 3; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--quiet") {
            quiet = true;
            continue;
        }
        if (i + 1 >= argc)
            return Usage(("missing value after " + flag).c_str());
        const char* value = argv[++i];
        if (flag == "--user") {
            options.user = value;
        } else if (flag == "--folder") {
            options.folder = value;
        } else if (flag == "--timeout" && Number(value, 1, 86400, &n)) {
            options.timeoutMs = static_cast<int>(n * 1000);
        } else if (flag == "--offer-timeout" && Number(value, 1, 86400, &n)) {
            options.offerTimeoutMs = static_cast<int>(n * 1000);
        } else if (flag == "--status-every" && Number(value, 1, 1LL << 40, &n)) {
            options.statusEvery = n;
        } else if (flag == "--split-at" && Number(value, 1, 1 << 20, &n)) {
            options.splitAt = static_cast<int>(n);
        } else if (flag == "--cancel-after" && Number(value, 0, 1LL << 62, &n)) {
            options.cancelAfter = n;
        } else if (flag == "--reset-after" && Number(value, 0, 1LL << 62, &n)) {
            options.resetAfter = n;
        } else if (flag == "--read-size" && Number(value, 1, 1 << 24, &n)) {
            options.readSize = static_cast<int>(n);
        } else if (flag == "--read-delay" && Number(value, 0, 60000, &n)) {
            options.readDelayMs = static_cast<int>(n);
        } else if (flag == "--window" && Number(value, 1, 1 << 24, &n)) {
            options.receiveWindow = static_cast<int>(n);
        } else {
            return Usage(("bad option " + flag + " " + value).c_str());
        }
    }

    int shown = -1;
    bool progressShown = false;
    const peer::Result result = peer::Download(options, [&](std::int64_t bytes, std::int64_t size) {
        if (quiet)
            return;
        const int percent = size > 0 ? static_cast<int>(bytes * 100 / size) : 100;
        if (percent == shown)
            return;
        shown = percent;
        progressShown = true;
        std::fprintf(stderr, "\r%3d%%  %lld of %lld bytes", percent, static_cast<long long>(bytes),
                     static_cast<long long>(size));
        std::fflush(stderr);
    });
    if (progressShown)
        std::fprintf(stderr, "\n");
    std::fprintf(result.code == peer::kDone ? stdout : stderr, "%s%s\n",
                 result.code == peer::kDone ? "" : "download_peer: ", result.message.c_str());
    return result.code;
}
