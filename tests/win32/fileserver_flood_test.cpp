// The file server under a flood and a soak, with real Winsock on loopback and the real window:
//  - flood: 1,000 connections in a burst from many loopback addresses, a quarter each sending
//    junk, half a request, nothing and closing, or nothing and staying, while a real peer
//    downloads; the download is byte-identical, the message loop keeps answering, and the
//    server's connections, socket windows, windows and timers return to their starting counts;
//  - soak: 20 peers each downloading 10 MiB, a random third of them resetting or cancelling
//    mid-stream; every completed download is byte-identical and the counts return. The third is
//    drawn from BP_SOAK_SEED (a fixed seed without it), printed, so that a run can be replayed.
// Both print their figures. Everything is bounded in count and time, and stays on loopback.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/app_error.h"
#include "download_peer.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/u_brenlofileserver_win32.h"
#include "net/net_api_win32.h"
#include "process_util.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kQuestionCaption[] = "BrenloPlug Download-Frage (Test)";

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data)
        c = static_cast<char>(random() & 0xFF);
    return data;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- what the server holds ----------------------------------------------------------------------
//
// Counted directly: Wine keeps no USER or GDI object counts (GetGuiResources answers 0), so the
// windows and timers themselves are counted instead.

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    EnumChildWindows(window, CountChild, count);
    return TRUE;
}

struct Counts {
    int connections = 0;    // transfers of the window
    int clients = 0;        // connection objects in the listener's list
    int socketWindows = 0;  // notification windows of the socket layer
    int windows = 0;        // windows and controls of this thread
    int timers = 0;         // running timers of the transfers and the idle watch

    bool operator==(const Counts&) const = default;
    std::string Text() const {
        std::ostringstream text;
        text << "connections " << connections << ", listener clients " << clients
             << ", socket windows " << socketWindows << ", windows " << windows << ", timers "
             << timers;
        return text.str();
    }
};

