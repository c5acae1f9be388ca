// The plug-in DLL's lifetime in a host process: loaded, unloaded and loaded again; quit and
// unload while a chooser of the configuration dialog is open; one error box at a time, with the
// German text in the ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aol_standin_util.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "config/u_configdialog_ids.h"
#include "control_lookup.h"
#include "fileshare/u_brenlofileserver.h"
#include "plugin/STNDGenPlugStructures.h"
#include "plugin/STNDwinamp20.h"
#include "process_util.h"

namespace {

using testutil::Quote;

// ---- a host window in this process ----------------------------------------------------------

struct FakePlayer {
    bool playing = false;
    int appMessages = 0;
};
FakePlayer g_player;
const char kFile[] = "C:\\Music\\Nena - 99 Luftballons.mp3";
const char kTitle[] = "Nena - 99 Luftballons";

LRESULT CALLBACK PlayerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER) {
        switch (lParam) {
            case winamp::IPC_GETOUTPUTTIME:
                return !g_player.playing ? -1 : wParam == 0 ? 1000 : 185;
            case winamp::IPC_GETLISTPOS:
                return 0;
            case winamp::IPC_GETINFO:
                return 128;
            case winamp::IPC_GETPLAYLISTFILE:
                return reinterpret_cast<LRESULT>(kFile);
            case winamp::IPC_GETPLAYLISTTITLE:
                return reinterpret_cast<LRESULT>(kTitle);
        }
        return 0;
    }
    if (msg == WM_APP) {
        ++g_player.appMessages;
        return 7;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump(DWORD ms) {
    testutil::PumpFor(ms);
}

struct WindowsOfThisProcess {
    std::string title;
    std::vector<HWND> found;
};
BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    auto* c = reinterpret_cast<WindowsOfThisProcess*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    char title[256] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    if (process == GetCurrentProcessId() && IsWindowVisible(hwnd) && c->title == title)
        c->found.push_back(hwnd);
    return TRUE;
}
std::vector<HWND> VisibleWindows(const std::string& title) {
    WindowsOfThisProcess c{title, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&c));
    return c.found;
}

class PluginLifetime : public testing::Test {
  protected:
    void SetUp() override {
        // An existing product key: no first-start question in this process.
        HKEY product = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &product, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(product);
        g_player = FakePlayer{};
        WNDCLASSA wc = {};
        wc.lpfnWndProc = PlayerProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "BrenloLifetimeHost";
        RegisterClassA(&wc);
        host = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                               nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(host, nullptr);
    }
    void TearDown() override {
        if (dll)
            FreeLibrary(dll);
        DestroyWindow(host);
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
    }

    // Loads the DLL and runs the host's part up to init.
    winampGeneralPurposePlugin* Load() {
        if (!testutil::WaitUntilPluginUnmapped())
            return nullptr;  // an earlier test still holds the module
        dll = LoadLibraryA(testutil::PluginDll().c_str());
        if (!dll)
            return nullptr;
        using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
        auto get = reinterpret_cast<GetPlugin>(
            reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
        if (!get)
            return nullptr;
        winampGeneralPurposePlugin* record = get();
        record->hwndParent = host;
        record->hDllInstance = dll;
        record->init();
        return record;
    }
    void QuitAndUnload(winampGeneralPurposePlugin* record) {
        record->quit();
        FreeLibrary(dll);
        dll = nullptr;
    }
    bool Loaded() const { return GetModuleHandleA(testutil::PluginDll().c_str()) != nullptr; }

    HWND host = nullptr;
    HMODULE dll = nullptr;
};

// ---- load, unload, load -----------------------------------------------------------------------

TEST_F(PluginLifetime, UnloadTakesTheSocketWindowClassAlongSoTheNextLoadCanRegisterIt) {
    WNDCLASSA info;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("load " + std::to_string(round));
        winampGeneralPurposePlugin* record = Load();
        ASSERT_NE(record, nullptr);
        const HMODULE instance = dll;
        EXPECT_TRUE(GetClassInfoA(instance, "TBrenloSocketWindow", &info));
        Pump(200);
        EXPECT_TRUE(VisibleWindows("BrenloPlug3").empty()) << "an error box came up";
        QuitAndUnload(record);
        EXPECT_FALSE(Loaded());
        EXPECT_FALSE(GetClassInfoA(instance, "TBrenloSocketWindow", &info))
            << "the class outlived its module";
        EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7) << "the host window has its procedure";
    }
}

