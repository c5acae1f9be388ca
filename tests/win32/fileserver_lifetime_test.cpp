// The plug-in DLL in a host process while peers download: download questions are windows of
// their own, answered in any order, and the host may quit or unload the library at any moment
// (a question open, a stream running) and go on running its own message loop.
#include <windows.h>
#include <winsock2.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "announce/announcer.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "echo_service_util.h"
#include "fileshare/u_brenlofileserver_ids.h"
#include "plugin/STNDGenPlugStructures.h"
#include "plugin/STNDwinamp20.h"
#include "process_util.h"
#include "taskbar_standin_util.h"

namespace {

using testutil::PumpFor;
using testutil::PumpUntil;

// ---- the host: a player window that quits from its own timer -----------------------------------

constexpr UINT_PTR kQuitTimerId = 77;

struct Host {
    bool playing = false;
    std::string file;
    std::string title = "Artist - Song";
    winampGeneralPurposePlugin* record = nullptr;  // whom the quit timer quits
    bool quitDone = false;
};
Host g_host;

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER) {
        switch (lParam) {
            case winamp::IPC_GETOUTPUTTIME:
                return !g_host.playing ? -1 : wParam == 0 ? 1000 : 185;
            case winamp::IPC_GETLISTPOS:
                return 0;
            case winamp::IPC_GETINFO:
                return 128;
            case winamp::IPC_GETPLAYLISTFILE:
                return reinterpret_cast<LRESULT>(g_host.file.c_str());
            case winamp::IPC_GETPLAYLISTTITLE:
                return reinterpret_cast<LRESULT>(g_host.title.c_str());
        }
        return 0;
    }
    if (msg == WM_APP)
        return 7;
    if (msg == WM_TIMER && wParam == kQuitTimerId) {
        // As a real player quits its plug-ins from its window procedure, whatever is open.
        KillTimer(hwnd, kQuitTimerId);
        if (g_host.record) {
            g_host.record->quit();
            g_host.quitDone = true;
        }
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Runs the thread's messages for `ms`, but counts instead of dispatching every message that
// would call code of an unloaded image at [base, base + size): one for a window whose procedure
// lies there, and any thread timer (this thread sets none of its own; the system may show a
// timer's procedure only as a handle, and swallows a fault in it, so only a count shows it).
int PumpCountingStrays(DWORD ms, const void* base, SIZE_T size) {
    const auto inImage = [&](LONG_PTR address) {
        const auto at = static_cast<ULONG_PTR>(address);
        const auto from = reinterpret_cast<ULONG_PTR>(base);
        return at >= from && at - from < size;
    };
    int strays = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            const bool strayTimer = msg.message == WM_TIMER && msg.hwnd == nullptr;
            const bool strayWindow =
                msg.hwnd && (inImage(GetWindowLongPtrA(msg.hwnd, GWLP_WNDPROC)) ||
                             inImage(GetWindowLongPtrA(msg.hwnd, DWLP_DLGPROC)));
            if (strayTimer || strayWindow) {
                ++strays;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return strays;
}

// ---- the download questions of this thread ---------------------------------------------------

BOOL CALLBACK CollectQuestion(HWND hwnd, LPARAM param) {
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (std::string(cls) == "#32770" && IsWindowVisible(hwnd) && GetDlgItem(hwnd, fsid::Label1) &&
        GetDlgItem(hwnd, fsid::OKBtn) && GetDlgItem(hwnd, fsid::CancelBtn))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> OpenQuestions() {
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), CollectQuestion, reinterpret_cast<LPARAM>(&found));
    return found;
}

// ---- the file-server window and its tray icon ------------------------------------------------

HWND FileServerWindow() {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, nullptr, "BrenloPlug FileServer")) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(found, &process);
        if (process == GetCurrentProcessId())
            return found;
    }
    return nullptr;
}

// ---- a downloading peer on a thread of its own
// ---------------------------------------------------

struct Peer {
    // `readPauseMs` slows the reading down, so that a stream is still running when wanted.
    Peer(int port, std::string name, int readPauseMs = 0)
        : port_(port), name_(std::move(name)), pause_(readPauseMs) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer() {
        stop = true;
        if (thread_.joinable())
            thread_.join();
    }

