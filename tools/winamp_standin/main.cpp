// Stand-in for the Winamp player, for tests and demos of general-purpose plug-ins.
//
// It behaves towards a plug-in as the real host does: it creates its main window, loads the
// plug-ins, calls their export, writes its window and the module handle into the record, calls
// init, answers the playback queries (WM_USER 105, 125, 126, 211, 212) from a playlist, runs its
// own timers (one with identifier 42), and calls config and quit on request. Like the real host,
// it runs with the x87 precision control at 53 bits.
//
// Usage:
//   winamp_standin --plugin DLL-or-folder [--playlist FILE] [--script FILE | -c "cmd; cmd"]
//                  [--answer yes|no|ok|cancel] [--confirm ok|cancel] [--timer42 MS]
//                  [--timer2 MS] [--playing N] [--log-time-queries] [--timestamps]
//                  [--hold-meter]
// --playing N starts entry N before the plug-ins are loaded; --log-time-queries also prints
// every query 105 (asked on each timer, so left out by default).
// Playlist lines: file name|title|length in seconds|bit rate in kbit/s   ('#' starts a comment)
// --confirm answers dialogs with an OK button (such as a download question) apart from --answer,
// which then answers only those with Yes and No.
// --hold-meter runs a third timer every 10 ms and keeps the largest gap between its ticks: how
// long the message loop was held (by a plug-in, say); the command "hold" prints it and starts
// anew.
// Commands: play [N] | stop | pause | next | config | quit | wait MS | echo TEXT | windows | hold |
//           reload (quit, unload and load the plug-ins again in this process, then init) |
//           fileserver (prints the rows and the status bar of a plug-in's file-server window)
// Everything that happens is printed on standard output as lines beginning with "player: ".
#include <windows.h>

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/STNDGenPlugStructures.h"
#include "plugin/STNDwinamp20.h"