TEST_F(PluginLifetime, ReloadedByTheStandInPlayerTheSecondLoadAnnouncesAndOpensTheDialog) {
    SetSettingsRegistry(&WindowsRegistry());
    PluginSettings = TPluginSettings{};
    PluginSettings.general.enablechat = true;
    PluginSettings.aol.enableaol = true;
    PluginSettings.aol.fsport = "1000";
    PluginSettings.fader.fadecolors = 1;
    SaveSettings();
    SetSettingsRegistry(nullptr);

    testutil::ChatClientProcess client("--room \"AB|24|Lobby\"");
    ASSERT_TRUE(client.Ready());
    const std::string list =
        testutil::TempFile("reload.m3u",
                           "C:\\Music\\one.mp3|Artist - One|300|192\nC:\\Music\\two.mp3|Artist - "
                           "Two|300|128\n");
    // Each load's song is reloaded or quit only once its line is in the room.
    const std::string armed = testutil::kUntilArmed;
    testutil::PlayerCue onePosted, twoPosted;
    testutil::BackgroundProgram run(
        Quote(testutil::WinampStandin()) + " --plugin " + Quote(testutil::PluginDll()) +
            " --playlist " + Quote(list) + " --answer no -c \"" + armed + "; play 1; await " +
            onePosted.Name() + "; stop; reload; " + armed + "; play 2; await " + twoPosted.Name() +
            "; config; window BrenloPlug3 Konfiguration; windows; quit\"",
        "player");
    EXPECT_TRUE(client.WaitFor("Artist - One", 30000));
    onePosted.Set();
    EXPECT_TRUE(client.WaitFor("Artist - Two", 30000));
    twoPosted.Set();
    const auto player = run.Finish(90000);
    ASSERT_EQ(player.exitCode, 0) << player.output;
    const int reloaded = player.Find("init of");
    const int second = player.Find("init of", reloaded + 1);
    ASSERT_GT(second, reloaded) << player.output;
    EXPECT_GT(player.Find("visible window: 'BrenloPlug3 Konfiguration'", second), second)
        << player.output;
    EXPECT_LT(player.Find("visible window: 'BrenloPlug3'"), 0) << "an error box\n" << player.output;
    const auto r = client.Finish();
    const auto lines = testutil::ChatClientProcess::Transcript(r, "Lobby");
    int one = -1, two = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        if (lines[static_cast<size_t>(i)].find("Artist - One") != std::string::npos)
            one = i;
        if (lines[static_cast<size_t>(i)].find("Artist - Two") != std::string::npos)
            two = i;
    }
    EXPECT_GE(one, 0) << r.output;
    EXPECT_GT(two, one) << "the second load announces\n" << r.output;
}

// ---- quit and unload from inside a chooser ------------------------------------------------------

struct ChooserScenario {
    winampGeneralPurposePlugin* record = nullptr;
    HMODULE* dll = nullptr;
    bool quitDone = false;
    int ticks = 0;
};
ChooserScenario* g_scenario = nullptr;