    std::atomic<bool> stop{false};
    std::atomic<bool> connected{false};
    std::atomic<bool> offered{false};
    std::atomic<bool> refused{false};
    std::atomic<bool> closedByServer{false};
    std::atomic<bool> finished{false};
    std::atomic<long long> size{-1};
    std::atomic<long long> received{0};

    bool Complete() const { return size >= 0 && received == size; }

  private:
    void Run() {
        SOCKET s = INVALID_SOCKET;
        const DWORD start = GetTickCount();
        for (;;) {
            s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<u_short>(port_));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                break;
            closesocket(s);
            s = INVALID_SOCKET;
            if (stop || GetTickCount() - start > 20000)
                break;
            Sleep(50);  // the listener opens with the announcement
        }
        if (s != INVALID_SOCKET) {
            connected = true;
            Talk(s);
            closesocket(s);
        }
        finished = true;
    }
    // Waits for what the server says while `stop` is not set; the text, empty when closed.
    std::string Receive(SOCKET s, int most) {
        std::vector<char> buffer(static_cast<std::size_t>(most));
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            timeval wait{0, 50000};
            const int ready = select(0, &readable, nullptr, nullptr, &wait);
            if (ready < 0)
                return {};
            if (ready == 0) {
                if (stop)
                    return {};
                continue;
            }
            const int n = recv(s, buffer.data(), most, 0);
            if (n <= 0) {
                closedByServer = true;
                return {};
            }
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
    }
    void Talk(SOCKET s) {
        const std::string request = "request file:" + name_;
        send(s, request.data(), static_cast<int>(request.size()), 0);
        const std::string offer = Receive(s, 256);
        if (offer == "connectionrefused") {
            refused = true;
            Receive(s, 256);  // until the server closes
            return;
        }
        if (offer.rfind("request sendfile:", 0) != 0)
            return;
        size = std::atoll(offer.c_str() + 17);
        offered = true;
        send(s, "ok sendfile", 11, 0);
        while (!stop && received < size) {
            const std::string piece = Receive(s, 64 * 1024);
            if (piece.empty())
                return;
            received += static_cast<long long>(piece.size());
            if (pause_)
                Sleep(static_cast<DWORD>(pause_));
        }
        // Connected until the server closes or the test is done.
        Receive(s, 256);
    }

    int port_;
    std::string name_;
    int pause_;
    std::thread thread_;
};

// ---- a peer that this thread drives step by step ----------------------------------------------

// A connection to the file server whose every step the test takes itself, pumping the host's
// messages while it waits, so that it can act between the exchange's steps.
struct SteppedPeer {
    explicit SteppedPeer(int port) {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
    }
    ~SteppedPeer() { closesocket(s); }
    void Say(const std::string& text) { send(s, text.data(), static_cast<int>(text.size()), 0); }
    // Collects what the server sends until `received` holds `size` bytes or the server closed.
    void ReceiveUntil(std::size_t size) {
        PumpUntil([&] {
            char buffer[65536];
            for (;;) {
                const int n = recv(s, buffer, sizeof buffer, 0);
                if (n > 0) {
                    received.append(buffer, static_cast<std::size_t>(n));
                    continue;
                }
                closed = closed || n == 0;
                break;
            }
            return closed || received.size() >= size;
        });
    }
    SOCKET s = INVALID_SOCKET;
    bool connected = false;
    bool closed = false;
    std::string received;
};

// ---- the fixture --------------------------------------------------------------------------------

