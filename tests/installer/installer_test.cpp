// The setup program under Wine, in a prefix of its own: it finds Winamp's folder, installs the
// plug-in and the chosen language file, the stand-in player loads the installed plug-in and
// announces a song, and the uninstaller takes everything away again. Refusals (Winamp running,
// a folder that is not Winamp's, an unknown language) change nothing.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "announce/u_aol.h"
#include "aol_standin_util.h"
#include "process_util.h"
#include "version_info_util.h"

namespace {

using testutil::Quote;
using testutil::WinePath;

constexpr char kWinampKey[] = "Software\\Winamp";
constexpr char kWinampUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp";
constexpr char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BrenloPlug3";
constexpr char kSettingsKey[] = "Software\\BrenlosTools\\BrenloPlug3";
constexpr char kMakerKey[] = "Software\\BrenlosTools";
constexpr int kRefused = 2;  // the setup's exit code for a refusal

std::string SetupExe() {
    return WinePath(BP_SETUP_EXE);
}
std::string SourceFile(const std::string& relative) {
    return WinePath(std::string(BP_SOURCE_DIR) + "/" + relative);
}

std::optional<std::string> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Whether the file at `path` holds exactly what the file at `original` holds (without printing
// whole DLLs when not).
testing::AssertionResult SameContent(const std::string& path, const std::string& original) {
    const auto actual = ReadAll(path);
    const auto expected = ReadAll(original);
    if (!expected)
        return testing::AssertionFailure() << original << " cannot be read";
    if (!actual)
        return testing::AssertionFailure() << path << " is missing";
    if (*actual != *expected)
        return testing::AssertionFailure()
               << path << " (" << actual->size() << " bytes) differs from " << original << " ("
               << expected->size() << " bytes)";
    return testing::AssertionSuccess();
}

void WriteAll(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

std::string WindowsDir() {
    char dir[MAX_PATH] = {};
    GetWindowsDirectoryA(dir, MAX_PATH);
    return dir;
}
std::string LanguageFile() {
    return WindowsDir() + "\\brenloplug_language.ini";
}
std::string ProgramFilesWinamp() {
    char dir[MAX_PATH] = {};
    GetEnvironmentVariableA("ProgramFiles", dir, MAX_PATH);
    return std::string(dir) + "\\Winamp";
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetString(HKEY root, const char* path, const char* name, const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

std::string GetString(HKEY root, const char* path, const char* name) {
    char value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return {};
    return value;
}

// Runs the setup or the uninstaller and returns its exit code (-1: did not start or end in time).
// No pipe for its output (it prints none): Wine may start its desktop process from the first
// program with a window, and that process would inherit the pipe and keep it open for good.
int RunSilently(const std::string& commandLine, DWORD timeoutMs = 120000) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = commandLine;
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        ADD_FAILURE() << "cannot start " << commandLine;
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_TIMEOUT) {
        ADD_FAILURE() << "still running after " << timeoutMs << " ms: " << commandLine;
        TerminateProcess(pi.hProcess, static_cast<UINT>(-1));
        WaitForSingleObject(pi.hProcess, INFINITE);
    } else {
        GetExitCodeProcess(pi.hProcess, &code);
    }
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return static_cast<int>(code);
}

// Waits (bounded) until `condition` holds; whether it did. The bound is a far-off "hung" detector.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 30000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
}

// The uninstall entries in the list of programs that are ours (by their display name).
int OurUninstallEntries() {
    HKEY uninstall = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                      0, KEY_READ, &uninstall) != ERROR_SUCCESS)
        return 0;
    int count = 0;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(uninstall, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const std::string path =
            std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + name;
        char display[256] = {};
        DWORD size = sizeof display;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), "DisplayName", RRF_RT_REG_SZ, nullptr,
                         display, &size) == ERROR_SUCCESS &&
            std::string(display).rfind("BrenloPlug3", 0) == 0)
            ++count;
    }
    RegCloseKey(uninstall);
    return count;
}

// A folder that looks like Winamp's to the setup: winamp.exe (the stand-in player) and a
// Plugins folder.
void MakeWinampFolder(const std::string& dir) {
    CreateDirectoryA(dir.c_str(), nullptr);
    CreateDirectoryA((dir + "\\Plugins").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(testutil::WinampStandin().c_str(), (dir + "\\winamp.exe").c_str(), FALSE))
        << dir;
}

