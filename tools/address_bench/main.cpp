// How long the address lookup holds the announcing thread: runs the lookup a number of times
// against the given hosts and prints each hold, the longest one and the two-second budget.
//
//   address_bench --host HOST:PORT [--probe HOST:PORT] [--rounds N] [--name TEXT]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fileshare/http_client_win32.h"
#include "fileshare/public_address.h"

namespace {

struct OpenListener final : IListenerState {
    bool Listening() const override { return true; }
    int ListenerPort() const override { return 1000; }
};

}  // namespace

int main(int argc, char** argv) {
    TAddressHosts hosts;
    std::string probe;
    std::string name = "lookup";
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--host") {
            hosts.WebHost = argv[i + 1];
        } else if (option == "--probe") {
            probe = argv[i + 1];
        } else if (option == "--rounds") {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (option == "--name") {
            name = argv[i + 1];
        }
    }
    hosts.EchoHost = probe.empty() ? hosts.WebHost : probe;
    TAddressLookup lookup(WindowsHttpClient(), SteadyClock());
    OpenListener listener;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double longest = 0;
    double total = 0;
    std::string token;
    for (int r = 0; r < rounds; ++r) {
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        token = lookup.GetEncodedAddress('1', listener, hosts);
        QueryPerformanceCounter(&end);
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        longest = std::max(longest, ms);
        total += ms;
        std::printf("%s round %d: held %.1f ms, token \"%s\"\n", name.c_str(), r + 1, ms,
                    token.c_str());
    }
    const double bound = static_cast<double>(kHoldBound.count());
    std::printf("%s: longest hold %.1f ms, mean %.1f ms over %d lookups; bound %.0f ms (%s)\n",
                name.c_str(), longest, total / rounds, rounds, bound,
                longest <= bound ? "kept" : "EXCEEDED");
    std::fflush(stdout);
    // Late workers of abandoned calls must not hold up the end of the program.
    ExitProcess(0);
}
