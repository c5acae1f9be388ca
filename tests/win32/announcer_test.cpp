// The announcer through the real DLL under Wine: the stand-in player with the plug-in, the
// stand-in chat client with its rooms traced message by message, and the stand-in address
// service. The rooms see what they always saw while the player's loop runs on; skipped songs
// leave the first and the last; quit stops a posting, also against a hung client.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "announce/announcer.h"
#include "announce/u_aol.h"
#include "announce/u_composer.h"
#include "aol_standin_util.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "echo_service_util.h"
#include "fileshare/EncodeIP.h"
#include "plugin/STNDGenPlugStructures.h"
#include "plugin/STNDwinamp20.h"
#include "process_util.h"

namespace {

using testutil::ChatClientProcess;
using testutil::ProcessResult;
using testutil::Quote;

// A listener port of these tests' own.
constexpr int kSharingPort = 47311;

class TokenServer final : public IFileServerLink {
  public:
    explicit TokenServer(std::string token) : token_(std::move(token)) {}
    void SetTrayIcon(bool) override {}
    void SetServedFile(const std::string&) override {}
    void SetServerPort(int) override {}
    std::string GetEncodedAddress(char) override { return token_; }

  private:
    std::string token_;
};

TPluginSettings Settings() {
    TPluginSettings s;
    s.general.enablechat = true;
    s.general.presongtitle = "Ich h\xF6re: ";
    s.general.postsongtitle = " <<";
    s.general.enablefade = true;
    s.aol.enableaol = true;
    s.aol.aoladvertising = true;
    s.aol.fsport = std::to_string(kSharingPort);
    s.fader.fadecolors = 2;
    s.fader.color(1) = 0x000000FF;
    s.fader.color(2) = 0x00FF0000;
    return s;
}

TSongInfo Song(int n) {
    return {"C:\\Music\\Song " + std::to_string(n) + ".mp3", "Artist - Song " + std::to_string(n),
            128, 185};
}

std::string Playlist(const char* name, int songs) {
    std::string list;
    for (int n = 1; n <= songs; ++n)
        list += Song(n).FileName + "|" + Song(n).Title + "|185|128\n";
    return testutil::TempFile(name, list);
}

// The line the rooms must get for song `n`, with the token the link carries.
std::string LineOf(const TPluginSettings& settings, int n, const std::string& token = "") {
    TokenServer server(token);
    const auto message = ComposeAolMessage(Song(n), settings, server);
    return message ? BuildAolLine(*message) : std::string("(nothing composed)");
}

// Every traced message an input got, in order, as "WM_... text". Wine delivers a WM_GETTEXT sent
// from another process to the window twice in a row; it counts once here.
std::vector<std::string> MessagesTo(const ProcessResult& r, const std::string& room) {
    const std::string prefix = "chat: room '" + room + "' input 1: WM_";
    std::vector<std::string> out;
    for (const auto& l : r.Lines()) {
        if (l.rfind(prefix, 0) != 0)
            continue;
        const std::string message = l.substr(prefix.size() - 3);
        if (message.rfind("WM_GETTEXT ", 0) == 0 && !out.empty() && out.back() == message)
            continue;
        out.push_back(message);
    }
    return out;
}

// Line numbers of the first and the last traced message to a room's input.
std::pair<int, int> SpanOf(const ProcessResult& r, const std::string& room) {
    const std::string prefix = "chat: room '" + room + "' input 1: WM_";
    const auto lines = r.Lines();
    int first = -1;
    int last = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        if (lines[static_cast<size_t>(i)].rfind(prefix, 0) == 0) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return {first, last};
}

// The address hosts are hand-made registry values: the plug-in reads them, never writes them.
void SetAddressHosts(const std::string& hostPort) {
    for (const char* name : {"echohost", "webhost"})
        RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\fs", name, REG_SZ,
                        hostPort.c_str(), static_cast<DWORD>(hostPort.size() + 1));
}

// The time stamp (ms since the player started) of the first line holding `text`, or -1.
long StampOf(const ProcessResult& r, const std::string& text) {
    const int i = r.Find(text);
    if (i < 0)
        return -1;
    const std::string line = r.Lines()[static_cast<size_t>(i)];
    const size_t open = line.find('[');
    return open == std::string::npos ? -1 : std::stol(line.substr(open + 1));
}