namespace {

constexpr char kMainWindowClass[] = "Winamp v1.x";
constexpr UINT_PTR kOtherTimerId = 43;
constexpr UINT_PTR kHoldMeterTimerId = 44;
constexpr UINT kHoldMeterMs = 10;
constexpr DWORD kGapBetweenSongsMs = 400;  // stopped time between an ended song and the next

// With --timestamps every line tells when it was printed, in milliseconds since the start, so
// that a test can see how long the message loop was held.
bool g_timestamps = false;
DWORD g_startTick = GetTickCount();

void Log(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("player: ", stdout);
    if (g_timestamps)
        std::fprintf(stdout, "[%lu ms] ", GetTickCount() - g_startTick);
    std::vfprintf(stdout, format, args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    va_end(args);
}

[[noreturn]] void Fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("player: error: ", stdout);
    std::vfprintf(stdout, format, args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    va_end(args);
    std::exit(2);
}

struct Entry {
    std::string file;
    std::string title;
    int lengthSeconds = 0;
    int bitrate = 0;
};

enum class Playback { Stopped, Playing, Paused };

struct Player {
    std::vector<Entry> playlist;
    int current = 0;
    Playback state = Playback::Stopped;
    DWORD startTick = 0;     // tick at which position 0 was (while playing)
    int pausedPosition = 0;  // position frozen by pause
    DWORD advanceAt = 0;     // non-zero: start the next entry at this tick (auto-advance gap)
    HWND window = nullptr;
    UINT timer42Ms = 100;
    UINT timer2Ms = 150;
    std::string answer;           // how message boxes are answered; empty: left to a person
    std::string confirm;          // how dialogs with OK are answered; empty: as `answer`
    bool logTimeQueries = false;  // query 105 comes on every timer; logged only on request

    int Position() const {
        switch (state) {
            case Playback::Playing:
                return static_cast<int>(GetTickCount() - startTick);
            case Playback::Paused:
                return pausedPosition;
            default:
                return -1;
        }
    }

    void Play(int index) {
        if (playlist.empty()) {
            Log("play: the playlist is empty");
            return;
        }
        if (index >= 0) {
            current = index % static_cast<int>(playlist.size());
        }
        if (state == Playback::Paused && index < 0) {
            startTick = GetTickCount() - static_cast<DWORD>(pausedPosition);
        } else {
            startTick = GetTickCount();
        }
        state = Playback::Playing;
        advanceAt = 0;
        Log("playing entry %d: %s (%s, %d s, %d kbit/s)", current + 1,
            playlist[current].title.c_str(), playlist[current].file.c_str(),
            playlist[current].lengthSeconds, playlist[current].bitrate);
    }

    void Stop() {
        state = Playback::Stopped;
        advanceAt = 0;
        Log("stopped");
    }

    void Pause() {
        if (state == Playback::Playing) {
            pausedPosition = Position();
            state = Playback::Paused;
            Log("paused at %d ms", pausedPosition);
        } else if (state == Playback::Paused) {
            Play(-1);
        }
    }

    void Next() {
        if (!playlist.empty()) {
            Play((current + 1) % static_cast<int>(playlist.size()));
        }
    }

    // Called on the host's own timers: ends songs and starts the next one after a short stop.
    void Tick() {
        if (state == Playback::Playing && !playlist.empty() &&
            Position() >= playlist[current].lengthSeconds * 1000) {
            Log("entry %d ended", current + 1);
            state = Playback::Stopped;
            advanceAt = GetTickCount() + kGapBetweenSongsMs;
            if (advanceAt == 0)
                advanceAt = 1;
        } else if (state == Playback::Stopped && advanceAt != 0 &&
                   static_cast<LONG>(GetTickCount() - advanceAt) >= 0) {
            Next();
        }
    }

    const Entry* EntryAt(WPARAM index) const {
        return index < playlist.size() ? &playlist[index] : nullptr;
    }

    LRESULT Query(WPARAM data, LPARAM query) {
        switch (query) {
            case winamp::IPC_GETOUTPUTTIME: {
                LRESULT answer = -1;
                if (data == 0) {
                    answer = Position();
                } else if (data == 1) {
                    answer = state == Playback::Stopped || playlist.empty()
                                 ? -1
                                 : playlist[current].lengthSeconds;
                }
                if (logTimeQueries) {
                    Log("query 105 data %u: %ld", static_cast<unsigned>(data),
                        static_cast<long>(answer));
                }
                return answer;
            }
            case winamp::IPC_GETLISTPOS:
                Log("query 125: current entry index %d", current);
                return current;
            case winamp::IPC_GETINFO:
                if (data == 1) {
                    int rate = playlist.empty() ? 0 : playlist[current].bitrate;
                    Log("query 126: bit rate %d", rate);
                    return rate;
                }
                return data == 0 ? 44 : 2;  // sample rate in kHz, channels
            case winamp::IPC_GETPLAYLISTFILE: {
                const Entry* e = EntryAt(data);
                Log("query 211: file name of entry index %u: %s", static_cast<unsigned>(data),
                    e ? e->file.c_str() : "(none)");
                return e ? reinterpret_cast<LRESULT>(e->file.c_str()) : 0;
            }
            case winamp::IPC_GETPLAYLISTTITLE: {
                const Entry* e = EntryAt(data);
                Log("query 212: title of entry index %u: %s", static_cast<unsigned>(data),
                    e ? e->title.c_str() : "(none)");
                return e ? reinterpret_cast<LRESULT>(e->title.c_str()) : 0;
            }
            default:
                return 0;
        }
    }
};

Player g_player;

// The hold meter: the largest gap between two ticks of its 10 ms timer since the last report.
struct HoldMeter {
    bool on = false;
    double lastTickMs = 0;
    double longestMs = 0;

    static double NowMs() {
        LARGE_INTEGER frequency, counter;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&counter);
        return static_cast<double>(counter.QuadPart) * 1000.0 /
               static_cast<double>(frequency.QuadPart);
    }
    void Tick() {
        const double now = NowMs();
        if (lastTickMs != 0 && now - lastTickMs > longestMs)
            longestMs = now - lastTickMs;
        lastTickMs = now;
    }
    void Report() {
        // A hold still going on when the report is asked for counts too.
        const double sinceLast = lastTickMs != 0 ? NowMs() - lastTickMs : 0;
        Log("longest hold of the message loop: %.0f ms",
            sinceLast > longestMs ? sinceLast : longestMs);
        longestMs = 0;
    }
} g_holdMeter;

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_USER:
            return g_player.Query(wParam, lParam);
        case WM_TIMER:
            if (wParam == kHoldMeterTimerId) {
                g_holdMeter.Tick();
                return 0;
            }
            g_player.Tick();
            return 0;
        case WM_CLOSE:
            return 0;  // closing is a script command, not a window action
        default:
            return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

// Answers message boxes and dialogs that plug-ins show, so that scripted runs never wait for a
// person. A dialog with a Yes button is answered with --answer yes/no, one with OK with ok/cancel.
HHOOK g_cbtHook = nullptr;

std::string WindowText(HWND hwnd) {
    char buffer[4096] = {};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    std::string text = WindowText(child);
    if (_stricmp(cls, "Static") == 0 && !text.empty()) {
        auto* body = reinterpret_cast<std::string*>(param);
        for (char& c : text)
            if (c == '\r' || c == '\n')
                c = ' ';
        *body += (body->empty() ? "" : " ") + text;
    }
    return TRUE;
}

std::string StaticTexts(HWND dialog) {
    std::string body;
    EnumChildWindows(dialog, CollectStaticText, reinterpret_cast<LPARAM>(&body));
    return body;
}

VOID CALLBACK AnswerDialog(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    KillTimer(hwnd, id);
    HWND yes = GetDlgItem(hwnd, IDYES);
    HWND ok = GetDlgItem(hwnd, IDOK);
    // Message boxes keep their text in a static control with the identifier 0xFFFF; other
    // dialogs are read from all their static controls.
    HWND text = GetDlgItem(hwnd, 0xFFFF);
    std::string body = text ? WindowText(text) : StaticTexts(hwnd);
    int button = 0;
    if (yes) {
        button = g_player.answer == "no" ? IDNO : g_player.answer == "yes" ? IDYES : 0;
    } else if (ok) {
        const std::string& answer = g_player.confirm.empty() ? g_player.answer : g_player.confirm;
        button = answer == "cancel" ? IDCANCEL : answer == "ok" ? IDOK : 0;
    }
    if (button == 0) {
        return;
    }
    Log("dialog '%s' says '%s'; answering %s", WindowText(hwnd).c_str(), body.c_str(),
        button == IDOK       ? "ok"
        : button == IDCANCEL ? "cancel"
        : button == IDYES    ? "yes"
                             : "no");
    PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hwnd, button)));
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && (!g_player.answer.empty() || !g_player.confirm.empty())) {
        HWND hwnd = reinterpret_cast<HWND>(wParam);
        char cls[64] = {};
        GetClassNameA(hwnd, cls, sizeof cls);
        if (std::strcmp(cls, "#32770") == 0 &&
            (GetDlgItem(hwnd, IDYES) || GetDlgItem(hwnd, IDOK))) {
            // Answer once the box runs its own loop; a fresh timer per box.
            SetTimer(hwnd, 0xB0B, 50, AnswerDialog);
        }
    }
    return CallNextHookEx(g_cbtHook, code, wParam, lParam);
}

