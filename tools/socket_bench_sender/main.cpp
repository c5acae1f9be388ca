// Sending side of the socket throughput benchmark (run under Wine by bench/socket_throughput.sh).
//   socket_bench_sender plain  PORT FILE   accept one peer, send FILE with a blocking loop of
//                                          4096-byte sends
//   socket_bench_sender stream PORT FILE   serve FILE to one peer through TServerSocket and
//                                          SendFromStream on this thread's message loop
//   socket_bench_sender transfer PORT FILE serve FILE to one downloading peer through the file
//                                          transfer object (request, offer, "ok sendfile",
//                                          stream, status reports) on this thread's loop
// Prints key=value lines: bytes, seconds, cpu_seconds and, for stream, how long one socket
// message (notification or stream continuation) held the message loop.
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/file_stream_win32.h"
#include "fileshare/BrenloFileServer.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "net/BrenloScktComp.h"
#include "net/net_api_win32.h"

namespace {

using Clock = std::chrono::steady_clock;

// How long the dispatched messages held the loop: the socket messages together (notifications
// and stream continuations), and the longest one of each kind.
class TLoopMeter {
  public:
    // `startsStream`: the message that started the stream (the read of "ok sendfile"), counted
    // apart from the other reads.
    void Add(const MSG& msg, double seconds, bool startsStream = false) {
        if (startsStream)
            start_ = std::max(start_, seconds);
        if (msg.message == WM_TIMER) {
            timer_ = std::max(timer_, seconds);
            return;
        }
        if (msg.message == MSG_CONTINUE_STREAM) {
            continue_ = std::max(continue_, seconds);
        } else if (msg.message == MSG_SOCKET_EVENT) {
            const unsigned event = static_cast<unsigned>(msg.lParam) & 0xFFFF;
            double& kind = startsStream        ? start_
                           : event == kFdRead  ? read_
                           : event == kFdWrite ? write_
                                               : other_;
            kind = std::max(kind, seconds);
        } else {
            return;
        }
        longest_ = std::max(longest_, seconds);
        held_ += seconds;
        ++messages_;
        if (seconds > kFrameSeconds)
            ++overFrame_;
        if (msg.message == MSG_SOCKET_EVENT &&
            (static_cast<unsigned>(msg.lParam) & 0xFFFF) == kFdRead)
            ++reads_;
    }
    void Print() const {
        std::printf("socket_messages=%ld\nlongest_message_ms=%.3f\nmean_message_ms=%.3f\n",
                    messages_, longest_ * 1000, messages_ ? held_ * 1000 / messages_ : 0);
        std::printf("messages_over_frame=%ld\nread_notifications=%ld\n", overFrame_, reads_);
        std::printf(
            "longest_read_ms=%.3f\nlongest_write_ms=%.3f\nlongest_continue_ms=%.3f\n"
            "longest_timer_ms=%.3f\nlongest_start_ms=%.3f\n",
            read_ * 1000, write_ * 1000, continue_ * 1000, timer_ * 1000, start_ * 1000);
    }

  private:
    static constexpr double kFrameSeconds = 0.016;  // one frame of a 60 Hz display
    long overFrame_ = 0, reads_ = 0;
    double longest_ = 0, held_ = 0;
    double read_ = 0, write_ = 0, continue_ = 0, other_ = 0, timer_ = 0, start_ = 0;
    long messages_ = 0;
};

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

int Plain(int port, const char* path) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0) {
        std::printf("error=bind %d\n", WSAGetLastError());
        return 1;
    }
    std::printf("listening=1\n");
    std::fflush(stdout);
    SOCKET peer = accept(listener, nullptr, nullptr);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (peer == INVALID_SOCKET || file == INVALID_HANDLE_VALUE)
        return 1;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    char piece[4096];
    long long total = 0;
    DWORD n = 0;
    while (ReadFile(file, piece, sizeof piece, &n, nullptr) && n > 0) {
        int off = 0;
        while (off < static_cast<int>(n)) {
            const int sent = send(peer, piece + off, static_cast<int>(n) - off, 0);
            if (sent <= 0)
                return 1;
            off += sent;
        }
        total += n;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("bytes=%lld\nseconds=%.3f\ncpu_seconds=%.3f\n", total, seconds,
                CpuSeconds() - cpu0);
    closesocket(peer);
    closesocket(listener);
    CloseHandle(file);
    return 0;
}