// A window of Winamp's main window class, as a running Winamp has it.
class RunningWinamp {
  public:
    RunningWinamp() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Winamp v1.x";
        RegisterClassA(&wc);
        window_ = CreateWindowA("Winamp v1.x", "Winamp", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~RunningWinamp() { DestroyWindow(window_); }
    bool Ok() const { return window_ != nullptr; }

  private:
    HWND window_ = nullptr;
};

// The setup (or, given its command line, the uninstaller) run with its windows, driven the way
// a user clicks through it.
class InteractiveSetup {
  public:
    explicit InteractiveSetup(std::string commandLine = Quote(SetupExe())) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string cmd = std::move(commandLine);
        if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &process_))
            process_ = {};
    }
    ~InteractiveSetup() {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 10000);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }
    InteractiveSetup(const InteractiveSetup&) = delete;
    InteractiveSetup& operator=(const InteractiveSetup&) = delete;

    // The setup's main window (it holds the Next button), waited for (bounded).
    HWND Window() {
        if (process_.hProcess != nullptr)
            WaitUntil([this] {
                EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(this));
                return window_ != nullptr;
            });
        return window_;
    }
    // A message box of the setup with a Yes button (its question), waited for; its text.
    HWND Question(std::string* text) {
        QuestionSearch search{process_.dwProcessId, nullptr};
        WaitUntil([&] {
            EnumWindows(FindQuestion, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        });
        if (search.found != nullptr && text != nullptr) {
            constexpr int kMessageBoxText = 0xFFFF;  // the static control of a message box's text
            char buffer[1024] = {};
            GetDlgItemTextA(search.found, kMessageBoxText, buffer, sizeof buffer);
            *text = buffer;
        }
        return search.found;
    }
    HWND Next() { return GetDlgItem(Window(), IDOK); }
    // Posted, not sent: a page built at run time keeps its own message loop until it is left,
    // so a sent click would come back only then. A disabled button takes no click.
    void ClickNext() {
        HWND next = Next();
        if (IsWindowEnabled(next))
            PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(next));
    }

    // A control of the current page: by its number, or a button by its caption; waited for.
    HWND PageControl(int id) { return WaitForChild(id, nullptr); }
    HWND PageButton(const char* caption) { return WaitForChild(0, caption); }

    // Waits (bounded) until the setup has ended; its exit code, or -1.
    int Finish(DWORD timeoutMs) {
        if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }
    HANDLE Process() const { return process_.hProcess; }

  private:
    struct QuestionSearch {
        DWORD process;
        HWND found;
    };
    static BOOL CALLBACK FindQuestion(HWND window, LPARAM data) {
        auto* s = reinterpret_cast<QuestionSearch*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->process && IsWindowVisible(window) &&
            GetDlgItem(window, IDYES) != nullptr) {
            s->found = window;
            return FALSE;
        }
        return TRUE;
    }
    struct ChildSearch {
        int id;
        const char* caption;
        HWND found;
    };
    static BOOL CALLBACK FindMainWindow(HWND window, LPARAM data) {
        auto* self = reinterpret_cast<InteractiveSetup*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == self->process_.dwProcessId && IsWindowVisible(window) &&
            GetDlgItem(window, IDOK) != nullptr) {
            self->window_ = window;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK FindChild(HWND child, LPARAM data) {
        auto* s = reinterpret_cast<ChildSearch*>(data);
        char caption[256] = {};
        GetWindowTextA(child, caption, sizeof caption);
        const bool match = s->caption != nullptr ? std::string(caption) == s->caption
                                                 : GetDlgCtrlID(child) == s->id;
        if (match && IsWindowVisible(child) && GetParent(child) != s->found) {
            s->found = child;
            return FALSE;
        }
        return TRUE;
    }
    HWND WaitForChild(int id, const char* caption) {
        HWND found = nullptr;
        WaitUntil([&] {
            ChildSearch search{id, caption, nullptr};
            // The pages are child dialogs of the main window; its own buttons are not wanted.
            search.found = Window();
            EnumChildWindows(Window(), FindChild, reinterpret_cast<LPARAM>(&search));
            if (search.found == Window())
                return false;
            found = search.found;
            return true;
        });
        return found;
    }

    PROCESS_INFORMATION process_ = {};
    HWND window_ = nullptr;
};