BOOL CALLBACK CloseChoosers(HWND hwnd, LPARAM) {
    char cls[32] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId() && std::string(cls) == "#32770" && IsWindowVisible(hwnd))
        PostMessageA(hwnd, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

// Runs inside the chooser's own message loop: the host quits and unloads the plug-in there.
VOID CALLBACK QuitInsideTheChooser(HWND, UINT, UINT_PTR, DWORD) {
    ChooserScenario& s = *g_scenario;
    if (++s.ticks == 1) {
        s.record->quit();
        FreeLibrary(*s.dll);
        *s.dll = nullptr;
        s.quitDone = true;
    } else {
        EnumWindows(CloseChoosers, 0);  // should a chooser outlive its dialog
    }
}

TEST_F(PluginLifetime, QuitAndUnloadWhileAChooserIsOpenLeaveTheHostRunning) {
    struct Chooser {
        const char* what;
        int control;
        WORD notification;
    };
    const Chooser choosers[] = {{"colour chooser", cfgid::pnl_fadecolor1, STN_CLICKED},
                                {"font chooser", cfgid::btn_choosefont, BN_CLICKED}};
    for (const Chooser& c : choosers) {
        SCOPED_TRACE(c.what);
        winampGeneralPurposePlugin* record = Load();
        ASSERT_NE(record, nullptr);
        record->config();
        const auto dialogs = VisibleWindows("BrenloPlug3 Konfiguration");
        ASSERT_EQ(dialogs.size(), 1u);
        HWND control = testutil::FindControl(dialogs[0], c.control);
        ASSERT_NE(control, nullptr);

        ChooserScenario scenario{record, &dll};
        g_scenario = &scenario;
        const UINT_PTR timer = SetTimer(nullptr, 0, 300, QuitInsideTheChooser);
        // The click opens the modal chooser; the timer ends the plug-in inside its loop.
        SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(c.control, c.notification),
                     reinterpret_cast<LPARAM>(control));
        KillTimer(nullptr, timer);
        g_scenario = nullptr;

        EXPECT_TRUE(scenario.quitDone) << "the chooser returned before the quit";
        EXPECT_TRUE(VisibleWindows("BrenloPlug3 Konfiguration").empty());
        EXPECT_EQ(SendMessageA(host, WM_APP, 0, 0), 7);
        // Our code has left the stack: the module goes once the loop runs again.
        EXPECT_TRUE(testutil::PumpUntil([&] { return !Loaded(); }))
            << "the module was kept for good";
    }
}

// ---- error boxes --------------------------------------------------------------------------------

std::string BoxText(HWND box) {
    char text[512] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // a message box's text control
    return text;
}

TEST_F(PluginLifetime, ABadPortShowsOneBoxInTheAnsiCodePageHoweverManySongsFail) {
    SetSettingsRegistry(&WindowsRegistry());
    PluginSettings = TPluginSettings{};
    PluginSettings.general.enablechat = true;
    PluginSettings.aol.aolfs = true;
    PluginSettings.aol.fsport = "tausend";
    SaveSettings();
    SetSettingsRegistry(nullptr);
    // The listener stays on port 1000, so the links are looked up: an echo host without a name
    // asks nobody.
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\fs", "echohost",
                    REG_SZ, ":1", 3);

    winampGeneralPurposePlugin* record = Load();
    ASSERT_NE(record, nullptr);
    for (int song = 0; song < 3; ++song) {
        g_player.playing = false;
        SendMessageA(host, WM_TIMER, winamp::kStopWatchTimerId, 0);
        g_player.playing = true;
        SendMessageA(host, WM_TIMER, 43, 0);
        Pump(100);
    }
    std::vector<HWND> boxes;
    for (int i = 0; i < 100 && boxes.empty(); ++i) {
        Pump(20);
        boxes = VisibleWindows("BrenloPlug3");
    }
    Pump(500);
    boxes = VisibleWindows("BrenloPlug3");
    ASSERT_EQ(boxes.size(), 1u) << "one box at a time";
    const std::string text = BoxText(boxes[0]);
    // The songs are still announced; the file server tells of the port once.
    EXPECT_EQ(text, InvalidPortText("tausend"));
    EXPECT_NE(text.find("g\xFCltigen"), std::string::npos) << "one byte, not UTF-8's two";

    // Quit and unload while the box is open: the box's thread keeps the module until it closes.
    QuitAndUnload(record);
    EXPECT_TRUE(Loaded());
    PostMessageA(boxes[0], WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(testutil::PumpUntil([&] { return !Loaded(); }));
    EXPECT_TRUE(VisibleWindows("BrenloPlug3").empty()) << "a second box for the same failure";
}

}  // namespace