void PumpFor(DWORD ms) {
    DWORD until = GetTickCount() + ms;
    for (;;) {
        LONG left = static_cast<LONG>(until - GetTickCount());
        if (left <= 0)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

BOOL CALLBACK LogIfOursAndVisible(HWND hwnd, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(hwnd) && hwnd != g_player.window)
        Log("visible window: '%s'", WindowText(hwnd).c_str());
    return TRUE;
}

// The top-level windows of this process that are shown, the player's own excepted.
void ListVisibleWindows() {
    Log("visible windows:");
    EnumWindows(LogIfOursAndVisible, 0);
}

// The rows of a plug-in's file-server window ("BrenloPlug FileServer"), read off its controls:
// in the frame of rows, each progress bar with the labels at its height, then the status bar.
struct FileServerRow {
    int top = 0;
    int percent = -1;
    bool visible = false;
    std::vector<std::string> labels;
};

BOOL CALLBACK CollectRowControl(HWND child, LPARAM param) {
    auto* rows = reinterpret_cast<std::vector<FileServerRow>*>(param);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    FileServerRow* row = nullptr;
    for (auto& existing : *rows)
        if (existing.top == r.top)
            row = &existing;
    if (!row) {
        rows->push_back(FileServerRow{});
        row = &rows->back();
        row->top = r.top;
    }
    if (_stricmp(cls, "msctls_progress32") == 0) {
        row->percent = static_cast<int>(SendMessageA(child, PBM_GETPOS, 0, 0));
        // The window itself may be hidden behind its tray icon: the bar's own state counts.
        row->visible = (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) != 0;
    } else {
        row->labels.push_back(WindowText(child));
    }
    return TRUE;
}

void ListFileServerRows() {
    HWND window = FindWindowA(nullptr, "BrenloPlug FileServer");
    if (!window) {
        Log("file server: no window");
        return;
    }
    HWND frame = FindWindowExA(window, nullptr, "TFrame2", nullptr);
    std::vector<FileServerRow> rows;
    if (frame)
        EnumChildWindows(frame, CollectRowControl, reinterpret_cast<LPARAM>(&rows));
    Log("file server: %u row(s)", static_cast<unsigned>(rows.size()));
    for (const auto& row : rows) {
        std::string labels;
        for (const auto& l : row.labels)
            labels += " '" + l + "'";
        Log("file server row at %d: %d%%%s%s", row.top, row.percent, labels.c_str(),
            row.visible ? "" : " (hidden)");
    }
    HWND status = FindWindowExA(window, nullptr, STATUSCLASSNAMEA, nullptr);
    if (status) {
        std::string panels;
        const int count = static_cast<int>(SendMessageA(status, SB_GETPARTS, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[512] = {};
            SendMessageA(status, SB_GETTEXTA, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(text));
            std::string t = text;
            while (!t.empty() && t.front() == '\t')
                t.erase(0, 1);
            panels += " '" + t + "'";
        }
        Log("file server status bar:%s", panels.c_str());
    }
}

struct LoadedPlugin {
    std::string path;
    HMODULE module = nullptr;
    winampGeneralPurposePlugin* record = nullptr;
};

void SetX87PrecisionTo53Bits() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned short cw = 0;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    cw = static_cast<unsigned short>((cw & ~0x0300) | 0x0200);  // precision control: 53 bits
    __asm__ volatile("fldcw %0" : : "m"(cw));
    Log("x87 precision control set to 53 bits");
#endif
}

std::vector<std::string> FindPlugins(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Fail("cannot find plug-in '%s'", path.c_str());
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return {path};
    }
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\gen_*.dll").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            found.push_back(path + "\\" + data.cFileName);
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    if (found.empty()) {
        Fail("no gen_*.dll in plug-in folder '%s'", path.c_str());
    }
    return found;
}

