// The chat driver's Windows window operations against the stand-in chat client in its own
// process: lines arrive byte for byte, typed text comes back, and a hanging client is survived.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "announce/chat_windows_win32.h"
#include "announce/u_aol.h"
#include "aol_standin_util.h"

namespace {

using testutil::ChatClientProcess;

class ChatDriverOnWindows : public testing::Test {
  protected:
    void SetUp() override { SetChatWindows(&Win32ChatWindows()); }
    void TearDown() override { SetChatWindows(nullptr); }
};

TAolMessage SongMessage() {
    TAolMessage m;
    m.PreText = "Ich h\xF6re gerade: ";
    m.Text =
        "<font color=\"#FF0000\">N</font><font color=\"#0000FF\">ena</font> - 99 Luftballons"
        " <a href=\"www.brenloplug:1AbC\" title=\"x\">&lt;</a>";
    m.PostText = " :-)";
    m.FontFormat = true;
    m.FontFace = "Comic Sans MS";
    m.Bold = true;
    m.Advertising = true;
    return m;
}

TEST_F(ChatDriverOnWindows, AdvertAndLineArriveByteForByteInEveryPassingRoomAndTypedTextStays) {
    ChatClientProcess client(
        "--trace --room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\" --room \"C|24|Zwei|xy\""
        " --room \"B|21|Ohne Verlauf|abc\" --room \"AB|20|Klein|q\"");
    ASSERT_TRUE(client.Ready());
    const TAolMessage m = SongMessage();
    EXPECT_EQ(PostAolMessage(m), 1);
    const auto r = client.Finish();

    const std::string line = BuildAolLine(m);
    ASSERT_EQ(line.rfind("<font face=\"Comic Sans MS\"><b></i></u></s>Ich h\xF6re", 0), 0u);
    const std::vector<std::string> posted = {kAdvertLine, line};
    for (const char* room : {"Lobby", "Musik", "Zwei"})
        EXPECT_EQ(ChatClientProcess::Transcript(r, room), posted) << room << "\n" << r.output;
    for (const char* room : {"Ohne Verlauf", "Klein"}) {
        EXPECT_TRUE(ChatClientProcess::Transcript(r, room).empty()) << room;
        EXPECT_TRUE(ChatClientProcess::Traced(r, room, 1, "WM_").empty()) << room;
    }
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt");
    EXPECT_EQ(ChatClientProcess::InputText(r, "Musik", 1), "");
    EXPECT_EQ(ChatClientProcess::InputText(r, "Zwei", 2), "xy");
    EXPECT_TRUE(ChatClientProcess::Traced(r, "Zwei", 1, "WM_").empty());
    EXPECT_EQ(ChatClientProcess::InputText(r, "Ohne Verlauf", 1), "abc");
    EXPECT_EQ(ChatClientProcess::InputText(r, "Klein", 1), "q");
}

// The texts an input gave out, grouped by sample: every sample begins with WM_GETTEXTLENGTH
// (Wine may hand one WM_GETTEXT of another process to the control more than once).
std::vector<std::vector<std::string>> Samples(const testutil::ProcessResult& r,
                                              const std::string& room, int input) {
    std::vector<std::vector<std::string>> samples;
    const std::string prefix = "chat: room '" + room + "' input " + std::to_string(input) + ": ";
    for (const auto& l : r.Lines()) {
        if (l.rfind(prefix + "WM_GETTEXTLENGTH", 0) == 0) {
            samples.emplace_back();
        } else if (l.rfind(prefix + "WM_GETTEXT ", 0) == 0 && !samples.empty()) {
            samples.back().push_back(l.substr(prefix.size() + 11));
        }
    }
    return samples;
}

TEST_F(ChatDriverOnWindows, UserTypingOnLosesTheChangingEndingInShapeAAndGetsTheFourthSampleInC) {
    ChatClientProcess client("--trace --room \"AB|24|Tipper|Hallo|40\" --room \"C|24|Zwei|ab|40\"");
    ASSERT_TRUE(client.Ready());
    TAolMessage m;
    m.Text = "Kraftwerk - Das Model";
    PostAolMessage(m);
    const auto r = client.Finish();

    // The user types a new letter every 40 ms, so the four samples all end differently.
    const auto shapeA = Samples(r, "Tipper", 1);
    ASSERT_EQ(shapeA.size(), 4u) << r.output;
    ASSERT_FALSE(shapeA[0].empty());
    ASSERT_FALSE(shapeA[3].empty());
    EXPECT_NE(shapeA[0].back(), shapeA[3].back()) << "the user did not type during the sampling";
    EXPECT_EQ(ChatClientProcess::InputText(r, "Tipper", 1), "");

    const auto shapeC = Samples(r, "Zwei", 2);
    ASSERT_EQ(shapeC.size(), 4u) << r.output;
    const std::string restored = ChatClientProcess::InputText(r, "Zwei", 2);
    EXPECT_NE(std::find(shapeC[3].begin(), shapeC[3].end(), restored), shapeC[3].end()) << restored;
    EXPECT_GT(restored.size(), std::string("ab").size());
    for (const char* room : {"Tipper", "Zwei"})
        EXPECT_EQ(ChatClientProcess::Transcript(r, room),
                  std::vector<std::string>{"Kraftwerk - Das Model"});
}

TEST_F(ChatDriverOnWindows, HangingClientReleasesTheCallerWithinSecondsAndTheNextSongArrives) {
    ChatClientProcess client("--hang-on-post 8000 --room \"AB|24|Lobby|hallo\"");
    ASSERT_TRUE(client.Ready());
    TAolMessage first;
    first.Text = "erstes Lied";
    first.Advertising = true;
    const ULONGLONG start = GetTickCount64();
    PostAolMessage(first);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_LT(took, 4000u);

    ASSERT_TRUE(client.WaitFor("chat: answering again", 20000));
    TAolMessage second;
    second.Text = "zweites Lied";
    PostAolMessage(second);
    const auto r = client.Finish();
    EXPECT_EQ(ChatClientProcess::Transcript(r, "Lobby"), std::vector<std::string>{"zweites Lied"})
        << r.output;
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo");
}

TEST_F(ChatDriverOnWindows, RoomClosedDuringTheSamplingIsSkippedAndTheOtherRoomIsServed) {
    ChatClientProcess client(
        "--trace --close-on-read Weg --room \"AB|24|Weg|abc\" --room \"AB|24|Lobby|hallo\"");
    ASSERT_TRUE(client.Ready());
    TAolMessage m;
    m.Text = "Nena - 99 Luftballons";
    m.Advertising = true;
    PostAolMessage(m);
    const auto r = client.Finish();
    ASSERT_GE(r.Find("chat: closing room 'Weg'"), 0) << r.output;
    EXPECT_TRUE(ChatClientProcess::Transcript(r, "Weg").empty());
    EXPECT_TRUE(ChatClientProcess::Traced(r, "Weg", 1, "WM_SETTEXT").empty());
    EXPECT_EQ(ChatClientProcess::Transcript(r, "Lobby"),
              (std::vector<std::string>{kAdvertLine, "Nena - 99 Luftballons"}));
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo");
}

}  // namespace