Counts Take(TBrenloFileserverWindow& window) {
    Counts counts;
    counts.connections = window.Form().Connections();
    if (TServerWinSocket* listener = window.Form().ServerSocket1.Listener())
        counts.clients = listener->ClientCount();
    HWND w = nullptr;
    while ((w = FindWindowExA(HWND_MESSAGE, w, "TBrenloSocketWindow", nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        counts.socketWindows += process == GetCurrentProcessId() ? 1 : 0;
    }
    EnumThreadWindows(GetCurrentThreadId(), CountTopLevel,
                      reinterpret_cast<LPARAM>(&counts.windows));
    counts.timers = RunningTransferTimers();
    return counts;
}

// ---- the player's message loop, watched ---------------------------------------------------------

// Posts a stamped message every few milliseconds from another thread; the longest time one of
// them waited until the loop (or any nested loop) handled it is the loop's worst stall.
class LoopProbe {
  public:
    LoopProbe() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "BrenloLoopProbe";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        start_ = Clock::now();
        poster_ = std::thread([this] {
            while (!stop_) {
                PostMessageA(window_, WM_APP + 7, 0, static_cast<LPARAM>(NowMs()));
                Sleep(5);
            }
        });
    }
    ~LoopProbe() {
        stop_ = true;
        poster_.join();
        DestroyWindow(window_);
    }
    LoopProbe(const LoopProbe&) = delete;
    LoopProbe& operator=(const LoopProbe&) = delete;

    long long LongestWaitMs() const { return longest_; }

  private:
    long long NowMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    }
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<LoopProbe*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (msg == WM_APP + 7 && self) {
            self->longest_ = std::max<long long>(self->longest_, self->NowMs() - lParam);
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    HWND window_ = nullptr;
    Clock::time_point start_;
    std::atomic<bool> stop_{false};
    std::thread poster_;
    long long longest_ = 0;
};

// Runs the message loop until `done` or the time is up; false on time-out.
bool Pump(const std::function<bool()>& done, double seconds) {
    return testutil::PumpUntil(done, static_cast<unsigned>(seconds * 1000));
}

// The local user, answering every download question with OK (from another thread, as a click).
class Confirmer {
  public:
    Confirmer() {
        thread_ = std::thread([this] {
            while (!stop_) {
                HWND dialog = nullptr;
                while ((dialog = FindWindowExA(nullptr, dialog, nullptr, kQuestionCaption))) {
                    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    ++clicks_;
                }
                Sleep(20);
            }
        });
    }
    ~Confirmer() {
        stop_ = true;
        thread_.join();
    }
    Confirmer(const Confirmer&) = delete;
    Confirmer& operator=(const Confirmer&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::atomic<int> clicks_{0};
    std::thread thread_;
};

// ---- the fixture ------------------------------------------------------------------------------

class FileServerLoad : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        WSAStartup(0x0202, &data);  // the peers' own sockets
        InstallWinsockNetApi();
        InstallWin32TransferPlatform();
        SetErrorDisplay([this](const std::string& message) {
            std::lock_guard<std::mutex> lock(shownLock);
            shown.push_back(message);
        });
        SetFileServerTextSource([] {
            TFileServerTexts texts;
            texts.confirmdownloadcaption = kQuestionCaption;
            texts.okbuttoncaption = "&Ja";
            texts.cancelbuttoncaption = "&Nein";
            texts.acceptdownloadmsg =
                "%username% m\xF6"
                "chte den Song laden.";
            return texts;
        });
        window = std::make_unique<TBrenloFileserverWindow>(false);
        // Port 1000 may be closed to us (an unprivileged Wine); a high port is what users set.
        {
            std::lock_guard<std::mutex> lock(shownLock);
            shown.clear();
        }
        port = testutil::SearchPort([this](int p) {
            window->Form().SetServerPort(p);
            return window->Form().IsListening();
        });
        {
            std::lock_guard<std::mutex> lock(shownLock);
            shown.clear();  // the ports that were taken
        }
        ASSERT_TRUE(window->Form().IsListening());
        Pump([] { return false; }, 0.2);  // the first-start timer hides the window
    }
    void TearDown() override {
        window.reset();
        SetFileServerTextSource(nullptr);
        SetErrorDisplay(nullptr);
        WSACleanup();
        for (const std::string& message : shown)
            ADD_FAILURE() << "shown to the user: " << message;
    }

    // A file of `size` random bytes, served from now on.
    std::string Serve(const std::string& name, std::size_t size) {
        content = RandomBytes(size, 4711);
        const std::string path = testutil::TempFile(name, content);
        window->Form().SetServedFile(path);
        return path;
    }
    // A folder of its own for one peer's download.
    static std::string PeerFolder(const std::string& name) {
        const std::string folder = testutil::BuildDir() + "\\load-" + name;
        CreateDirectoryA(folder.c_str(), nullptr);
        return folder;
    }
    peer::Options PeerOptions(const std::string& user) const {
        peer::Options options;
        options.host = "127.0.0.1";
        options.port = static_cast<std::uint16_t>(port);
        options.user = user;
        options.folder = PeerFolder(user);
        options.timeoutMs = 60000;
        DeleteFileA((options.folder + "\\" + fileName).c_str());
        return options;
    }
    // Every connection closed within `seconds`; then the loop runs a little longer for the
    // releases that are posted.
    // A connection still in the listener's backlog can be accepted during that time: the wait
    // goes on until none is open after it.
    bool Settled(double seconds) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            const double left =
                std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
            if (!Pump([this] { return window->Form().Connections() == 0; }, left > 0 ? left : 0))
                return false;
            Pump([] { return false; }, 0.5);
            if (window->Form().Connections() == 0)
                return true;
        }
    }

    std::unique_ptr<TBrenloFileserverWindow> window;
    std::mutex shownLock;
    std::vector<std::string> shown;
    std::string content;
    std::string fileName;
    int port = 0;
};

// ---- the flood
// ------------------------------------------------------------------------------------

struct FloodFigures {
    int attempted = 0;
    int connected = 0;       // the connection was established
    int neverConnected = 0;  // refused by the system's queue or still pending at the end
    double seconds = 0;
};