class FileServerLifetime : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }

    void SetUp() override {
        g_host = Host{};
        WNDCLASSA wc = {};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "BrenloQuestionsHost";
        RegisterClassA(&wc);
        host = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                               nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(host, nullptr);

        // Sharing on, on a port of this test; no address lookup (an echo host without a name
        // asks nobody), so that no helper thread of the plug-in keeps its module.
        port = testutil::FreeLoopbackPort();
        SetSettingsRegistry(&WindowsRegistry());
        PluginSettings = TPluginSettings{};
        PluginSettings.general.enablechat = true;
        PluginSettings.aol.enableaol = true;
        PluginSettings.aol.aolfs = true;
        PluginSettings.aol.fsport = std::to_string(port);
        SaveSettings();
        SetSettingsRegistry(nullptr);
        HKEY fs = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kProductKey) + "\\fs").c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &fs, nullptr),
                  ERROR_SUCCESS);
        const char noHost[] = ":1";
        RegSetValueExA(fs, "echohost", 0, REG_SZ, reinterpret_cast<const BYTE*>(noHost),
                       sizeof noHost);
        RegCloseKey(fs);
    }

    void TearDown() override {
        peers.clear();
        g_host.record = nullptr;
        if (dll) {
            if (record)
                record->quit();
            FreeLibrary(dll);
        }
        DestroyWindow(host);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
    }

    // Loads the DLL, runs the host's part up to init and announces a song of `bytes` bytes:
    // the file server then serves it on `port`.
    // (A song that an abandoned plug-in of an earlier test still holds cannot be written again:
    // each test that reads the bytes serves a song of its own name.)
    void LoadAndAnnounce(std::size_t bytes, const std::string& name = "lifetime song.mp3") {
        std::string song(bytes, '\0');
        for (std::size_t i = 0; i < song.size(); ++i)
            song[i] = static_cast<char>((i * 2654435761u) >> 13);
        g_host.file = testutil::TempFile(name, song);
        songBytes = song;
        ASSERT_TRUE(testutil::WaitUntilPluginUnmapped()) << "an earlier test still holds the DLL";
        dll = LoadLibraryA(testutil::PluginDll().c_str());
        ASSERT_NE(dll, nullptr);
        using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
        auto get = reinterpret_cast<GetPlugin>(
            reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
        ASSERT_NE(get, nullptr);
        record = get();
        record->hwndParent = host;
        record->hDllInstance = dll;
        ASSERT_EQ(record->init(), 0);
        // A song ends and the next starts: the announcement moves the listener to `port`.
        g_host.playing = false;
        SendMessageA(host, WM_TIMER, winamp::kStopWatchTimerId, 0);
        g_host.playing = true;
        SendMessageA(host, WM_TIMER, 43, 0);
        PumpFor(100);
    }

    Peer& Connect(const std::string& name, int readPauseMs = 0) {
        peers.push_back(std::make_unique<Peer>(port, name, readPauseMs));
        return *peers.back();
    }

    // A slow peer ("Streamer") whose download of a 10 MiB song the user allowed, once its first
    // 256 KiB have arrived; null when it did not get that far.
    static constexpr std::size_t kStreamedSong = 10 * 1024 * 1024;
    Peer* StartStream() {
        LoadAndAnnounce(kStreamedSong);
        Peer& peer = Connect("Streamer", 20);
        HWND question = WaitForQuestion("Streamer");
        if (question == nullptr)
            return nullptr;
        SendMessageA(GetDlgItem(question, fsid::OKBtn), BM_CLICK, 0, 0);
        return PumpUntil([&] { return peer.received > 256 * 1024; }) ? &peer : nullptr;
    }

    // The question that opens next (the peers ask one after the other), or null.
    HWND WaitForQuestion(const std::string& user) {
        SCOPED_TRACE("the question for " + user);
        // A handle of a question that is gone may come back for a new one.
        asked.erase(std::remove_if(asked.begin(), asked.end(), [](HWND q) { return !IsWindow(q); }),
                    asked.end());
        HWND question = nullptr;
        PumpUntil([&] {
            for (HWND q : OpenQuestions())
                if (std::find(asked.begin(), asked.end(), q) == asked.end())
                    question = q;
            return question != nullptr;
        });
        if (question)
            asked.push_back(question);
        return question;
    }

    void Quit() {
        record->quit();
        record = nullptr;
    }
    void Unload() {
        FreeLibrary(dll);
        dll = nullptr;
        record = nullptr;
    }
    bool Mapped() const { return GetModuleHandleA(testutil::PluginDll().c_str()) != nullptr; }

    testutil::StandInTaskbar taskbar;
    HWND host = nullptr;
    HMODULE dll = nullptr;
    winampGeneralPurposePlugin* record = nullptr;
    int port = 0;
    std::string songBytes;  // what LoadAndAnnounce serves
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<HWND> asked;  // the questions seen so far
};