class Setup : public testing::Test {
  protected:
    // Two places for Winamp: one away from the usual folder and the usual one.
    const std::string games_ = "C:\\Spiele\\Winamp 5";
    const std::string usual_ = ProgramFilesWinamp();

    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }

    void Clean() {
        RegDeleteTreeA(HKEY_CURRENT_USER, kWinampKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, kWinampKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kWinampUninstallKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kWinampUninstallKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUninstallKey);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
        RegDeleteTreeA(HKEY_CURRENT_USER, kMakerKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, kMakerKey);
        DeleteFileA(LanguageFile().c_str());
        RemoveTree("C:\\Spiele");
        RemoveTree(usual_);
    }

    static int RunSetup(const std::string& arguments) {
        return RunSilently(Quote(SetupExe()) + " " + arguments);
    }
    static std::string InstalledDll(const std::string& winamp) {
        return winamp + "\\Plugins\\gen_brenloplug3.dll";
    }
    static std::string Uninstaller(const std::string& winamp) {
        return winamp + "\\Plugins\\uninstall_brenloplug3.exe";
    }
};

TEST_F(Setup, CarriesTheBuildsVersion) {
    const auto info = testutil::ReadVersionInfo(SetupExe());
    ASSERT_TRUE(info.found);
    const auto expected = testutil::FixedVersion(BP_VERSION);
    EXPECT_EQ(info.productVersionMS, expected.first);
    EXPECT_EQ(info.productVersionLS, expected.second);
    EXPECT_EQ(info.String("ProductVersion"), BP_VERSION);
    EXPECT_EQ(info.String("ProductName"), "BrenloPlug3");
}

// Where the setup puts the plug-in when nothing but /S (and the language) is given.
TEST_F(Setup, FindsWinampsFolderTheWayWinampsSetupRecordsIt) {
    struct Case {
        const char* what;
        void (*record)(const std::string& games, const std::string& usual);
        const char* extraArguments;
        bool expectGames;  // true: into games_, false: into usual_
    };
    const Case cases[] = {
        {"the folder recorded under HKCU\\Software\\Winamp",
         [](const std::string& games, const std::string&) {
             SetString(HKEY_CURRENT_USER, kWinampKey, nullptr, games);
         },
         "", true},
        {"the folder of Winamp's uninstaller",
         [](const std::string& games, const std::string&) {
             SetString(HKEY_LOCAL_MACHINE, kWinampUninstallKey, "UninstallString",
                       "\"" + games + "\\UninstWA.exe\"");
         },
         "", true},
        {"the usual folder under Program Files when nothing is recorded",
         [](const std::string&, const std::string&) {}, "", false},
        {"a recorded folder without winamp.exe is passed over",
         [](const std::string&, const std::string&) {
             SetString(HKEY_CURRENT_USER, kWinampKey, nullptr, "C:\\Spiele\\Alt");
             CreateDirectoryA("C:\\Spiele\\Alt", nullptr);
         },
         "", false},
        {"a folder given with /D wins over the recorded one",
         [](const std::string&, const std::string& usual) {
             SetString(HKEY_CURRENT_USER, kWinampKey, nullptr, usual);
         },
         "/D=C:\\Spiele\\Winamp 5", true},
    };
    for (const Case& c : cases) {
        Clean();
        CreateDirectoryA("C:\\Spiele", nullptr);
        MakeWinampFolder(games_);
        MakeWinampFolder(usual_);
        c.record(games_, usual_);

        EXPECT_EQ(RunSetup(std::string("/S /LANGUAGE=de ") + c.extraArguments), 0) << c.what;
        const std::string& into = c.expectGames ? games_ : usual_;
        const std::string& other = c.expectGames ? usual_ : games_;
        EXPECT_TRUE(SameContent(InstalledDll(into), testutil::PluginDll())) << c.what;
        EXPECT_FALSE(Exists(InstalledDll(other))) << c.what;
        EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"),
                  "\"" + Uninstaller(into) + "\"")
            << c.what;
    }
}

