// The whole announcement chain under Wine: the stand-in player with the plug-in DLL detects a new
// song, and the stand-in chat client's rooms receive the advert and the composed line byte for
// byte, for a table of settings, with the user's typed text put back.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "announce/u_aol.h"
#include "announce/u_composer.h"
#include "aol_standin_util.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "process_util.h"

namespace {

using testutil::ChatClientProcess;
using testutil::Quote;

class NoFileServer final : public IFileServerLink {
  public:
    void SetTrayIcon(bool) override {}
    void SetServedFile(const std::string&) override {}
    void SetServerPort(int) override {}
    std::string GetEncodedAddress(char) override { return {}; }
};

struct SettingsCase {
    const char* what;
    void (*apply)(TPluginSettings&);
};

TPluginSettings BaseSettings() {
    TPluginSettings s;
    s.general.enablechat = true;
    s.general.presongtitle = "Ich h\xF6re: ";
    s.general.postsongtitle = " <<";
    s.aol.enableaol = true;
    s.aol.aoladvertising = true;
    s.aol.fsport = "1000";
    s.fader.fadecolors = 2;
    for (int n = 1; n <= TPluginSettings::Fader::kColorCount; ++n)
        s.fader.color(n) = 0x000000FF + n * 0x00101000;
    return s;
}

const TSongInfo kSong = {"C:\\Music\\Nena - 99 Luftballons.mp3", "Nena - 99 Luftballons", 128, 185};

std::string Playlist(const std::string& name) {
    return testutil::TempFile(
        name, "C:\\Music\\Daft Punk - One More Time.mp3|Daft Punk - One More Time|300|192\n" +
                  kSong.FileName + "|" + kSong.Title + "|185|128\n");
}

std::string Player(const std::string& options, const std::string& list, const std::string& script) {
    return Quote(testutil::WinampStandin()) + " " + options + " --plugin " +
           Quote(testutil::PluginDll()) + " --playlist " + Quote(list) + " --answer no -c \"" +
           script + "\"";
}

// Runs the player with the plug-in next to the chat client: one stop and play of entry 2. The
// player quits once the chat client has printed each group of `awaited` texts in its order;
// with none, a few timer ticks after the song was detected.
testutil::ProcessResult PlaySongNextToChatClient(
    ChatClientProcess& client, const std::vector<std::vector<std::string>>& awaited) {
    const std::string armed = testutil::kUntilArmed;
    if (awaited.empty()) {
        const auto player = testutil::RunProgram(
            Player("", Playlist("e2e.m3u"), armed + "; play 2; until query 126; ticks 8; quit"));
        EXPECT_EQ(player.exitCode, 0) << player.output;
        return client.Finish();
    }
    testutil::PlayerCue posted;
    testutil::BackgroundProgram player(
        Player("", Playlist("e2e.m3u"), armed + "; play 2; await " + posted.Name() + "; quit"),
        "player");
    for (const auto& texts : awaited)
        EXPECT_TRUE(client.WaitForInOrder(texts, 30000)) << texts.front();
    posted.Set();
    const auto r = player.Finish();
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return client.Finish();
}

// The chat client's line for `line` in `room`.
std::string RoomLine(const std::string& room, const std::string& line) {
    return "chat: room '" + room + "': " + line;
}

class AnnouncementEndToEnd : public testing::Test {
  protected:
    void SetUp() override { SetSettingsRegistry(&WindowsRegistry()); }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
        SetSettingsRegistry(nullptr);
    }
};