std::string PlayerCommand(const std::string& list, const std::string& options,
                          const std::string& script) {
    return Quote(testutil::WinampStandin()) + " --timestamps " + options + " --plugin " +
           Quote(testutil::PluginDll()) + " --playlist " + Quote(list) + " --answer no -c \"" +
           script + "\"";
}

// Runs the player with a script that awaits `cue`, and sets the cue once the chat client has
// printed each group of `awaited` texts in its order.
ProcessResult RunPlayerCued(ChatClientProcess& client, testutil::PlayerCue& cue,
                            const std::string& command,
                            const std::vector<std::vector<std::string>>& awaited) {
    testutil::BackgroundProgram player(command, "player");
    for (const auto& texts : awaited)
        EXPECT_TRUE(client.WaitForInOrder(texts, 30000)) << texts.front();
    cue.Set();
    return player.Finish(90000);
}

std::string Armed() {
    return testutil::kUntilArmed;
}

class Announcer : public testing::Test {
  protected:
    void SetUp() override { SetSettingsRegistry(&WindowsRegistry()); }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
        SetSettingsRegistry(nullptr);
    }
    static void Save(const TPluginSettings& settings) {
        PluginSettings = settings;
        SaveSettings();
    }
};

TEST_F(Announcer, ThreeRoomsGetTheSameMessagesAsEverWhileThePlayersLoopRunsOn) {
    testutil::EchoServiceProcess service("address");
    ASSERT_NE(service.Port(), 0);
    TPluginSettings settings = Settings();
    settings.aol.aolfs = true;
    Save(settings);
    SetAddressHosts(service.HostPort());
    ChatClientProcess client(
        "--trace --room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\" "
        "--room \"AB|24|Talk|bin gleich da\"");
    ASSERT_TRUE(client.Ready());
    const std::string token = EncodeAddress("11127.0.0.1:" + std::to_string(kSharingPort) + ":::");
    const std::string line = LineOf(settings, 2, token);
    testutil::PlayerCue posted;
    std::vector<std::vector<std::string>> awaited;
    for (const char* room : {"Lobby", "Musik", "Talk"})
        awaited.push_back({"chat: room '" + std::string(room) + "': " + line,
                           "chat: room '" + std::string(room) + "' input 1: WM_SETFOCUS"});
    const auto player = RunPlayerCued(
        client, posted,
        PlayerCommand(Playlist("announcer3.m3u", 2), "--hold-meter",
                      Armed() + "; hold; play 2; await " + posted.Name() + "; hold; quit"),
        awaited);
    ASSERT_EQ(player.exitCode, 0) << player.output;
    const auto r = client.Finish();
    struct Room {
        const char* name;
        const char* typed;
    };
    for (const Room room :
         {Room{"Lobby", "hallo welt"}, Room{"Musik", ""}, Room{"Talk", "bin gleich da"}}) {
        const std::string typed = room.typed;
        std::vector<std::string> expected = {"WM_KILLFOCUS"};
        for (int sample = 0; sample < 4; ++sample) {
            expected.push_back("WM_GETTEXTLENGTH");
            expected.push_back("WM_GETTEXT " + typed);
        }
        for (const std::string& text : {std::string(), std::string(kAdvertLine), line})
            expected.push_back("WM_SETTEXT " + text);
        expected.insert(expected.end() - 1, "WM_CHAR 13");
        expected.push_back("WM_CHAR 13");
        expected.push_back("WM_SETTEXT " + typed);
        expected.push_back("WM_SETFOCUS");
        EXPECT_EQ(MessagesTo(r, room.name), expected) << room.name << "\n" << r.output;
        EXPECT_EQ(ChatClientProcess::Transcript(r, room.name),
                  (std::vector<std::string>{kAdvertLine, line}))
            << room.name;
        EXPECT_EQ(ChatClientProcess::InputText(r, room.name, 1), typed) << room.name;
    }
    // The rooms one after the other (in the client's window order): no two postings overlap.
    std::vector<std::pair<int, int>> spans = {SpanOf(r, "Lobby"), SpanOf(r, "Musik"),
                                              SpanOf(r, "Talk")};
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        EXPECT_LT(spans[i - 1].second, spans[i].first) << r.output;

    // The posting sleeps at least 3 x 900 ms: had it run on the player's thread, it would have
    // held the loop that long. Below it, the rest is the meter's noise on a loaded machine.
    const int second = player.Find("longest hold", player.Find("playing entry 2"));
    ASSERT_GE(second, 0) << player.output;
    const std::string report = player.Lines()[static_cast<size_t>(second)];
    const long held = std::stol(report.substr(report.rfind(": ") + 2));
    EXPECT_LT(held, 2500) << report;
}