TEST_F(FileServerLifetime, QuitWithAQuestionOpenClosesItAndThePeerAndTheHostGoesOn) {
    const struct {
        const char* how;
        bool fromHostTimer;
    } cases[] = {
        {"the player's window procedure quits on its timer", true},
        {"the host quits outside any handler", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        LoadAndAnnounce(100000);
        Peer& peer = Connect("Asker");
        HWND question = WaitForQuestion("Asker");
        ASSERT_NE(question, nullptr) << "no question came up";
        if (c.fromHostTimer) {
            g_host.record = record;
            SetTimer(host, kQuitTimerId, 50, nullptr);
            ASSERT_TRUE(PumpUntil([] { return g_host.quitDone; }));
            g_host.record = nullptr;
            record = nullptr;
        } else {
            Quit();
        }
        EXPECT_FALSE(IsWindow(question)) << "the question went with the plug-in";
        Unload();
        EXPECT_FALSE(Mapped()) << "nothing of ours keeps the module";
        // The host goes on with its loop; the asking peer's connection is closed.
        ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
        EXPECT_TRUE(peer.closedByServer);
        EXPECT_FALSE(peer.offered);
        PumpFor(300);
        EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7) << "the host window has its procedure";
        EXPECT_TRUE(OpenQuestions().empty());
        peers.clear();
        g_host.quitDone = false;
    }
}

TEST_F(FileServerLifetime, QuitWhileAStreamRunsAndTheAddressLookupHangsEndsBothAndTheHostGoesOn) {
    // The address service takes the request and never answers.
    testutil::EchoServiceProcess service("silent");
    ASSERT_NE(service.Port(), 0);
    HKEY fs = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kProductKey) + "\\fs").c_str(), 0,
                            KEY_ALL_ACCESS, &fs),
              ERROR_SUCCESS);
    const std::string hostPort = service.HostPort();
    for (const char* name : {"echohost", "webhost"})
        RegSetValueExA(fs, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(hostPort.c_str()),
                       static_cast<DWORD>(hostPort.size() + 1));
    RegCloseKey(fs);

    constexpr std::size_t kSong = kStreamedSong;
    Peer* streaming = StartStream();
    ASSERT_NE(streaming, nullptr) << "the download did not start";
    Peer& peer = *streaming;

    // The next song starts: its announcement asks the service, which keeps it waiting.
    const auto requests = [&] {
        const std::string out = service.Output();
        int n = 0;
        for (std::size_t at = out.find("request GET"); at != std::string::npos;
             at = out.find("request GET", at + 1))
            ++n;
        return n;
    };
    const int before = requests();
    g_host.playing = false;
    SendMessageA(host, WM_TIMER, winamp::kStopWatchTimerId, 0);
    g_host.playing = true;
    SendMessageA(host, WM_TIMER, 43, 0);
    ASSERT_TRUE(PumpUntil([&] { return requests() > before; })) << service.Output();
    ASSERT_LT(peer.received, static_cast<long long>(kSong)) << "the stream ended too soon";

    const ULONGLONG start = GetTickCount64();
    Quit();
    EXPECT_LT(GetTickCount64() - start, 2 * static_cast<ULONGLONG>(TAnnouncer::kStopBound.count()))
        << "the quit waited for the hanging lookup";
    Unload();
    EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7) << "the host window has its procedure";
    ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    EXPECT_TRUE(peer.closedByServer) << "the quit ends the stream";
    EXPECT_LT(peer.received, static_cast<long long>(kSong));
    // The lookup's worker ends on its own time-out and lets the image go.
    EXPECT_TRUE(testutil::WaitUntilPluginUnmapped());
}

