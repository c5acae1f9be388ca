// The player watcher on a real window: subclassing, forwarding, song detection from real timer
// messages, failures inside the song handler, and release with and without a subclass above ours.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"
#include "common/system_calls_win32.h"
#include "plugin/STNDwinamp20.h"
#include "plugin/u_genWAControl.h"
#include "plugin/u_genWAControl_win32.h"

namespace {

struct HostState {
    LRESULT position = -1;
    LRESULT length = -1;
    std::string file = "C:\\Music\\Nena - 99 Luftballons.mp3";
    std::string title = "Nena - 99 Luftballons";
    std::vector<UINT> seen;  // messages that reached the host's own procedure (besides queries)
};
HostState g_host;

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER) {
        switch (lParam) {
            case winamp::IPC_GETOUTPUTTIME:
                return wParam == 0 ? g_host.position : g_host.length;
            case winamp::IPC_GETLISTPOS:
                return 3;
            case winamp::IPC_GETINFO:
                return 128;
            case winamp::IPC_GETPLAYLISTFILE:
                return wParam == 3 ? reinterpret_cast<LRESULT>(g_host.file.c_str()) : 0;
            case winamp::IPC_GETPLAYLISTTITLE:
                return wParam == 3 ? reinterpret_cast<LRESULT>(g_host.title.c_str()) : 0;
        }
        return 0;
    }
    if (msg == WM_TIMER || msg == WM_APP || msg == WM_NCDESTROY)
        g_host.seen.push_back(msg);
    if (msg == WM_APP)
        return 0x4242;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Somebody else's subclass, installed above ours.
WNDPROC g_belowOther = nullptr;
int g_otherCalls = 0;
LRESULT CALLBACK OtherSubclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ++g_otherCalls;
    return CallWindowProcA(g_belowOther, hwnd, msg, wParam, lParam);
}

WNDPROC CurrentProc(HWND hwnd) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
}

struct WatcherHook : testing::Test {
    HWND window = nullptr;
    std::unique_ptr<TWinampControl> watcher;
    std::vector<TSongInfo> songs;
    std::vector<std::string> errors;

    void SetUp() override {
        g_host = HostState{};
        g_otherCalls = 0;
        WNDCLASSA wc = {};
        wc.lpfnWndProc = HostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "BrenloTestHost";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "BrenloTestHost", "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        watcher = std::make_unique<TWinampControl>(InstallWin32HostHook);
        watcher->OnSongChange = [this](const TSongInfo& s) { songs.push_back(s); };
        watcher->Hook(window);
        SetErrorDisplay([this](const std::string& m) { errors.push_back(m); });
    }
    void TearDown() override {
        watcher.reset();
        if (window)
            DestroyWindow(window);
        SetErrorDisplay(nullptr);
    }

    void Timer(WPARAM id, LRESULT position, LRESULT length) {
        g_host.position = position;
        g_host.length = length;
        SendMessageA(window, WM_TIMER, id, 0);
    }
};

TEST_F(WatcherHook, DetectsAStopThenPlayFromTheHostsTimerMessagesAndForwardsThem) {
    ASSERT_NE(CurrentProc(window), HostProc) << "hooked";
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242) << "results come back from the host";
    Timer(43, 500, 185);  // playing at hook time: not announced
    Timer(42, -1, -1);
    Timer(43, 0, 185);
    Timer(43, 150, 185);
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0].FileName, "C:\\Music\\Nena - 99 Luftballons.mp3");
    EXPECT_EQ(songs[0].Title, "Nena - 99 Luftballons");
    EXPECT_EQ(songs[0].Bitrate, 128);
    EXPECT_EQ(songs[0].Length, 185);
    EXPECT_EQ(g_host.seen, (std::vector<UINT>{WM_APP, WM_TIMER, WM_TIMER, WM_TIMER, WM_TIMER}));
}

TEST_F(WatcherHook, AFailingSongHandlerIsReportedAndTheTimerStillReachesTheHost) {
    watcher->OnSongChange = [](const TSongInfo&) { throw EBrenloError("kaputt"); };
    Timer(42, -1, -1);
    Timer(43, 0, 185);
    EXPECT_EQ(errors, (std::vector<std::string>{"kaputt"}));
    EXPECT_EQ(g_host.seen.size(), 2u);
}

TEST_F(WatcherHook, ReleaseOnTopPutsTheHostsProcedureBack) {
    watcher.reset();
    EXPECT_EQ(CurrentProc(window), HostProc);
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242);
}

TEST_F(WatcherHook, ReleaseUnderAnotherSubclassLeavesAForwarderUntilTheWindowGoes) {
    g_belowOther = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OtherSubclass)));
    watcher.reset();
    EXPECT_EQ(CurrentProc(window), OtherSubclass) << "the subclass above is left in place";
    Timer(42, -1, -1);
    Timer(43, 0, 185);
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242);
    EXPECT_EQ(g_host.seen.size(), 3u) << "everything still reaches the host";
    EXPECT_TRUE(songs.empty()) << "a released watcher announces nothing";

    // The other subclass leaves as it came: it puts our forwarder back, which still forwards.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_belowOther));
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242);

    // A new watcher takes the forwarder up again.
    watcher = std::make_unique<TWinampControl>(InstallWin32HostHook);
    watcher->OnSongChange = [this](const TSongInfo& s) { songs.push_back(s); };
    watcher->Hook(window);
    Timer(42, -1, -1);
    Timer(43, 0, 185);
    EXPECT_EQ(songs.size(), 1u);
    watcher.reset();
    EXPECT_EQ(CurrentProc(window), HostProc);
}