// Opens `count` connections at once from the loopback addresses 127.0.0.2 onwards, does to each
// what its number says, and closes all of them after the last has been dealt with (at most
// `seconds`).
FloodFigures Flood(int port, int count, double seconds) {
    const auto start = Clock::now();
    FloodFigures figures;
    struct Conn {
        SOCKET s = INVALID_SOCKET;
        int state = 0;  // 0 pending, 1 open, 2 done
    };
    std::vector<Conn> conns(static_cast<std::size_t>(count));
    const std::string junk = RandomBytes(300, 99);
    for (int i = 0; i < count; ++i) {
        Conn& c = conns[static_cast<std::size_t>(i)];
        c.s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (c.s == INVALID_SOCKET) {
            c.state = 2;
            ++figures.neverConnected;
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(c.s, FIONBIO, &nonBlocking);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7F000002u + static_cast<u_long>(i % 250));
        bind(c.s, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(c.s, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ++figures.attempted;
    }
    for (int pending = count; pending > 0 && SecondsSince(start) < seconds;) {
        pending = 0;
        for (int i = 0; i < count; ++i) {
            Conn& c = conns[static_cast<std::size_t>(i)];
            if (c.state != 0)
                continue;
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(c.s, &writable);
            FD_SET(c.s, &failed);
            timeval none{0, 0};
            if (select(0, nullptr, &writable, &failed, &none) <= 0) {
                ++pending;
                continue;
            }
            if (FD_ISSET(c.s, &failed)) {
                closesocket(c.s);
                c.state = 2;
                ++figures.neverConnected;
                continue;
            }
            ++figures.connected;
            c.state = 1;
            switch (i % 4) {
                case 0:
                    send(c.s, junk.data(), static_cast<int>(junk.size()), 0);
                    break;
                case 1:
                    send(c.s, "request fi", 10, 0);
                    break;
                case 2:
                    closesocket(c.s);
                    c.state = 2;
                    break;
                default:
                    break;  // silent, holds its place
            }
        }
        Sleep(10);
    }
    Sleep(300);
    for (Conn& c : conns) {
        if (c.state == 0)
            ++figures.neverConnected;
        if (c.state != 2)
            closesocket(c.s);
    }
    figures.seconds = SecondsSince(start);
    return figures;
}

TEST_F(FileServerLoad, AFloodOfAThousandConnectionsNeitherStopsADownloadNorLeavesAnythingBehind) {
    constexpr std::size_t kSize = 8 * 1024 * 1024;
    fileName = "flood-song.mp3";
    Serve(fileName, kSize);
    const Counts before = Take(*window);
    const auto start = Clock::now();
    auto user = std::make_unique<Confirmer>();
    auto probe = std::make_unique<LoopProbe>();

    peer::Options options = PeerOptions("Echter Peer");
    options.readSize = 16384;
    options.readDelayMs = 10;  // a peer on a slower line: the download spans the flood
    std::atomic<bool> downloading{false};
    std::atomic<bool> peerDone{false};
    peer::Result result;
    std::thread peerThread([&] {
        result = peer::Download(options, [&](std::int64_t bytes, std::int64_t) {
            if (bytes > 0)
                downloading = true;
        });
        peerDone = true;
    });
    ASSERT_TRUE(Pump([&] { return downloading.load() || peerDone.load(); }, 60));

    FloodFigures flood;
    std::atomic<bool> floodDone{false};
    std::thread floodThread([&] {
        flood = Flood(port, 1000, 40);
        floodDone = true;
    });
    const bool finished = Pump([&] { return floodDone && peerDone; }, 120);
    floodThread.join();
    peerThread.join();
    ASSERT_TRUE(finished);
    const bool settled = Settled(60);
    const long long longestWait = probe->LongestWaitMs();
    probe.reset();
    user.reset();
    const Counts after = Take(*window);
    const double total = SecondsSince(start);

    std::printf(
        "[ flood    ] %d connections tried in %.1f s: %d established, %d never "
        "established; closed at accept by the caps: %d\n",
        flood.attempted, flood.seconds, flood.connected, flood.neverConnected,
        window->Form().RefusedConnections());
    std::printf("[ flood    ] real peer: %s (%lld of %lld bytes)\n", result.message.c_str(),
                static_cast<long long>(result.bytes), static_cast<long long>(result.size));
    std::printf("[ flood    ] longest wait of the message loop: %lld ms\n", longestWait);
    std::printf("[ flood    ] before: %s\n[ flood    ] after:  %s\n", before.Text().c_str(),
                after.Text().c_str());
    std::printf("[ flood    ] took %.1f s\n", total);

    EXPECT_EQ(result.code, peer::kDone) << result.message;
    EXPECT_TRUE(ReadWholeFile(result.path) == content) << "the download differs";
    EXPECT_GT(window->Form().RefusedConnections(), 0);
    EXPECT_TRUE(settled);
    EXPECT_EQ(after, before);
    // The figure itself is the benchmark's (bench/flood_stall.sh); this only catches a loop that
    // stood still.
    EXPECT_LT(longestWait, 20000) << "the player's loop stood still";
    DeleteFileA(result.path.c_str());
}

// ---- the questions
// --------------------------------------------------------------------------------

// The download questions on the desktop now. A question asked inside the loop of another one is
// shown first; the one below it shows once its own loop runs again, so some may be hidden.
int OpenQuestions() {
    int n = 0;
    HWND dialog = nullptr;
    while ((dialog = FindWindowExA(nullptr, dialog, nullptr, kQuestionCaption)) != nullptr)
        ++n;
    return n;
}

TEST_F(FileServerLoad, TwelveRequestsAtOnceRaiseNoMoreThanThreeQuestionsAndTheRestWaitSilently) {
    fileName = "asked-song.mp3";
    Serve(fileName, 1000);
    const Counts before = Take(*window);
    constexpr int kPeers = 12;
    // The questions run nested message loops in this thread, so the peers and the user act
    // from a thread of their own, and this thread only runs its loop.
    std::atomic<bool> done{false};
    std::atomic<bool> allRead{false};  // every request read, and asked or put in line
    int connectedPeers = 0, most = 0, heardEarly = 0, refused = 0, declined = 0;
    std::thread others([&] {
        std::vector<SOCKET> peers;
        for (int i = 0; i < kPeers; ++i) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(0x7F000002u + static_cast<u_long>(i));
            bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(static_cast<u_short>(port));
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                closesocket(s);
                continue;
            }
            const std::string request = "request file:Frager " + std::to_string(i);
            send(s, request.data(), static_cast<int>(request.size()), 0);
            u_long nonBlocking = 1;
            ioctlsocket(s, FIONBIO, &nonBlocking);
            peers.push_back(s);
        }
        connectedPeers = static_cast<int>(peers.size());
        // Nobody answers until the server has dealt with every request: count the questions on
        // the desktop meanwhile; then no peer may have heard anything yet.
        const auto asked = Clock::now();
        while (!allRead && SecondsSince(asked) < 30) {
            most = std::max(most, OpenQuestions());
            Sleep(10);
        }
        most = std::max(most, OpenQuestions());
        for (SOCKET s : peers) {
            char buffer[64];
            heardEarly += recv(s, buffer, sizeof buffer, 0) > 0 ? 1 : 0;
        }
        // Then the user declines one question after the other, and each peer hears its answer.
        std::vector<bool> answered(peers.size(), false);
        const auto start = Clock::now();
        while (refused < connectedPeers && SecondsSince(start) < 60) {
            most = std::max(most, OpenQuestions());
            HWND dialog = FindWindowExA(nullptr, nullptr, nullptr, kQuestionCaption);
            if (dialog && IsWindowVisible(dialog)) {
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                ++declined;
            }
            for (std::size_t p = 0; p < peers.size(); ++p) {
                char buffer[64] = {};
                if (!answered[p] && recv(peers[p], buffer, sizeof buffer - 1, 0) > 0) {
                    answered[p] = true;
                    refused += std::string(buffer) == "connectionrefused" ? 1 : 0;
                }
            }
            Sleep(50);
        }
        // Whatever happened, no question is left for this thread's loop to hang in.
        for (HWND d; (d = FindWindowExA(nullptr, nullptr, nullptr, kQuestionCaption)) != nullptr;) {
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            Sleep(50);
            if (SecondsSince(start) > 90)
                break;
        }
        for (SOCKET s : peers)
            closesocket(s);
        done = true;
    });
    const bool finished = Pump(
        [&] {
            if (window->Form().OpenQuestions() + window->Form().WaitingRequests() == kPeers)
                allRead = true;
            return done.load();
        },
        120);
    others.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(allRead) << "not every request was asked or put in line";
    const bool settled = Settled(10);
    const Counts after = Take(*window);
    std::printf(
        "[ asked    ] %d requests at once: at most %d questions open, %d heard anything "
        "before their question, %d declined and refused\n",
        connectedPeers, most, heardEarly, refused);
    EXPECT_EQ(connectedPeers, kPeers);
    EXPECT_EQ(most, 3) << "questions open at once";
    EXPECT_EQ(heardEarly, 0) << "a peer heard from the server before its question";
    EXPECT_EQ(refused, kPeers);
    EXPECT_GE(declined, kPeers);
    EXPECT_TRUE(settled);
    EXPECT_EQ(after, before) << before.Text() << " / " << after.Text();
}

