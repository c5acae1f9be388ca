// Song detection of the plug-in DLL inside the stand-in player: the player's log shows every song
// query the plug-in makes, so each detected song is one query 125 followed by 211, 212 and 126.
// The scripts wait for those queries; "ticks" gives the plug-in further timer messages on which a
// second, wrong announcement would show.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "process_util.h"

using testutil::Quote;
using testutil::RunProgram;

namespace {

std::string Playlist() {
    return testutil::TempFile(
        "songs.m3u",
        "C:\\Music\\Daft Punk - One More Time.mp3|Daft Punk - One More "
        "Time|300|192\n"
        "C:\\Music\\Nena - 99 Luftballons.mp3|Nena - 99 Luftballons|185|128\n");
}

testutil::ProcessResult RunPlayer(const std::string& extra, const std::string& script) {
    return RunProgram(Quote(testutil::WinampStandin()) + " --plugin " +
                      Quote(testutil::PluginDll()) + " --playlist " + Quote(Playlist()) +
                      " --answer no " + extra + " -c \"" + script + "\"");
}

int Count(const testutil::ProcessResult& r, const std::string& text, int from = 0, int to = -1) {
    auto lines = r.Lines();
    int n = 0;
    for (int i = from; i < static_cast<int>(lines.size()) && (to < 0 || i < to); ++i)
        if (lines[i].find(text) != std::string::npos)
            ++n;
    return n;
}

TEST(SongDetection, AStopThenAPlayDeliversExactlyOneSongWithTheCurrentEntrysFields) {
    auto r = RunPlayer("--log-time-queries", std::string(testutil::kUntilArmed) +
                                                 "; play 2; until query 126; ticks 8; quit");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    int playing = r.Find("playing entry 2");
    ASSERT_GE(playing, 0) << r.output;
    EXPECT_EQ(Count(r, "query 125"), 1) << r.output;
    int index = r.Find("query 125: current entry index 1", playing);
    int file = r.Find("query 211: file name of entry index 1: C:\\Music\\Nena - 99 Luftballons.mp3",
                      index);
    int title = r.Find("query 212: title of entry index 1: Nena - 99 Luftballons", file);
    int rate = r.Find("query 126: bit rate 128", title);
    EXPECT_GT(index, playing) << r.output;
    EXPECT_GT(file, index) << r.output;
    EXPECT_GT(title, file) << r.output;
    EXPECT_GT(rate, title) << r.output;
    EXPECT_EQ(r.Find("query 105 data 1: 185", rate), rate + 1) << "the length is asked again last\n"
                                                               << r.output;
}

TEST(SongDetection, ASongPlayingAtLoadIsOnlyAnnouncedAfterAStopAndAPlay) {
    auto r = RunPlayer("--playing 1", "ticks 12; echo before stop; stop; " +
                                          std::string(testutil::kUntilArmed) +
                                          "; play 1; until query 126; ticks 8; quit");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    int marker = r.Find("player: before stop");
    ASSERT_GE(marker, 0) << r.output;
    EXPECT_EQ(Count(r, "query 125", 0, marker), 0) << r.output;
    EXPECT_EQ(Count(r, "query 125", marker), 1) << r.output;
    EXPECT_GE(r.Find("query 212: title of entry index 0: Daft Punk - One More Time", marker), 0)
        << r.output;
}

TEST(SongDetection, EverySongOfAPlayingListIsAnnouncedOnce) {
    // The first entry ends after two seconds; the player stops briefly and goes on to the next.
    std::string list = testutil::TempFile("short.m3u", "C:\\a.mp3|A|2|128\nC:\\b.mp3|B|60|160\n");
    auto r =
        RunProgram(Quote(testutil::WinampStandin()) + " --plugin " + Quote(testutil::PluginDll()) +
                   " --playlist " + Quote(list) + " --answer no -c \"" + testutil::kUntilArmed +
                   "; play 1; until query 126: bit rate 128; until query 126: bit rate "
                   "160; ticks 8; quit\"");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(Count(r, "query 125"), 2) << r.output;
    int a = r.Find("query 212: title of entry index 0: A");
    int b = r.Find("query 212: title of entry index 1: B", a);
    EXPECT_GE(a, 0) << r.output;
    EXPECT_GT(b, a) << r.output;
}

TEST(SongDetection, QuitReleasesTheHookAndThePlayerRunsOnAfterTheUnload) {
    auto r = RunPlayer("", std::string(testutil::kUntilArmed) + "; play 1; until query 126; quit");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    int quit = r.Find("quit returned");
    EXPECT_GT(r.Find("main window procedure after quit: the player's own", quit), quit) << r.output;
    int unloaded = r.Find("unloaded", quit);
    EXPECT_GT(r.Find("query 105 after unload: position", unloaded), unloaded) << r.output;
    EXPECT_GE(r.Find("player: exit", unloaded), 0) << r.output;
    EXPECT_EQ(Count(r, "query 125", quit), 0) << "nothing is announced after quit\n" << r.output;
}

}  // namespace