int Stream(int port, const char* path) {
    InstallWinsockNetApi();
    bool done = false;
    long long size = 0;
    Clock::time_point t0;
    double cpu0 = 0;
    TServerSocket server;
    server.OnClientConnect() = [&](TObject*, TCustomWinSocket* socket) {
        socket->OnNetEvent = [&](TObject*, TCustomWinSocket*, TNetEventKind kind) {
            if (kind == neDisconnect)
                done = true;
        };
        socket->OnNetError = [](TObject*, TCustomWinSocket*, TErrorEvent, int& code) { code = 0; };
        auto stream = OpenFileStreamForReading(path);
        size = stream->Size();
        cpu0 = CpuSeconds();
        t0 = Clock::now();
        socket->SendFromStream(std::move(stream));
    };
    server.SetPort(port);
    server.SetActive(true);
    std::printf("listening=1\n");
    std::fflush(stdout);

    TLoopMeter meter;
    Clock::time_point last;
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    MSG msg;
    while (!done && Clock::now() < deadline) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        const auto start = Clock::now();
        DispatchMessageA(&msg);
        meter.Add(msg, std::chrono::duration<double>(Clock::now() - start).count());
        if (msg.message == MSG_SOCKET_EVENT || msg.message == MSG_CONTINUE_STREAM)
            last = Clock::now();
    }
    // The stream's last piece left with the last write notification.
    const double seconds = std::chrono::duration<double>(last - t0).count();
    std::printf("bytes=%lld\nseconds=%.3f\ncpu_seconds=%.3f\n", size, seconds, CpuSeconds() - cpu0);
    meter.Print();
    return done ? 0 : 1;
}

// The peer speaks the whole protocol; the time runs from the message that started the stream
// ("ok sendfile") to the peer's report that the last byte has arrived.
int Transfer(int port, const char* path) {
    InstallWinsockNetApi();
    InstallWin32TransferPlatform();
    bool done = false, complete = false;
    long long size = 0;
    TBrenloFileServer* transfer = nullptr;
    Clock::time_point t0, t1;
    double cpu0 = 0, cpu1 = 0;
    TServerSocket server;
    server.OnClientConnect() = [&](TObject*, TCustomWinSocket* socket) {
        if (transfer)
            return;  // one peer
        transfer = new TBrenloFileServer(socket, path);
        transfer->OnConfirmUser = [](TBrenloFileServer*, const std::string&) { return true; };
        transfer->OnStat = [&](TBrenloFileServer*, std::int32_t, const std::string&,
                               const std::string&, std::int64_t bytes, std::int64_t total) {
            if (!complete && total > 0 && bytes >= total) {
                complete = true;
                t1 = Clock::now();
                cpu1 = CpuSeconds();
                size = total;
            }
        };
        transfer->OnClose = [&](TBrenloFileServer*) {
            done = true;
            transfer = nullptr;
        };
    };
    server.SetPort(port);
    server.SetActive(true);
    std::printf("listening=1\n");
    std::fflush(stdout);

    TLoopMeter meter;
    bool started = false;
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    MSG msg;
    while (!done && Clock::now() < deadline) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            continue;
        }
        const auto start = Clock::now();
        const double cpuStart = started ? 0 : CpuSeconds();
        DispatchMessageA(&msg);
        const bool startsStream = !started && transfer && transfer->FileSize() > 0;
        if (startsStream) {
            started = true;
            t0 = start;
            cpu0 = cpuStart;
        }
        meter.Add(msg, std::chrono::duration<double>(Clock::now() - start).count(), startsStream);
    }
    if (!complete) {
        std::printf("error=the peer did not report the whole file\n");
        return 1;
    }
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    std::printf("bytes=%lld\nseconds=%.3f\ncpu_seconds=%.3f\n", size, seconds, cpu1 - cpu0);
    meter.Print();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: socket_bench_sender plain|stream|transfer PORT FILE\n");
        return 2;
    }
    WSADATA data;
    WSAStartup(0x0101, &data);
    const std::string mode = argv[1];
    const int port = std::atoi(argv[2]);
    try {
        if (mode == "transfer")
            return Transfer(port, argv[3]);
        return mode == "plain" ? Plain(port, argv[3]) : Stream(port, argv[3]);
    } catch (const std::exception& e) {
        std::printf("error=%s\n", e.what());
        return 1;
    }
}