// ---- the soak ----------------------------------------------------------------------------------

// The seed of the soak's random choices: BP_SOAK_SEED when set (a number), else a fixed one.
unsigned SoakSeed() {
    char text[32] = {};
    const DWORD n = GetEnvironmentVariableA("BP_SOAK_SEED", text, sizeof text);
    if (n > 0 && n < sizeof text) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(text, &end, 10);
        if (end != text && *end == '\0')
            return static_cast<unsigned>(value);
        std::printf("[ soak     ] BP_SOAK_SEED=%s is no number; the fixed seed is used\n", text);
    }
    return 20241;
}

TEST_F(FileServerLoad, TwentyPeersWithAThirdBreakingOffGetByteIdenticalFilesAndNothingIsLeft) {
    constexpr std::size_t kSize = 10 * 1024 * 1024;
    constexpr int kPeers = 20;
    fileName = "soak-song.mp3";
    Serve(fileName, kSize);
    const Counts before = Take(*window);
    const auto start = Clock::now();
    auto user = std::make_unique<Confirmer>();
    auto probe = std::make_unique<LoopProbe>();

    // A random third break off, half by a reset and half by "fuck off", somewhere mid-stream.
    const unsigned seed = SoakSeed();
    std::printf("[ soak     ] seed %u (BP_SOAK_SEED=%u replays this run)\n", seed, seed);
    std::fflush(stdout);
    std::mt19937 random(seed);
    std::vector<int> order(kPeers);
    for (int i = 0; i < kPeers; ++i)
        order[static_cast<std::size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), random);
    std::vector<peer::Options> options;
    for (int i = 0; i < kPeers; ++i)
        options.push_back(PeerOptions("soak" + std::to_string(i)));
    for (int k = 0; k < kPeers / 3; ++k) {
        peer::Options& o = options[static_cast<std::size_t>(order[static_cast<std::size_t>(k)])];
        const std::int64_t at =
            512 * 1024 + static_cast<std::int64_t>(random() % (kSize - 1024 * 1024));
        (k % 2 ? o.cancelAfter : o.resetAfter) = at;
    }

    // All peers come from one address, so they run a few at a time, one place below the
    // address's cap of 4. A peer whose place is still held by the closing connection before it
    // is turned away at accept and tries again a moment later, as a user would.
    constexpr int kAtOnce = 3;
    std::vector<peer::Result> results(kPeers);
    std::atomic<int> next{0};
    std::atomic<int> running{kAtOnce};
    std::atomic<int> retries{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kAtOnce; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; (i = next++) < kPeers;) {
                const auto index = static_cast<std::size_t>(i);
                for (int attempt = 0; attempt < 5; ++attempt) {
                    results[index] = peer::Download(options[index]);
                    if (results[index].code != peer::kWasRefused)
                        break;
                    ++retries;
                    Sleep(200);
                }
            }
            --running;
        });
    }
    const bool finished = Pump([&] { return running == 0; }, 300);
    for (std::thread& w : workers)
        w.join();
    ASSERT_TRUE(finished);
    const bool settled = Settled(60);
    const long long longestWait = probe->LongestWaitMs();
    probe.reset();
    user.reset();
    const Counts after = Take(*window);

    int completed = 0, brokenOff = 0;
    for (int i = 0; i < kPeers; ++i) {
        const peer::Options& o = options[static_cast<std::size_t>(i)];
        const peer::Result& r = results[static_cast<std::size_t>(i)];
        SCOPED_TRACE("peer " + std::to_string(i) + ": " + r.message);
        if (o.resetAfter >= 0 || o.cancelAfter >= 0) {
            EXPECT_TRUE(r.code == peer::kResetDone || r.code == peer::kCancelled);
            ++brokenOff;
        } else {
            EXPECT_EQ(r.code, peer::kDone);
            EXPECT_TRUE(ReadWholeFile(r.path) == content) << "the download differs";
            completed += r.code == peer::kDone ? 1 : 0;
        }
        if (!r.path.empty())
            DeleteFileA(r.path.c_str());
    }
    std::printf("[ soak     ] %d peers (seed %u): %d completed byte-identical, %d broke off\n",
                kPeers, seed, completed, brokenOff);
    std::printf("[ soak     ] turned away at accept and tried again: %d; closed by the caps: %d\n",
                retries.load(), window->Form().RefusedConnections());
    std::printf("[ soak     ] longest wait of the message loop: %lld ms\n", longestWait);
    std::printf("[ soak     ] before: %s\n[ soak     ] after:  %s\n", before.Text().c_str(),
                after.Text().c_str());
    std::printf("[ soak     ] took %.1f s\n", SecondsSince(start));
    EXPECT_EQ(completed, kPeers - kPeers / 3);
    EXPECT_TRUE(settled);
    EXPECT_EQ(after, before);
}

}  // namespace