TEST_F(Setup, InstallsThePlayerAnnouncesWithItAndTheUninstallerRemovesIt) {
    CreateDirectoryA("C:\\Spiele", nullptr);
    MakeWinampFolder(games_);
    SetString(HKEY_CURRENT_USER, kWinampKey, nullptr, games_);

    ASSERT_EQ(RunSetup("/S /LANGUAGE=en"), 0);
    EXPECT_TRUE(SameContent(InstalledDll(games_), testutil::PluginDll()));
    EXPECT_TRUE(SameContent(LanguageFile(), SourceFile("lang/english/brenloplug_language.ini")));

    // The entry in the list of programs.
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"),
              "BrenloPlug3 (Winamp-Plug-in)");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"), BP_VERSION);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher"), "BrenlosTools");
    const std::string quiet = GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString");
    EXPECT_EQ(quiet, "\"" + Uninstaller(games_) + "\" /S");
    EXPECT_TRUE(Exists(Uninstaller(games_)));

    // The stand-in player loads what is in Winamp's Plugins folder: the first-start question
    // comes from the installed English language file, and the song is announced.
    {
        testutil::ChatClientProcess client("--room \"A|29|Musik\"");
        ASSERT_TRUE(client.Ready());
        const std::string list = testutil::TempFile(
            "installed.m3u",
            "C:\\Music\\Nena - 99 Luftballons.mp3|Nena - 99 Luftballons|185|128\n");
        testutil::PlayerCue posted;
        testutil::BackgroundProgram run(
            Quote(games_ + "\\winamp.exe") + " --plugin " + Quote(games_ + "\\Plugins") +
                " --playlist " + Quote(list) + " --answer no -c \"" + testutil::kUntilArmed +
                "; play 1; await " + posted.Name() + "; quit\"",
            "player");
        EXPECT_TRUE(client.WaitFor("Nena - 99 Luftballons", 30000)) << "the song's line";
        posted.Set();
        const auto player = run.Finish();
        EXPECT_EQ(player.exitCode, 0) << player.output;
        EXPECT_GE(player.Find("says 'This is the first start of BrenloPlug3."), 0) << player.output;
        const auto chat = client.Finish();
        const auto lines = testutil::ChatClientProcess::Transcript(chat, "Musik");
        ASSERT_EQ(lines.size(), 2u) << chat.output;
        EXPECT_EQ(lines[0], kAdvertLine);
        EXPECT_NE(lines[1].find("Nena - 99 Luftballons"), std::string::npos) << lines[1];
    }
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "the plug-in saved its defaults";

    // Uninstall the way the list of programs does it. The uninstaller runs on as a copy of itself
    // in the temporary folder, so wait (bounded) until its work is done.
    EXPECT_EQ(RunSilently(quiet), 0);
    WaitUntil(
        [&] {
            return !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey) && !Exists(Uninstaller(games_));
        },
        60000);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(Exists(Uninstaller(games_)));
    EXPECT_FALSE(Exists(InstalledDll(games_)));
    EXPECT_FALSE(Exists(LanguageFile()));
    EXPECT_TRUE(Exists(games_ + "\\winamp.exe")) << "Winamp's own files stay";
    EXPECT_TRUE(Exists(games_ + "\\Plugins")) << "Winamp's own folder stays";
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey))
        << "a silent uninstall keeps the settings unless told otherwise";
}

// The test's prefix runs with an English locale whatever the host's (ctest sets LANG for it), so
// the setup's default is English here; a German Windows would get the German file.
TEST_F(Setup, InstallsTheLanguageGivenWithLanguageAndOtherwiseTheLanguageOfWindows) {
    ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_ENGLISH)
        << "the installer tests expect an English prefix (LANG is set by ctest)";
    struct Case {
        const char* option;
        const char* file;
        const char* recorded;  // the uninstall entry's "Language"
    };
    const Case cases[] = {
        {"/LANGUAGE=de", "lang/german/brenloplug_language.ini", "de"},
        {"/LANGUAGE=en", "lang/english/brenloplug_language.ini", "en"},
        {"", "lang/english/brenloplug_language.ini", "en"},
    };
    for (const Case& c : cases) {
        Clean();
        CreateDirectoryA("C:\\Spiele", nullptr);
        MakeWinampFolder(games_);
        EXPECT_EQ(RunSetup(std::string("/S ") + c.option + " /D=" + games_), 0) << c.option;
        EXPECT_TRUE(SameContent(LanguageFile(), SourceFile(c.file))) << c.option;
        EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "Language"), c.recorded) << c.option;
    }
}