TEST_F(Announcer, TenSongChangesInASecondPostTheFirstAndTheLast) {
    const TPluginSettings settings = Settings();
    Save(settings);
    // Two rooms: the first song's posting (about 2 s) outlasts the ten changes.
    ChatClientProcess client("--trace --room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\"");
    ASSERT_TRUE(client.Ready());
    // Each song is found (its bit rate asked) before the next change.
    testutil::PlayerCue posted;
    std::string script = Armed();
    for (int n = 1; n <= 10; ++n) {
        script += "; stop; " + Armed() + "; play " + std::to_string(n) + "; until query 126";
    }
    script += "; await " + posted.Name() + "; quit";
    const std::string last = LineOf(settings, 10);
    const auto player = RunPlayerCued(
        client, posted,
        PlayerCommand(Playlist("announcer10.m3u", 10), "--timer42 15 --timer2 10", script),
        {{"chat: room 'Lobby': " + last, "chat: room 'Lobby' input 1: WM_SETTEXT hallo welt"},
         {"chat: room 'Musik': " + last}});
    ASSERT_EQ(player.exitCode, 0) << player.output;
    const auto r = client.Finish();

    // The player saw ten songs, each detected by the plug-in (its title query).
    int detected = 0;
    for (int i = player.Find("query 212"); i >= 0; i = player.Find("query 212", i + 1))
        ++detected;
    ASSERT_EQ(detected, 10) << player.output;
    for (const char* room : {"Lobby", "Musik"})
        EXPECT_EQ(ChatClientProcess::Transcript(r, room),
                  (std::vector<std::string>{kAdvertLine, LineOf(settings, 1), kAdvertLine,
                                            LineOf(settings, 10)}))
            << room << "\n"
            << r.output;
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt");
}

// Quit while the posting runs: the player's quit returns within the announcer's bound, nothing
// reaches a room after the stop, and the player unloads the DLL and ends without a fault (a
// thread left in the unmapped image would crash the process).
TEST_F(Announcer, QuitDuringAPostingOrAgainstAHungClientReturnsWithinTheBound) {
    struct Case {
        const char* what;
        const char* client;
    };
    const Case cases[] = {
        {"posting", "--trace --room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\""},
        {"hung client",
         "--trace --hang-on-post 6000 --room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\""},
    };
    for (const Case& c : cases) {
        Save(Settings());
        ChatClientProcess client(c.client);
        ASSERT_TRUE(client.Ready()) << c.what;
        // The quit comes once the first room got the posting's first message.
        testutil::PlayerCue begun;
        const auto player =
            RunPlayerCued(client, begun,
                          PlayerCommand(Playlist("announcerquit.m3u", 2), "--timer2 20",
                                        Armed() + "; play 1; await " + begun.Name() + "; quit"),
                          {{"input 1: WM_KILLFOCUS"}});
        EXPECT_EQ(player.exitCode, 0) << c.what << "\n" << player.output;
        EXPECT_GE(player.Find("] exit"), 0) << c.what << "\n" << player.output;
        const long called = StampOf(player, "calling quit");
        const long returned = StampOf(player, "quit returned");
        ASSERT_GE(called, 0) << player.output;
        ASSERT_GE(returned, 0) << player.output;
        EXPECT_LE(returned - called, TAnnouncer::kStopBound.count()) << c.what;

        const auto r = client.Finish();
        // The room served first was met in its samples; the other one got nothing at all.
        const auto lobby = MessagesTo(r, "Lobby");
        const auto musik = MessagesTo(r, "Musik");
        ASSERT_NE(lobby.empty(), musik.empty()) << c.what << ": one room, the first, was begun\n"
                                                << r.output;
        for (const auto& m : lobby.empty() ? musik : lobby)
            EXPECT_NE(m.rfind("WM_SETTEXT", 0), 0u) << c.what << ": " << m;
        for (const char* room : {"Lobby", "Musik"})
            EXPECT_TRUE(ChatClientProcess::Transcript(r, room).empty()) << c.what << r.output;
        EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt") << c.what;
    }
}