LoadedPlugin LoadPlugin(const std::string& path) {
    LoadedPlugin plugin;
    plugin.path = path;
    plugin.module = LoadLibraryA(path.c_str());
    if (!plugin.module) {
        Fail("cannot load plug-in '%s' (error %lu)", path.c_str(), GetLastError());
    }
    using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(plugin.module, "winampGetGeneralPurposePlugin")));
    if (!get) {
        FreeLibrary(plugin.module);
        Fail("'%s' has no winampGetGeneralPurposePlugin export", path.c_str());
    }
    plugin.record = get();
    if (!plugin.record) {
        FreeLibrary(plugin.module);
        Fail("'%s' returned no plug-in record", path.c_str());
    }
    Log("loaded %s: version 0x%x, description \"%s\"", path.c_str(), plugin.record->version,
        plugin.record->description ? plugin.record->description : "(null)");
    if (!plugin.record->init || !plugin.record->config || !plugin.record->quit) {
        FreeLibrary(plugin.module);
        Fail("'%s' has an incomplete plug-in record", path.c_str());
    }
    plugin.record->hwndParent = g_player.window;
    plugin.record->hDllInstance = plugin.module;
    return plugin;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool ParseInt(const std::string& text, int& value) {
    std::string t = Trim(text);
    if (t.empty())
        return false;
    char* end = nullptr;
    long v = std::strtol(t.c_str(), &end, 10);
    if (*end != '\0')
        return false;
    value = static_cast<int>(v);
    return true;
}