TEST_F(FileServerLifetime, QuestionsAreAnsweredInAnyOrderAndTheCloseBoxOrEscapeMeanNo) {
    LoadAndAnnounce(300000);
    Peer& a = Connect("Anna");
    HWND questionA = WaitForQuestion("Anna");
    ASSERT_NE(questionA, nullptr);
    Peer& b = Connect("Ben");
    HWND questionB = WaitForQuestion("Ben");
    ASSERT_NE(questionB, nullptr);
    EXPECT_EQ(GetWindow(questionA, GW_OWNER), GetWindow(questionB, GW_OWNER));
    EXPECT_NE(GetWindow(questionA, GW_OWNER), nullptr) << "owned by the file-server window";

    // Anna's yes takes effect at once, though Ben's question, asked later, is still open.
    SendMessageA(GetDlgItem(questionA, fsid::OKBtn), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(questionA));
    ASSERT_TRUE(PumpUntil([&] { return a.Complete(); })) << a.received << " of " << a.size;
    EXPECT_EQ(a.size, 300000);
    EXPECT_TRUE(IsWindowVisible(questionB)) << "Ben is still being asked";
    EXPECT_FALSE(b.offered || b.refused);
    SendMessageA(GetDlgItem(questionB, fsid::CancelBtn), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return b.finished.load(); }));
    EXPECT_TRUE(b.refused);

    // Closing a question any other way is a no.
    const struct {
        const char* name;
        std::function<void(HWND)> close;
    } noWays[] = {
        {"Cleo", [](HWND q) { PostMessageA(q, WM_CLOSE, 0, 0); }},
        {"Dora",
         [](HWND q) {
             // Escape typed into the question (its focus is on a button).
             HWND button = GetDlgItem(q, fsid::OKBtn);
             PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
             PostMessageA(button, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
         }},
    };
    for (const auto& way : noWays) {
        SCOPED_TRACE(way.name);
        Peer& peer = Connect(way.name);
        HWND question = WaitForQuestion(way.name);
        ASSERT_NE(question, nullptr);
        way.close(question);
        ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
        EXPECT_TRUE(peer.refused);
        EXPECT_FALSE(IsWindow(question));
    }
    EXPECT_TRUE(OpenQuestions().empty());
}

TEST_F(FileServerLifetime, UnloadWithoutQuitWhileAStreamRunsLeavesNothingThatCallsTheLostImage) {
    constexpr std::size_t kSong = kStreamedSong;
    Peer* streaming = StartStream();
    ASSERT_NE(streaming, nullptr) << "the download did not start";
    Peer& peer = *streaming;
    ASSERT_LT(peer.received, static_cast<long long>(kSong)) << "the stream ended too soon";

    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(dll);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dll) +
                                                               dos->e_lfanew);
    void* const base = dll;
    const SIZE_T size = nt->OptionalHeader.SizeOfImage;
    HWND window = FileServerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(testutil::ShellHoldsIcon(window)) << "sharing is on: the tray icon is shown";
    // A stream that is not held up by its peer posts its next slice every few milliseconds, so
    // a host usually unloads with one queued: here each socket window of ours has one.
    int socketWindows = 0;
    for (HWND w = nullptr; (w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr;) {
        DWORD process = 0;
        GetWindowThreadProcessId(w, &process);
        char cls[64] = {};
        GetClassNameA(w, cls, sizeof cls);
        if (process == GetCurrentProcessId() &&
            std::string(cls).rfind("TBrenloSocketWindow", 0) == 0) {
            PostMessageA(w, WM_USER + 5, 0, 0);
            ++socketWindows;
        }
    }
    EXPECT_GE(socketWindows, 2) << "the listener's and the stream's";
    Unload();  // no quit
    ASSERT_FALSE(Mapped());
    EXPECT_FALSE(testutil::ShellHoldsIcon(window)) << "the tray icon outlived the image";
    // The image's place is taken, so that a stray call into it faults instead of finding
    // whatever comes there next.
    void* reserved = VirtualAlloc(base, size, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_EQ(reserved, base) << "the image's range is still in use";
    EXPECT_EQ(PumpCountingStrays(1000, base, size), 0)
        << "messages of the unloaded plug-in's windows or timers were still coming";
    EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7);
    ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    EXPECT_TRUE(peer.closedByServer) << "the unload closes the connection";
    VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST_F(FileServerLifetime, ALoadAfterAQuitThatLeftTheImageMappedStartsAfresh) {
    LoadAndAnnounce(1000);
    // Something else holds the library (as a helper thread of ours may): the host's quit and
    // unload leave the image mapped.
    HMODULE held = LoadLibraryA(testutil::PluginDll().c_str());
    ASSERT_EQ(held, dll);
    Quit();
    Unload();
    ASSERT_TRUE(Mapped());
    EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7);

    // The host loads it again: the plug-in comes up as on a first load and serves.
    dll = LoadLibraryA(testutil::PluginDll().c_str());
    ASSERT_EQ(dll, held);
    FreeLibrary(held);
    using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
    record = get();
    record->hwndParent = host;
    record->hDllInstance = dll;
    ASSERT_EQ(record->init(), 0);
    EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(host, GWLP_WNDPROC)), HostProc)
        << "init hooks the host window again";
    g_host.playing = false;
    SendMessageA(host, WM_TIMER, winamp::kStopWatchTimerId, 0);
    g_host.playing = true;
    SendMessageA(host, WM_TIMER, 43, 0);
    Peer& peer = Connect("Again");
    EXPECT_NE(WaitForQuestion("Again"), nullptr) << "the second load serves";
    Quit();
    Unload();
    ASSERT_TRUE(PumpUntil([&] { return peer.finished.load(); }));
    EXPECT_FALSE(Mapped());
}