// ---- the plug-in in this process ----------------------------------------------------------------

// A player window in this process that plays song 1 once `g_playing` is set.
bool g_playing = false;
const TSongInfo g_song = Song(1);

LRESULT CALLBACK PlayerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != WM_USER)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    switch (lParam) {
        case winamp::IPC_GETOUTPUTTIME:
            return !g_playing ? -1 : wParam == 0 ? 1000 : g_song.Length;
        case winamp::IPC_GETINFO:
            return g_song.Bitrate;
        case winamp::IPC_GETPLAYLISTFILE:
            return reinterpret_cast<LRESULT>(g_song.FileName.c_str());
        case winamp::IPC_GETPLAYLISTTITLE:
            return reinterpret_cast<LRESULT>(g_song.Title.c_str());
        default:
            return 0;
    }
}

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
}

bool Mapped() {
    return GetModuleHandleA(testutil::PluginDll().c_str()) != nullptr;
}

// Runs this thread's messages until `done` holds, at most `boundMs`.
template <class Done>
bool PumpUntil(Done done, DWORD boundMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > boundMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

winampGeneralPurposePlugin* RecordOf(HMODULE dll) {
    using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
    return get ? get() : nullptr;
}

// The host lets the library go without quit while the announcer posts. The announcer's thread
// then holds the last reference; were it dropped as the thread ends, the unload would run there,
// away from the host's thread that owns the plug-in's windows and timers. It must stay mapped
// (and working) until the plug-in's own teardown.
TEST_F(Announcer, AnUnloadWithoutQuitDuringAPostingNeverRunsOnTheAnnouncersThread) {
    const TPluginSettings settings = Settings();
    Save(settings);
    ChatClientProcess client("--room \"AB|24|Lobby|hallo welt\"");
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(testutil::WaitUntilPluginUnmapped()) << "an earlier test still holds the DLL";
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlayerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BrenloAnnouncerHost";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, wc.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(host, nullptr);
    HMODULE dll = LoadLibraryA(testutil::PluginDll().c_str());
    ASSERT_NE(dll, nullptr);
    winampGeneralPurposePlugin* record = RecordOf(dll);
    ASSERT_NE(record, nullptr);
    record->hwndParent = host;
    record->hDllInstance = dll;
    ASSERT_EQ(record->init(), 0);
    PumpUntil([] { return false; }, 200);  // the file-server window settles
    const int threads = ThreadsOfThisProcess();

    // Song 1 starts; the announcer's thread takes it over.
    g_playing = false;
    SendMessageA(host, WM_TIMER, winamp::kStopWatchTimerId, 0);
    g_playing = true;
    SendMessageA(host, WM_TIMER, 43, 0);
    ASSERT_GT(ThreadsOfThisProcess(), threads) << "no announcer's thread runs";
    FreeLibrary(dll);  // no quit
    ASSERT_TRUE(Mapped()) << "the running announcer holds the module";
    EXPECT_TRUE(client.WaitFor("chat: room 'Lobby': " + LineOf(settings, 1), 20000));
    PumpUntil([&] { return !Mapped() || ThreadsOfThisProcess() <= threads; }, 20000);
    EXPECT_TRUE(Mapped()) << "the announcer's thread dropped the last reference: the unload ran "
                             "on it";

    // The host loads the library once more and quits it: the teardown lets every reference of
    // ours go, and the image goes with the host's last FreeLibrary.
    dll = LoadLibraryA(testutil::PluginDll().c_str());
    ASSERT_NE(dll, nullptr);
    record = RecordOf(dll);
    ASSERT_NE(record, nullptr);
    record->quit();
    FreeLibrary(dll);
    EXPECT_FALSE(Mapped());
    DestroyWindow(host);
    g_playing = false;
}

}  // namespace
