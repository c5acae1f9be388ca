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

// Runs the player with the plug-in next to the chat client: one stop and play of entry 2.
testutil::ProcessResult PlaySongNextToChatClient(ChatClientProcess& client) {
    const std::string list = testutil::TempFile(
        "e2e.m3u", "C:\\Music\\Daft Punk - One More Time.mp3|Daft Punk - One More Time|300|192\n" +
                       kSong.FileName + "|" + kSong.Title + "|185|128\n");
    auto player = testutil::RunProgram(
        Quote(testutil::WinampStandin()) + " --plugin " + Quote(testutil::PluginDll()) +
            " --playlist " + Quote(list) + " --answer no -c \"wait 400; play 2; wait 3500; quit\"",
        60000);
    EXPECT_EQ(player.exitCode, 0) << player.output;
    return client.Finish();
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

        ChatClientProcess client("--room \"AB|24|Lobby|hallo welt\" --room \"A|29|Musik\"");
        ASSERT_TRUE(client.Ready()) << c.what;
        const auto r = PlaySongNextToChatClient(client);
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
    const auto r = PlaySongNextToChatClient(client);
    EXPECT_TRUE(ChatClientProcess::Transcript(r, "Lobby").empty()) << r.output;
    EXPECT_TRUE(ChatClientProcess::Traced(r, "Lobby", 1, "WM_").empty()) << r.output;
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt");
}

// The time stamp (ms since the player started) of the first line holding `text`, or -1.
long StampOf(const testutil::ProcessResult& r, const std::string& text) {
    const int i = r.Find(text);
    if (i < 0)
        return -1;
    const std::string line = r.Lines()[static_cast<size_t>(i)];
    const size_t open = line.find('[');
    return open == std::string::npos ? -1 : std::stol(line.substr(open + 1));
}

TEST_F(AnnouncementEndToEnd, AHungChatClientHoldsThePlayerOnlyBrieflyAndTheNextSongIsAnnounced) {
    const TPluginSettings settings = BaseSettings();
    PluginSettings = settings;
    SaveSettings();
    // The chat client stops answering for 8 s at the first post.
    ChatClientProcess client("--hang-on-post 8000 --room \"AB|24|Lobby|hallo welt\"");
    ASSERT_TRUE(client.Ready());
    const std::string list = testutil::TempFile(
        "hung.m3u", "C:\\Music\\Daft Punk - One More Time.mp3|Daft Punk - One More Time|300|192\n" +
                        kSong.FileName + "|" + kSong.Title + "|185|128\n");
    const auto player = testutil::RunProgram(
        Quote(testutil::WinampStandin()) + " --timestamps --plugin " +
            Quote(testutil::PluginDll()) + " --playlist " + Quote(list) +
            " --answer no -c \"wait 400; play 1; wait 2000; stop; wait 9000; play 2; wait 3500; "
            "quit\"",
        90000);
    ASSERT_EQ(player.exitCode, 0) << player.output;
    const long played = StampOf(player, "playing entry 1");
    const long stopped = StampOf(player, "] stopped");
    ASSERT_GE(played, 0) << player.output;
    ASSERT_GE(stopped, 0) << player.output;
    // The stop is scripted 2 s after the play. Had the announcement waited for the hung chat
    // client, the player's loop would have been held for the client's 8 s.
    EXPECT_LT(stopped - played, 2000 + 4000) << player.output;

    const auto r = client.Finish();
    NoFileServer server;
    const auto message = ComposeAolMessage(kSong, settings, server);
    ASSERT_TRUE(message.has_value());
    EXPECT_GE(r.Find("hanging for 8000 ms"), 0) << "the first post met the hung client\n"
                                                << r.output;
    const auto transcript = ChatClientProcess::Transcript(r, "Lobby");
    ASSERT_GE(transcript.size(), 2u) << r.output;
    EXPECT_EQ(transcript[transcript.size() - 2], kAdvertLine) << r.output;
    EXPECT_EQ(transcript.back(), BuildAolLine(*message)) << r.output;
    EXPECT_EQ(ChatClientProcess::InputText(r, "Lobby", 1), "hallo welt");
}

}  // namespace