TEST_F(Setup, InstallingOverAnInstallReplacesItsFilesAndKeepsOneEntry) {
    CreateDirectoryA("C:\\Spiele", nullptr);
    MakeWinampFolder(games_);
    ASSERT_EQ(RunSetup("/S /LANGUAGE=de /D=" + games_), 0);
    SetString(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\general", "presongtitle",
              "hallo");
    // What an earlier version left: other files under the same names.
    WriteAll(InstalledDll(games_), "the earlier DLL");
    WriteAll(Uninstaller(games_), "the earlier uninstaller");
    WriteAll(LanguageFile(), "[language_other]\r\nfirststartmessage=earlier\r\n");

    ASSERT_EQ(RunSetup("/S /LANGUAGE=en /D=" + games_), 0);
    EXPECT_TRUE(SameContent(InstalledDll(games_), testutil::PluginDll()));
    EXPECT_TRUE(SameContent(LanguageFile(), SourceFile("lang/english/brenloplug_language.ini")));
    EXPECT_NE(ReadAll(Uninstaller(games_)), std::optional<std::string>("the earlier uninstaller"));
    EXPECT_EQ(OurUninstallEntries(), 1);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"),
              "\"" + Uninstaller(games_) + "\"");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "Language"), "en");
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\general",
                        "presongtitle"),
              "hallo")
        << "a new install keeps the user's settings";
}

// The uninstaller with its windows asks whether the settings go too; only Yes removes them.
TEST_F(Setup, TheInteractiveUninstallerRemovesTheSettingsOnlyWhenTheUserSaysYes) {
    struct Case {
        int button;
        bool settingsGone;
    };
    const Case cases[] = {{IDNO, false}, {IDYES, true}};
    for (const Case& c : cases) {
        Clean();
        CreateDirectoryA("C:\\Spiele", nullptr);
        MakeWinampFolder(games_);
        ASSERT_EQ(RunSetup("/S /LANGUAGE=de /D=" + games_), 0);
        SetString(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\general", "presongtitle",
                  "hallo");

        // "_?=" keeps the uninstaller in its place, so that its process is the one driven here.
        InteractiveSetup uninstaller(Quote(Uninstaller(games_)) + " _?=" + games_ + "\\Plugins");
        ASSERT_NE(uninstaller.Window(), nullptr) << "the uninstaller's window did not show";
        uninstaller.ClickNext();  // the confirmation page: Uninstall
        std::string text;
        HWND question = uninstaller.Question(&text);
        ASSERT_NE(question, nullptr) << "no question about the settings";
        EXPECT_EQ(text,
                  "Do you want to delete your BrenloPlug3 settings as well?\r\n\r\nWith No they "
                  "are kept for a later installation.");
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey)) << "removed before the answer";
        PostMessageA(question, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(question, c.button)));
        // The last page waits for its Close button.
        int exitCode = -1;
        WaitUntil(
            [&] {
                if (IsWindowEnabled(uninstaller.Next()))
                    uninstaller.ClickNext();
                exitCode = uninstaller.Finish(200);
                return exitCode != -1;
            },
            60000);
        EXPECT_EQ(exitCode, 0) << "button " << c.button;
        EXPECT_FALSE(Exists(InstalledDll(games_))) << "button " << c.button;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "button " << c.button;
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, kSettingsKey), !c.settingsGone)
            << "button " << c.button;
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, kMakerKey), !c.settingsGone)
            << "button " << c.button;
    }
}

TEST_F(Setup, RefusesWithoutChangingAnything) {
    struct Case {
        const char* what;
        bool winampRunning;
        const char* arguments;
    };
    const Case cases[] = {
        {"Winamp is running", true, "/S /LANGUAGE=de"},
        {"the folder is not Winamp's", false, "/S /LANGUAGE=de /D=C:\\Spiele\\Leer"},
        {"an unknown language", false, "/S /LANGUAGE=fr"},
    };
    for (const Case& c : cases) {
        Clean();
        CreateDirectoryA("C:\\Spiele", nullptr);
        CreateDirectoryA("C:\\Spiele\\Leer", nullptr);
        MakeWinampFolder(games_);
        SetString(HKEY_CURRENT_USER, kWinampKey, nullptr, games_);
        // An earlier version is installed by hand.
        WriteAll(InstalledDll(games_), "the earlier DLL");
        WriteAll(LanguageFile(), "[language_other]\r\nfirststartmessage=earlier\r\n");

        std::optional<RunningWinamp> winamp;
        if (c.winampRunning) {
            winamp.emplace();
            ASSERT_TRUE(winamp->Ok());
        }
        EXPECT_EQ(RunSetup(c.arguments), kRefused) << c.what;
        EXPECT_TRUE(ReadAll(InstalledDll(games_)) == "the earlier DLL")
            << c.what << ": the earlier DLL was replaced";
        EXPECT_EQ(ReadAll(LanguageFile()), "[language_other]\r\nfirststartmessage=earlier\r\n")
            << c.what;
        EXPECT_FALSE(Exists(Uninstaller(games_))) << c.what;
        EXPECT_FALSE(Exists("C:\\Spiele\\Leer\\Plugins")) << c.what;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << c.what;
    }
}

