// Native Linux side of the socket throughput benchmark (built by bench/socket_throughput.sh).
//   socket_peer recv HOST PORT BYTES   connect (retrying while the sender starts) and read
//                                      BYTES; prints the throughput seen by the receiver
//   socket_peer send PORT FILE         accept one peer and send FILE with blocking 4096-byte
//                                      sends; prints its CPU time
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using Clock = std::chrono::steady_clock;

static double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

static int Receive(const char* host, int port, long long expected) {
    int s = -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        s = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            break;
        close(s);
        if (Clock::now() > giveUp)
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    timeval timeout{30, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    static char buffer[1 << 20];
    long long total = 0;
    Clock::time_point first;
    while (total < expected) {
        const ssize_t n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        if (total == 0)
            first = Clock::now();
        total += n;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
    close(s);
    std::printf("received=%lld\nrecv_seconds=%.3f\nrecv_mbps=%.1f\n", total, seconds,
                total / 1048576.0 / seconds);
    return total == expected ? 0 : 1;
}

static int Send(int port, const char* path) {
    int l = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 1) != 0)
        return 1;
    const int peer = accept(l, nullptr, nullptr);
    const int file = open(path, O_RDONLY);
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    char piece[4096];
    long long total = 0;
    ssize_t n;
    while ((n = read(file, piece, sizeof piece)) > 0) {
        for (ssize_t off = 0; off < n;) {
            const ssize_t sent = send(peer, piece + off, static_cast<size_t>(n - off), 0);
            if (sent <= 0)
                return 1;
            off += sent;
        }
        total += n;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("bytes=%lld\nseconds=%.3f\ncpu_seconds=%.3f\n", total, seconds,
                CpuSeconds() - cpu0);
    close(peer);
    close(l);
    close(file);
    return 0;
}

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "recv" && argc == 5)
        return Receive(argv[2], std::atoi(argv[3]), std::atoll(argv[4]));
    if (mode == "send" && argc == 4)
        return Send(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: socket_peer recv HOST PORT BYTES | send PORT FILE\n");
    return 2;
}