TEST_F(AnnouncementEndToEnd, EveryPassingRoomGetsAdvertAndLineByteForByteForEachSetting) {
    const SettingsCase cases[] = {
        {"plain", [](TPluginSettings& s) { s.aol.aoladvertising = false; }},
        {"extended information", [](TPluginSettings& s) { s.general.extsonginfo = true; }},
        {"gradient with 2 colours",
         [](TPluginSettings& s) {
             s.general.enablefade = true;
             s.general.presongtitle.clear();
             s.general.postsongtitle.clear();
         }},
        {"gradient with 10 colours",
         [](TPluginSettings& s) {
             s.general.enablefade = true;
             s.fader.fadecolors = 10;
         }},
        {"wavy",
         [](TPluginSettings& s) {
             s.general.enablefade = true;
             s.aol.aolwavyscroll = true;
         }},
        {"font formatting",
         [](TPluginSettings& s) {
             s.general.enablefontformat = true;
             s.general.fontface = "Comic Sans MS";
             s.general.bold = true;
             s.general.underline = true;
         }},
        {"pre and post texts faded together",
         [](TPluginSettings& s) {
             s.general.enablefade = true;
             s.general.preposttitlefade = true;
         }},
        {"pre and post texts faded apart", [](TPluginSettings& s) { s.general.enablefade = true; }},
    };
    for (const SettingsCase& c : cases) {
        TPluginSettings settings = BaseSettings();
        c.apply(settings);
        PluginSettings = settings;
        SaveSettings();
        NoFileServer server;
        const auto message = ComposeAolMessage(kSong, settings, server);
        ASSERT_TRUE(message.has_value()) << c.what;
        std::vector<std::string> expected;
        if (message->Advertising)
            expected.push_back(kAdvertLine);
        expected.push_back(BuildAolLine(*message));

        ChatClientProcess client("--trace --room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\"");
        ASSERT_TRUE(client.Ready()) << c.what;
        // The last line in each room, and in the room with a typed text that text put back.
        const auto r = PlaySongNextToChatClient(
            client, {{RoomLine("Lobby", expected.back()), "input 1: WM_SETTEXT hallo welt"},
                     {RoomLine("Musik", expected.back())}});
        EXPECT_EQ(ChatClientProcess::Transcript(r, "Lobby"), expected) << c.what << "\n"
                                                                       << r.output;
        EXPECT_EQ(ChatClientProcess::Transcript(r, "Musik"), expected) << c.what;
        EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt") << c.what;
    }
}

TEST_F(AnnouncementEndToEnd, ChatOutputOffPostsNothing) {
    TPluginSettings settings = BaseSettings();
    settings.general.enablechat = false;
    PluginSettings = settings;
    SaveSettings();
    ChatClientProcess client("--trace --room \"AB|24|Lobby|hallo welt\"");
    ASSERT_TRUE(client.Ready());
    const auto r = PlaySongNextToChatClient(client, {});
    EXPECT_TRUE(ChatClientProcess::Transcript(r, "Lobby").empty()) << r.output;
    EXPECT_TRUE(ChatClientProcess::Traced(r, "Lobby", 1, "WM_").empty()) << r.output;
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt");
}

TEST_F(AnnouncementEndToEnd, AHungChatClientHoldsThePlayerOnlyBrieflyAndTheNextSongIsAnnounced) {
    const TPluginSettings settings = BaseSettings();
    PluginSettings = settings;
    SaveSettings();
    NoFileServer server;
    const auto message = ComposeAolMessage(kSong, settings, server);
    ASSERT_TRUE(message.has_value());
    // The chat client stops answering for 8 s at the first post. While it hangs, the player's
    // own timers must go on; the next song, played once it answers again, is posted.
    ChatClientProcess client("--trace --hang-on-post 8000 --room \"AB|24|Lobby|hallo welt\"");
    ASSERT_TRUE(client.Ready());
    const std::string armed = testutil::kUntilArmed;
    testutil::PlayerCue hanging, answering, posted;
    testutil::BackgroundProgram player(
        Player("", Playlist("hung.m3u"),
               armed + "; play 1; await " + hanging.Name() +
                   "; ticks 5; echo ticked while the chat client hangs; stop; await " +
                   answering.Name() + "; " + armed + "; play 2; await " + posted.Name() + "; quit"),
        "player");
    EXPECT_TRUE(client.WaitFor("chat: hanging for 8000 ms", 30000))
        << "the first post met the hung client";
    hanging.Set();
    EXPECT_TRUE(player.WaitFor("player: ticked while the chat client hangs"));
    EXPECT_FALSE(client.WaitFor("chat: answering again", 0))
        << "the player's loop stood still until the chat client answered again";
    EXPECT_TRUE(client.WaitFor("chat: answering again", 30000));
    answering.Set();
    const bool postedAfterTheHang =
        client.WaitForInOrder({"chat: answering again", RoomLine("Lobby", BuildAolLine(*message)),
                               "chat: room 'Lobby' input 1: WM_SETTEXT hallo welt"},
                              30000);
    posted.Set();
    const auto played = player.Finish();
    EXPECT_EQ(played.exitCode, 0) << played.output;
    EXPECT_TRUE(postedAfterTheHang) << played.output;

    const auto r = client.Finish();
    const auto transcript = ChatClientProcess::Transcript(r, "Lobby");
    ASSERT_GE(transcript.size(), 2u) << r.output;
    EXPECT_EQ(transcript[transcript.size() - 2], kAdvertLine) << r.output;
    EXPECT_EQ(transcript.back(), BuildAolLine(*message)) << r.output;
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt");
}

}  // namespace