void LoadPlaylist(const std::string& file) {
    std::ifstream in(file);
    if (!in) {
        Fail("cannot open playlist '%s'", file.c_str());
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream ss(t);
        std::string field;
        while (std::getline(ss, field, '|'))
            fields.push_back(field);
        Entry e;
        if (fields.size() != 4 || !ParseInt(fields[2], e.lengthSeconds) ||
            !ParseInt(fields[3], e.bitrate) || Trim(fields[0]).empty()) {
            Fail("playlist '%s' line %d: expected 'file|title|seconds|kbit/s', got '%s'",
                 file.c_str(), number, t.c_str());
        }
        e.file = Trim(fields[0]);
        e.title = fields[1];
        g_player.playlist.push_back(e);
    }
    Log("playlist: %u entries", static_cast<unsigned>(g_player.playlist.size()));
}

std::vector<std::string> SplitCommands(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, separator)) {
        item = Trim(item);
        if (!item.empty() && item[0] != '#')
            out.push_back(item);
    }
    return out;
}

void QuitAndUnload(std::vector<LoadedPlugin>& plugins) {
    for (auto& p : plugins) {
        Log("calling quit of %s", p.path.c_str());
        p.record->quit();
        Log("quit returned");
    }
    for (auto& p : plugins) {
        FreeLibrary(p.module);
        Log("unloaded %s", p.path.c_str());
    }
}