TEST_F(FileServerLifetime, AfterTheTaskbarIsCreatedAnewTheTrayIconIsAddedAgain) {
    LoadAndAnnounce(1000);
    HWND window = FileServerWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(testutil::ShellHoldsIcon(window)) << "sharing is on: the tray icon is shown";
    // Explorer restarts: its new taskbar holds none of the old icons and tells every window.
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 0;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
    ASSERT_FALSE(testutil::ShellHoldsIcon(window));
    SendMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(testutil::ShellHoldsIcon(window));
    // Told again while the icon is there, it stays one icon.
    SendMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(testutil::ShellHoldsIcon(window));
    Quit();
    EXPECT_FALSE(testutil::ShellHoldsIcon(window)) << "the quit takes the icon along";
}

TEST_F(FileServerLifetime, ARequestAndAnOkCutInTwoAreUnderstood) {
    LoadAndAnnounce(50000, "cut song.mp3");
    const std::string offer = "request sendfile:50000-cut song.mp3";
    const struct {
        const char* request[2];
        const char* ok[2];
    } cuts[] = {
        {{"request f", "ile:Cutter"}, {"ok se", "ndfile"}},
        {{"request file:", "Cutter"}, {"o", "k sendfile"}},
    };
    for (const auto& cut : cuts) {
        SCOPED_TRACE(std::string(cut.request[0]) + "|" + cut.request[1]);
        SteppedPeer peer(port);
        ASSERT_TRUE(peer.connected);
        peer.Say(cut.request[0]);
        PumpFor(300);  // the first piece is read on its own
        peer.Say(cut.request[1]);
        HWND question = WaitForQuestion("Cutter");
        ASSERT_NE(question, nullptr) << "the cut request was not understood";
        SendMessageA(GetDlgItem(question, fsid::OKBtn), BM_CLICK, 0, 0);
        peer.ReceiveUntil(offer.size());
        ASSERT_EQ(peer.received, offer);
        peer.Say(cut.ok[0]);
        PumpFor(300);
        peer.Say(cut.ok[1]);
        peer.ReceiveUntil(offer.size() + songBytes.size());
        EXPECT_TRUE(peer.received == offer + songBytes) << "the cut \"ok sendfile\" was ignored";
    }
}

TEST_F(FileServerLifetime, TheOfferedFileIsTheStreamedFileThoughItIsRewrittenMeanwhile) {
    LoadAndAnnounce(60000, "tagged song.mp3");
    const std::string offer = "request sendfile:60000-tagged song.mp3";
    SteppedPeer peer(port);
    ASSERT_TRUE(peer.connected);
    peer.Say("request file:Tagger");
    HWND question = WaitForQuestion("Tagger");
    ASSERT_NE(question, nullptr);
    SendMessageA(GetDlgItem(question, fsid::OKBtn), BM_CLICK, 0, 0);
    peer.ReceiveUntil(offer.size());
    ASSERT_EQ(peer.received, offer);

    // Between the offer and the start, a tag editor rewrites the song shorter. The rewrite is
    // denied while the file is being served; if it went through, the old bytes must still come.
    HANDLE file = CreateFileA(g_host.file.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD openError = GetLastError();
    bool rewritten = false;
    if (file != INVALID_HANDLE_VALUE) {
        const char tag[] = "TAG";
        DWORD written = 0;
        rewritten = WriteFile(file, tag, sizeof tag, &written, nullptr) && SetEndOfFile(file);
        CloseHandle(file);
    }
    EXPECT_FALSE(rewritten) << "the served file could be rewritten";
    if (!rewritten) {
        EXPECT_EQ(openError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    peer.Say("ok sendfile");
    peer.ReceiveUntil(offer.size() + songBytes.size());
    EXPECT_EQ(peer.received.size(), offer.size() + songBytes.size());
    EXPECT_TRUE(peer.received == offer + songBytes) << "other bytes than the offered ones came";
}

}  // namespace
