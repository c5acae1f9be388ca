// The first start of the plug-in in the stand-in player, on the real registry of the test prefix:
// the question is asked once, and either answer writes every setting with its first-start value.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "process_util.h"

using testutil::Quote;
using testutil::RunProgram;

namespace {

constexpr char kProductKey[] = "Software\\BrenlosTools\\BrenloPlug3";

struct Stored {
    DWORD type = REG_NONE;
    std::string bytes;
    bool present = false;
};

Stored ReadValue(const std::string& subkey, const std::string& name) {
    Stored v;
    HKEY key = nullptr;
    std::string path = std::string(kProductKey) + "\\" + subkey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
        v.bytes.resize(size);
        v.present =
            RegQueryValueExA(key, name.c_str(), nullptr, &v.type,
                             reinterpret_cast<BYTE*>(v.bytes.data()), &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return v;
}

Stored Dword(std::uint32_t n) {
    Stored v{REG_DWORD, std::string(reinterpret_cast<const char*>(&n), 4), true};
    return v;
}

Stored Text(const std::string& s) {
    return Stored{REG_SZ, s + '\0', true};
}

std::vector<std::pair<std::string, Stored>> FirstStartValues() {
    std::vector<std::pair<std::string, Stored>> v = {
        {"general\\enablechat", Dword(1)},
        {"general\\enablefade", Dword(0)},
        {"general\\presongtitle", Text(".:BP::[ ")},
        {"general\\postsongtitle", Text(" ]:: v3 :.")},
        {"general\\preposttitlefade", Dword(1)},
        {"general\\enablefontformat", Dword(0)},
        {"general\\extsonginfo", Dword(0)},
        {"general\\fontface", Text("Comic Sans MS")},
        {"general\\bold", Dword(0)},
        {"general\\italic", Dword(0)},
        {"general\\underline", Dword(0)},
        {"general\\strikeout", Dword(0)},
        {"aol\\enableaol", Dword(1)},
        {"aol\\aoladvertising", Dword(1)},
        {"aol\\aolwavyscroll", Dword(0)},
        {"aol\\aolfs", Dword(0)},
        {"fs\\fsport", Text("1000")},
        {"fader\\fadecolors", Dword(1)},
    };
    for (int n = 1; n <= 10; ++n)
        v.push_back({"fader\\fadecolor" + std::to_string(n), Dword(0)});
    return v;
}

void ExpectFirstStartValues(const std::string& context) {
    for (const auto& [path, expected] : FirstStartValues()) {
        auto slash = path.find('\\');
        Stored got = ReadValue(path.substr(0, slash), path.substr(slash + 1));
        EXPECT_TRUE(got.present) << context << ": " << path;
        EXPECT_EQ(got.type, expected.type) << context << ": " << path;
        EXPECT_EQ(got.bytes, expected.bytes) << context << ": " << path;
    }
}

// The question and, after a yes, the dialog come with the load; a few timer ticks give the
// plug-in's own timers their turn before the windows are listed.
testutil::ProcessResult LoadInPlayer(const std::string& answer) {
    std::string playlist = testutil::TempFile("first.m3u", "C:\\m\\a.mp3|A|60|128\n");
    return RunProgram(Quote(testutil::WinampStandin()) + " --plugin " +
                      Quote(testutil::PluginDll()) + " --playlist " + Quote(playlist) +
                      " --answer " + answer + " -c \"ticks 3; windows; quit\"");
}

// The shipped English language file in the Windows folder, for the length of a test.
class EnglishLanguageFile {
  public:
    EnglishLanguageFile() {
        char folder[MAX_PATH] = {};
        GetWindowsDirectoryA(folder, MAX_PATH);
        path_ = std::string(folder) + "\\brenloplug_language.ini";
        std::string source =
            testutil::WinePath(BP_SOURCE_DIR) + "\\lang\\english\\brenloplug_language.ini";
        copied_ = CopyFileA(source.c_str(), path_.c_str(), FALSE) != 0;
    }
    ~EnglishLanguageFile() { DeleteFileA(path_.c_str()); }
    bool copied_ = false;

  private:
    std::string path_;
};

TEST(FirstStart, EitherAnswerWritesEveryFirstStartValueYesShowsTheDialogAndTheNextLoadAsksNothing) {
    EnglishLanguageFile language;
    ASSERT_TRUE(language.copied_);
    for (const char* answer : {"no", "yes"}) {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
        auto first = LoadInPlayer(answer);
        ASSERT_EQ(first.exitCode, 0) << answer << "\n" << first.output;
        int asked = first.Find(std::string("answering ") + answer);
        int loaded = first.Find("description \"BrenloPlug, Bringt Musik ins AOL\"");
        EXPECT_GE(asked, 0) << "the first start asks\n" << first.output;
        EXPECT_GE(first.Find("says 'This is the first start of BrenloPlug3. Do you want to "
                             "configure the plug-in now?'"),
                  0)
            << "the question is the language file's\n"
            << first.output;
        EXPECT_LT(asked, loaded) << "the question comes with the load, before the record\n"
                                 << first.output;
        ExpectFirstStartValues(std::string("answered ") + answer);
        const bool shown = first.Find("visible window: 'BrenloPlug3 Konfiguration'") >= 0;
        EXPECT_EQ(shown, std::string(answer) == "yes")
            << "Yes opens the configuration dialog, No leaves it hidden\n"
            << first.output;

        auto second = LoadInPlayer(answer);
        ASSERT_EQ(second.exitCode, 0) << second.output;
        EXPECT_EQ(second.Find("answering"), -1) << "the next load asks nothing\n" << second.output;
    }
}

}  // namespace