void CallQuit(std::vector<LoadedPlugin>& plugins) {
    for (auto& p : plugins) {
        Log("calling quit of %s", p.path.c_str());
        p.record->quit();
        Log("quit returned");
    }
    // The host keeps running its own window after the plug-ins' quit.
    auto own = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(g_player.window, GWLP_WNDPROC));
    Log("main window procedure after quit: %s",
        own == MainWindowProc ? "the player's own" : "foreign");
    PumpFor(200);
    for (auto& p : plugins) {
        FreeLibrary(p.module);
        Log("unloaded %s", p.path.c_str());
    }
    plugins.clear();
    // Timers and queries go on after the unload, as they do in the real player.
    PumpFor(200);
    Log("query 105 after unload: position %ld",
        static_cast<long>(SendMessageA(g_player.window, WM_USER, 0, winamp::IPC_GETOUTPUTTIME)));
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string pluginPath, playlistFile, scriptFile, inlineScript;
    int playingAtLoad = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc)
                Fail("%s needs a value", name);
            return argv[++i];
        };
        int n = 0;
        if (a == "--plugin") {
            pluginPath = value("--plugin");
        } else if (a == "--playlist") {
            playlistFile = value("--playlist");
        } else if (a == "--script") {
            scriptFile = value("--script");
        } else if (a == "-c") {
            inlineScript = value("-c");
        } else if (a == "--timestamps") {
            g_timestamps = true;
        } else if (a == "--answer") {
            g_player.answer = value("--answer");
        } else if (a == "--confirm") {
            g_player.confirm = value("--confirm");
        } else if (a == "--timer42" && ParseInt(value("--timer42"), n) && n > 0) {
            g_player.timer42Ms = static_cast<UINT>(n);
        } else if (a == "--hold-meter") {
            g_holdMeter.on = true;
        } else if (a == "--log-time-queries") {
            g_player.logTimeQueries = true;
        } else if (a == "--playing" && ParseInt(value("--playing"), n) && n > 0) {
            playingAtLoad = n;
        } else if (a == "--timer2" && ParseInt(value("--timer2"), n) && n > 0) {
            g_player.timer2Ms = static_cast<UINT>(n);
        } else {
            Fail("unknown or malformed argument '%s'", a.c_str());
        }
    }
    if (pluginPath.empty()) {
        Fail(
            "usage: winamp_standin --plugin DLL-or-folder [--playlist FILE] "
            "[--script FILE | -c \"cmd; cmd\"] [--answer yes|no|ok|cancel]");
    }
    if (!playlistFile.empty())
        LoadPlaylist(playlistFile);

    std::vector<std::string> commands;
    if (!scriptFile.empty()) {
        std::ifstream in(scriptFile);
        if (!in)
            Fail("cannot open script '%s'", scriptFile.c_str());
        std::stringstream ss;
        ss << in.rdbuf();
        commands = SplitCommands(ss.str(), '\n');
    }
    for (auto& c : SplitCommands(inlineScript, ';'))
        commands.push_back(c);

    SetX87PrecisionTo53Bits();

    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kMainWindowClass;
    RegisterClassA(&wc);
    g_player.window = CreateWindowExA(0, kMainWindowClass, "Winamp stand-in", WS_OVERLAPPEDWINDOW,
                                      0, 0, 275, 116, nullptr, nullptr, wc.hInstance, nullptr);
    if (!g_player.window)
        Fail("cannot create the main window");
    g_cbtHook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());

    if (playingAtLoad > 0)
        g_player.Play(playingAtLoad - 1);

    std::vector<LoadedPlugin> plugins;
    for (auto& path : FindPlugins(pluginPath))
        plugins.push_back(LoadPlugin(path));
    for (auto& p : plugins) {
        int result = p.record->init();
        Log("init of %s returned %d", p.path.c_str(), result);
    }
    SetTimer(g_player.window, winamp::kStopWatchTimerId, g_player.timer42Ms, nullptr);
    SetTimer(g_player.window, kOtherTimerId, g_player.timer2Ms, nullptr);
    Log("running: timer 42 every %u ms, timer %u every %u ms", g_player.timer42Ms,
        static_cast<unsigned>(kOtherTimerId), g_player.timer2Ms);
    if (g_holdMeter.on) {
        SetTimer(g_player.window, kHoldMeterTimerId, kHoldMeterMs, nullptr);
        Log("hold meter: timer %u every %u ms", static_cast<unsigned>(kHoldMeterTimerId),
            kHoldMeterMs);
    }

    for (const auto& command : commands) {
        std::stringstream ss(command);
        std::string verb, rest;
        ss >> verb;
        std::getline(ss, rest);
        rest = Trim(rest);
        int n = 0;
        if (verb == "play") {
            if (!rest.empty() && !ParseInt(rest, n))
                Fail("play takes an entry number");
            g_player.Play(rest.empty() ? -1 : n - 1);
        } else if (verb == "stop") {
            g_player.Stop();
        } else if (verb == "pause") {
            g_player.Pause();
        } else if (verb == "next") {
            g_player.Next();
        } else if (verb == "config") {
            for (auto& p : plugins) {
                Log("calling config of %s", p.path.c_str());
                p.record->config();
                Log("config returned");
            }
        } else if (verb == "wait") {
            if (!ParseInt(rest, n) || n < 0)
                Fail("wait takes milliseconds");
            PumpFor(static_cast<DWORD>(n));
        } else if (verb == "reload") {
            std::vector<std::string> paths;
            for (auto& p : plugins)
                paths.push_back(p.path);
            QuitAndUnload(plugins);
            plugins.clear();
            for (auto& path : paths)
                plugins.push_back(LoadPlugin(path));
            for (auto& p : plugins) {
                int result = p.record->init();
                Log("init of %s returned %d", p.path.c_str(), result);
            }
        } else if (verb == "windows") {
            ListVisibleWindows();
        } else if (verb == "fileserver") {
            ListFileServerRows();
        } else if (verb == "hold") {
            g_holdMeter.Report();
        } else if (verb == "echo") {
            Log("%s", rest.c_str());
        } else if (verb == "quit") {
            break;
        } else {
            Fail("unknown command '%s'", command.c_str());
        }
    }
    CallQuit(plugins);
    KillTimer(g_player.window, winamp::kStopWatchTimerId);
    KillTimer(g_player.window, kOtherTimerId);
    KillTimer(g_player.window, kHoldMeterTimerId);
    if (g_cbtHook)
        UnhookWindowsHookEx(g_cbtHook);
    DestroyWindow(g_player.window);
    Log("exit");
    return 0;
}