TEST_F(WatcherHook, AWatcherFreedByItsOwnSongHandlerStillPassesTheMessageOn) {
    watcher->OnSongChange = [this](const TSongInfo& s) {
        songs.push_back(s);
        watcher.reset();  // the host quits from a message loop inside the announcement
    };
    Timer(42, -1, -1);
    Timer(43, 0, 185);
    EXPECT_EQ(songs.size(), 1u);
    EXPECT_EQ(g_host.seen.size(), 2u);
    EXPECT_EQ(CurrentProc(window), HostProc);
}

int g_moduleCalls = 0;
BOOL WINAPI CountingModuleHandle(DWORD flags, LPCSTR address, HMODULE* module) {
    ++g_moduleCalls;
    return GetModuleHandleExA(flags, address, module);
}

TEST_F(WatcherHook, AWindowDestroyedWhileHookedLeavesTheWatcherSafeToFree) {
    Timer(42, -1, -1);  // stopped: a song starting later would be announced
    SystemCalls().GetModuleHandleExA = CountingModuleHandle;
    g_moduleCalls = 0;
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(g_host.seen, (std::vector<UINT>{WM_TIMER, WM_NCDESTROY}))
        << "the destruction reaches the host through our procedure";
    const HWND gone = window;
    window = nullptr;
    watcher.reset();
    SystemCalls().GetModuleHandleExA = &::GetModuleHandleExA;
    // The watcher knew the window was gone: no forwarder is left behind that would need the
    // module kept, and nothing was said or announced.
    EXPECT_EQ(g_moduleCalls, 0);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_TRUE(songs.empty());
    EXPECT_FALSE(IsWindow(gone));
}

BOOL WINAPI RefuseProp(HWND, LPCSTR, HANDLE) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

BOOL WINAPI RefusePin(DWORD flags, LPCSTR address, HMODULE* module) {
    ++g_moduleCalls;
    if (flags & GET_MODULE_HANDLE_EX_FLAG_PIN) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return GetModuleHandleExA(flags, address, module);
}
BOOL WINAPI RefuseAnyReference(DWORD, LPCSTR, HMODULE*) {
    ++g_moduleCalls;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(WatcherHook, AWindowPropertyThatCannotBeSetLeavesTheHostsProcedureAloneAndIsReported) {
    watcher.reset();
    ASSERT_EQ(CurrentProc(window), HostProc);
    SystemCalls().SetPropA = RefuseProp;
    watcher = std::make_unique<TWinampControl>(InstallWin32HostHook);
    watcher->OnSongChange = [this](const TSongInfo& s) { songs.push_back(s); };
    try {
        watcher->Hook(window);
        ADD_FAILURE() << "the failure was not raised";
    } catch (const EBrenloError& e) {
        EXPECT_NE(std::string(e.what()).find("SetPropA"), std::string::npos) << e.what();
    }
    SystemCalls().SetPropA = &::SetPropA;
    EXPECT_EQ(CurrentProc(window), HostProc) << "not hooked half-way";
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242) << "the host still gets its messages";
    Timer(42, -1, -1);
    EXPECT_EQ(g_host.seen, (std::vector<UINT>{WM_APP, WM_TIMER}));
}

TEST_F(WatcherHook, AModuleThatCannotBePinnedForTheForwarderIsHeldOtherwiseOrReportedOnce) {
    const auto releaseUnderOther = [this] {
        g_belowOther = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OtherSubclass)));
        watcher.reset();
        EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242);
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_belowOther));
        watcher = std::make_unique<TWinampControl>(InstallWin32HostHook);  // takes the forwarder
        watcher->Hook(window);
    };
    // The pin fails, a plain reference holds the module just as well: nothing to say.
    SystemCalls().GetModuleHandleExA = RefusePin;
    g_moduleCalls = 0;
    releaseUnderOther();
    EXPECT_EQ(g_moduleCalls, 2);
    EXPECT_TRUE(errors.empty()) << errors.front();
    // Neither works: said once, however often it happens; the host keeps its messages.
    SystemCalls().GetModuleHandleExA = RefuseAnyReference;
    releaseUnderOther();
    releaseUnderOther();
    SystemCalls().GetModuleHandleExA = &::GetModuleHandleExA;
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("GetModuleHandleExA"), std::string::npos) << errors[0];
    Timer(42, -1, -1);
    Timer(43, 0, 185);
    EXPECT_EQ(songs.size(), 0u) << "the re-hooked watchers have no song handler";
    EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 0x4242);
}

}  // namespace