TEST_F(Setup, UninstallerRefusesWhileWinampRunsAndRemovesSettingsOnlyWhenAsked) {
    CreateDirectoryA("C:\\Spiele", nullptr);
    MakeWinampFolder(games_);
    ASSERT_EQ(RunSetup("/S /LANGUAGE=de /D=" + games_), 0);
    EXPECT_TRUE(SameContent(LanguageFile(), SourceFile("lang/german/brenloplug_language.ini")));
    SetString(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\general", "presongtitle",
              "hallo");

    // "_?=" (last, unquoted) keeps the uninstaller in its place, so that it can be waited for.
    const auto uninstall = [&](const std::string& options) {
        return RunSilently(Quote(Uninstaller(games_)) + " /S " + options + " _?=" + games_ +
                           "\\Plugins");
    };
    {
        RunningWinamp winamp;
        ASSERT_TRUE(winamp.Ok());
        EXPECT_EQ(uninstall(""), kRefused);
        EXPECT_TRUE(Exists(InstalledDll(games_)));
        EXPECT_TRUE(Exists(LanguageFile()));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    }
    EXPECT_EQ(uninstall("/REMOVESETTINGS"), 0);
    EXPECT_FALSE(Exists(InstalledDll(games_)));
    EXPECT_FALSE(Exists(LanguageFile()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kMakerKey)) << "the maker's key was left empty";
}

// Without /S: nothing recorded and no Winamp under Program Files, so the directory page asks
// and lets the user go on only with a folder that holds winamp.exe; the language chosen on the
// language page is the one installed.
TEST_F(Setup, WithItsWindowsAsksForWinampsFolderAndInstallsTheLanguageChosenOnItsPage) {
    CreateDirectoryA("C:\\Spiele", nullptr);
    MakeWinampFolder(games_);
    InteractiveSetup setup;
    ASSERT_NE(setup.Window(), nullptr) << "the setup's window did not show";
    setup.ClickNext();  // welcome page

    constexpr int kFolderEdit = 1019;  // the directory page's folder field
    HWND folder = setup.PageControl(kFolderEdit);
    ASSERT_NE(folder, nullptr) << "no directory page";
    const auto nextEnabled = [&] { return IsWindowEnabled(setup.Next()) != FALSE; };
    const auto nextDisabled = [&] { return IsWindowEnabled(setup.Next()) == FALSE; };
    EXPECT_TRUE(WaitUntil(nextDisabled)) << "Next must wait for Winamp's folder";
    // Each change of the folder must turn the button: the waits see the page's verdict, not
    // the state it had before.
    SendMessageA(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(games_.c_str()));
    ASSERT_TRUE(WaitUntil(nextEnabled)) << "Winamp's folder was not accepted";
    SendMessageA(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\Spiele"));
    EXPECT_TRUE(WaitUntil(nextDisabled)) << "a folder without winamp.exe was accepted";
    SendMessageA(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(games_.c_str()));
    ASSERT_TRUE(WaitUntil(nextEnabled)) << "Winamp's folder was not accepted";
    setup.ClickNext();

    HWND german = setup.PageButton("Deutsch");
    HWND english = setup.PageButton("English");
    ASSERT_NE(german, nullptr) << "no language page";
    ASSERT_NE(english, nullptr);
    // Under an English Windows the page proposes English; the user picks German.
    EXPECT_EQ(SendMessageA(english, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendMessageA(german, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageA(german, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(english, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    setup.ClickNext();  // Install

    // The files page moves on to the last page by itself; its button ends the setup.
    int exitCode = -1;
    for (int i = 0; i < 120 && exitCode == -1; ++i) {
        if (Exists(Uninstaller(games_)) && IsWindowEnabled(setup.Next()))
            setup.ClickNext();
        exitCode = setup.Finish(500);
    }
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(SameContent(InstalledDll(games_), testutil::PluginDll()));
    EXPECT_TRUE(SameContent(LanguageFile(), SourceFile("lang/german/brenloplug_language.ini")));
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation"),
              games_ + "\\Plugins");
}

}  // namespace
