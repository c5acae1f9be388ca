// The plug-in DLL as the host sees it: the export, the record, and the stand-in player driving
// init, config and quit.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "plugin/STNDGenPlugStructures.h"
#include "process_util.h"

using testutil::Quote;
using testutil::RunProgram;

namespace {

TEST(PluginDll, ExportsTheRecordWithVersionDescriptionAndEntries) {
    // An existing product key: the load in this process must not ask the first-start question,
    // which nothing here would answer.
    HKEY product = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, &product, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(product);
    ASSERT_TRUE(testutil::WaitUntilPluginUnmapped()) << "an earlier test still holds the DLL";
    HMODULE dll = LoadLibraryA(testutil::PluginDll().c_str());
    ASSERT_NE(dll, nullptr) << testutil::PluginDll();
    using GetPlugin = winampGeneralPurposePlugin*(BP_HOSTCALL*)();
    auto get = reinterpret_cast<GetPlugin>(
        reinterpret_cast<void*>(GetProcAddress(dll, "winampGetGeneralPurposePlugin")));
    ASSERT_NE(get, nullptr);
    winampGeneralPurposePlugin* record = get();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->version, 0x10);
    EXPECT_STREQ(record->description, "BrenloPlug, Bringt Musik ins AOL");
    EXPECT_NE(record->init, nullptr);
    EXPECT_NE(record->config, nullptr);
    EXPECT_NE(record->quit, nullptr);
    EXPECT_EQ(record->hwndParent, nullptr) << "the host fills in its window";
    EXPECT_EQ(get(), record) << "one static record for the life of the library";
    FreeLibrary(dll);
}

TEST(StandinPlayer, CallsInitConfigAndQuitInOrder) {
    std::string playlist =
        testutil::TempFile("order.m3u", "C:\\music\\one.mp3|Artist - One|30|128\n");
    auto r = RunProgram(Quote(testutil::WinampStandin()) + " --plugin " +
                        Quote(testutil::PluginDll()) + " --playlist " + Quote(playlist) +
                        " --answer no -c \"config; window BrenloPlug3 Konfiguration; quit\"");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    int loaded = r.Find("description \"BrenloPlug, Bringt Musik ins AOL\"");
    int init = r.Find("returned 0", loaded);
    int config = r.Find("config returned", init);
    EXPECT_GT(r.Find("window 'BrenloPlug3 Konfiguration' is shown", config), config) << r.output;
    int quit = r.Find("quit returned", config);
    int unloaded = r.Find("unloaded", quit);
    EXPECT_GE(loaded, 0) << r.output;
    EXPECT_GT(init, loaded) << r.output;
    EXPECT_GT(config, init) << r.output;
    EXPECT_GT(quit, config) << r.output;
    EXPECT_GT(unloaded, quit) << r.output;
}

struct BadInput {
    const char* name;
    std::string args;
    const char* message;
};

TEST(StandinPlayer, ReportsBadInputWithAMessageAndNonZeroExit) {
    std::string badPlaylist = testutil::TempFile("bad.m3u", "only|three|fields\n");
    std::string badLength = testutil::TempFile("badlen.m3u", "a.mp3|Title|long|128\n");
    const BadInput cases[] = {
        {"missing dll", "--plugin " + Quote(testutil::BuildDir() + "\\gen_missing.dll"),
         "cannot find plug-in"},
        {"dll without export", "--plugin C:\\windows\\system32\\version.dll",
         "has no winampGetGeneralPurposePlugin export"},
        {"malformed playlist",
         "--plugin " + Quote(testutil::PluginDll()) + " --playlist " + Quote(badPlaylist),
         "expected 'file|title|seconds|kbit/s'"},
        {"non-numeric length",
         "--plugin " + Quote(testutil::PluginDll()) + " --playlist " + Quote(badLength), "line 1"},
        {"unknown command", "--plugin " + Quote(testutil::PluginDll()) + " --answer no -c jump",
         "unknown command 'jump'"},
    };
    for (const auto& c : cases) {
        auto r = RunProgram(Quote(testutil::WinampStandin()) + " " + c.args);
        EXPECT_EQ(r.exitCode, 2) << c.name << "\n" << r.output;
        EXPECT_GE(r.Find(std::string("player: error: ")), 0) << c.name << "\n" << r.output;
        EXPECT_GE(r.Find(c.message), 0) << c.name << "\n" << r.output;
    }
}

}  // namespace
