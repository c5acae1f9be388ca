// A song change announced from end to end: the stand-in player with the plug-in detects it, the
// plug-in composes the line from the settings in the registry and types it into the rooms of the
// stand-in chat client, which runs as a third process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aol_standin_util.h"
#include "process_util.h"

using testutil::ChatClientProcess;
using testutil::Quote;

namespace {

constexpr char kAdvert[] = "BrenloPlug3alpha >>2<< for Winamp5";

void SetEnableChat(DWORD on) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\BrenlosTools\\BrenloPlug3\\general", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "enablechat", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    RegCloseKey(key);
}

testutil::ProcessResult PlayOneSong() {
    std::string playlist = testutil::TempFile(
        "e2e.m3u", "C:\\Music\\Nena - 99 Luftballons.mp3|Nena - 99 Luftballons|185|128\n");
    return testutil::RunProgram(Quote(testutil::WinampStandin()) + " --plugin " +
                                Quote(testutil::PluginDll()) + " --playlist " + Quote(playlist) +
                                " --answer no -c \"wait 400; play 1; wait 2500; quit\"");
}

TEST(AnnounceEndToEnd, ASongStartIsTypedIntoTheRoomAfterTheAdvertAndTheUsersTextStays) {
    // First start answered No: the first-start settings, which announce with the advert line.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\BrenlosTools");
    ChatClientProcess client("--room \"AB|24|Lobby|hallo welt\"");
    ASSERT_TRUE(client.Ready());
    auto player = PlayOneSong();
    auto chat = client.Finish();
    ASSERT_EQ(player.exitCode, 0) << player.output;
    EXPECT_EQ(ChatClientProcess::Transcript(chat, "Lobby"),
              (std::vector<std::string>{kAdvert, ".:BP::[ Nena - 99 Luftballons ]:: v3 :."}))
        << player.output << "\n"
        << chat.output;
    EXPECT_EQ(ChatClientProcess::InputText(chat, "Lobby", 1), "hallo welt");
}

TEST(AnnounceEndToEnd, WithChatOutputOffNothingIsPosted) {
    SetEnableChat(0);
    ChatClientProcess client("--room \"AB|24|Lobby|hallo\"");
    ASSERT_TRUE(client.Ready());
    auto player = PlayOneSong();
    auto chat = client.Finish();
    ASSERT_EQ(player.exitCode, 0) << player.output;
    EXPECT_GE(player.Find("query 212: title of entry index 0"), 0) << "the song was detected\n"
                                                                   << player.output;
    EXPECT_TRUE(ChatClientProcess::Transcript(chat, "Lobby").empty()) << chat.output;
    SetEnableChat(1);
}

}  // namespace
