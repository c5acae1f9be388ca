// The announcement composer: from a song change and the settings to the finished chat message.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "announce/u_composer.h"
#include "common/errors.h"
#include "fileshare/EncodeIP.h"

namespace {

// Records the file server calls in order; a call named in `failAt` throws `failure`.
struct RecordingFileServer : IFileServerLink {
    std::vector<std::string> calls;
    std::string token;
    std::string failAt;
    std::function<void()> failure = [] { throw std::runtime_error("Socket geschlossen"); };

    void Record(const std::string& call) {
        calls.push_back(call);
        if (call.rfind(failAt, 0) == 0 && !failAt.empty()) {
            failure();
        }
    }
    void SetTrayIcon(bool visible) override {
        Record(std::string("SetTrayIcon ") + (visible ? "on" : "off"));
    }
    void SetServedFile(const std::string& fileName) override {
        Record("SetServedFile " + fileName);
    }
    void SetServerPort(int port) override { Record("SetServerPort " + std::to_string(port)); }
    void RejectServerPort(const std::string& text) override { Record("RejectServerPort " + text); }
    std::string GetEncodedAddress(char kind) override {
        Record(std::string("GetEncodedAddress ") + kind);
        return token;
    }
};

struct Composer : testing::Test {
    TSongInfo song{"C:\\Musik\\song.mp3", "Artist - Song", 128, 185};
    TPluginSettings settings;
    RecordingFileServer server;

    void SetUp() override {
        settings.general.enablechat = true;
        settings.aol.fsport = "1000";
    }
    TAolMessage Compose() {
        std::optional<TAolMessage> message = ComposeAolMessage(song, settings, server);
        EXPECT_TRUE(message.has_value());
        return message.value_or(TAolMessage{});
    }
};

TEST_F(Composer, WithChatOffNothingIsComposedAndTheFileServerIsLeftAlone) {
    settings.general.enablechat = false;
    settings.aol.aolfs = true;
    EXPECT_FALSE(ComposeAolMessage(song, settings, server).has_value());
    EXPECT_TRUE(server.calls.empty());
}

TEST_F(Composer, APlainTitleKeepsPreAndPostTextsApartAndCarriesTheAdvertFlag) {
    settings.general.presongtitle = "np: ";
    settings.general.postsongtitle = " <3";
    settings.aol.aoladvertising = true;
    const TAolMessage m = Compose();
    EXPECT_EQ(m.Text, "Artist - Song");
    EXPECT_EQ(m.PreText, "np: ");
    EXPECT_EQ(m.PostText, " <3");
    EXPECT_TRUE(m.Advertising);
    EXPECT_EQ(m.AdvertLine, "BrenloPlug3alpha >>2<< for Winamp5");
    EXPECT_FALSE(m.FontFormat);
    EXPECT_EQ(server.calls, (std::vector<std::string>{"SetTrayIcon off"}));
}

TEST_F(Composer, ExtendedSongInfoShowsMinutesUnpaddedSecondsInTwoDigitsAndTheBitRate) {
    const std::vector<std::pair<std::pair<int, int>, std::string>> cases = {
        {{185, 128}, " [ 3:05 min - 128 Kb/s ]"}, {{59, 192}, " [ 0:59 min - 192 Kb/s ]"},
        {{60, 0}, " [ 1:00 min - 0 Kb/s ]"},      {{3600, 320}, " [ 60:00 min - 320 Kb/s ]"},
        {{0, 64}, " [ 0:00 min - 64 Kb/s ]"},     {{-1, 64}, " [ 0:00 min - 64 Kb/s ]"},
    };
    settings.general.extsonginfo = true;
    for (const auto& [lengthAndRate, suffix] : cases) {
        song.Length = lengthAndRate.first;
        song.Bitrate = lengthAndRate.second;
        EXPECT_EQ(Compose().Text, "Artist - Song" + suffix);
    }
}

TEST_F(Composer, PrePostTitleFadeJoinsTheTextsIntoTextWithOrWithoutAFade) {
    song.Title = "b";
    settings.general.presongtitle = "a";
    settings.general.preposttitlefade = true;
    settings.fader.fadecolor = {0x000000FF, 0x00FF0000};
    settings.fader.fadecolors = 2;

    TAolMessage plain = Compose();
    EXPECT_EQ(plain.Text, "ab");
    EXPECT_EQ(plain.PreText, "");
    EXPECT_EQ(plain.PostText, "");

    settings.general.enablefade = true;
    settings.aol.aolwavyscroll = true;
    EXPECT_EQ(Compose().Text, "<sub><font color=\"#FF0000\">a</sub><font color=\"#80007F\">b");

    // Without joining, the title alone is faded: one character, fewer than the two colours.
    settings.general.preposttitlefade = false;
    const TAolMessage apart = Compose();
    EXPECT_EQ(apart.Text, "<sub><font color=\"#FF0000\">b</sub>");
    EXPECT_EQ(apart.PreText, "a");
}

TEST_F(Composer, FontFieldsAreCopiedOnlyWhenFontFormattingIsOn) {
    settings.general.fontface = "Comic Sans MS";
    settings.general.bold = true;
    settings.general.underline = true;
    TAolMessage off = Compose();
    EXPECT_FALSE(off.FontFormat);
    EXPECT_EQ(off.FontFace, "");
    EXPECT_FALSE(off.Bold || off.Italic || off.Underline || off.StrikeOut);

    settings.general.enablefontformat = true;
    TAolMessage on = Compose();
    EXPECT_TRUE(on.FontFormat);
    EXPECT_EQ(on.FontFace, "Comic Sans MS");
    EXPECT_TRUE(on.Bold);
    EXPECT_FALSE(on.Italic);
    EXPECT_TRUE(on.Underline);
    EXPECT_FALSE(on.StrikeOut);
}

TEST_F(Composer, SharingServesTheSongMovesThePortAndAppendsTheUnfadedLinkAfterTheFade) {
    settings.aol.aolfs = true;
    settings.aol.fsport = "4711";
    settings.general.enablefade = true;
    settings.general.postsongtitle = "!";
    settings.fader.fadecolor = {0x000000FF};
    settings.fader.fadecolors = 1;
    song.Title = "x";
    server.token = "sgww";
    const TAolMessage m = Compose();
    EXPECT_EQ(server.calls,
              (std::vector<std::string>{"SetTrayIcon on", "SetServedFile C:\\Musik\\song.mp3",
                                        "SetServerPort 4711", "GetEncodedAddress 1"}));
    EXPECT_EQ(m.Text, "<font color=\"#FF0000\">x" + DownloadLinkText("sgww"));
    EXPECT_EQ(m.PostText, "!");
}

TEST_F(Composer, AnEmptyTokenStillGivesTheWholeLink) {
    settings.aol.aolfs = true;
    EXPECT_EQ(Compose().Text, "Artist - Song" + DownloadLinkText(""));
}

TEST(ParsePort, AcceptsLeadingBlanksASignAndDecimalDigitsOfAPortOnly) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"1000", 1000},
        {"  80", 80},
        {"+21", 21},
        {"65535", 65535},
        {"00443", 443},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"10 00", std::nullopt},
        {"1000 ", std::nullopt},
        {"0", std::nullopt},
        {"-1", std::nullopt},
        {"65536", std::nullopt},
        {"+", std::nullopt},
        {"0x50", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"\t80", std::nullopt},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(ParsePort(text), port) << '"' << text << '"';
    }
}

TEST_F(Composer, AnInvalidPortIsRejectedToTheFileServerAndTheSongIsStillAnnounced) {
    settings.aol.aolfs = true;
    settings.aol.fsport = "tausend";
    server.token = "TOKEN";
    const TAolMessage message = Compose();
    EXPECT_EQ(server.calls,
              (std::vector<std::string>{"SetTrayIcon on", "SetServedFile C:\\Musik\\song.mp3",
                                        "RejectServerPort tausend", "GetEncodedAddress 1"}));
    EXPECT_NE(message.Text.find("TOKEN"), std::string::npos);
}

TEST_F(Composer, AFailingFileServerCallBecomesABrenloErrorAndAnAbortStaysSilent) {
    settings.aol.aolfs = true;
    const std::pair<const char*, const char*> calls[] = {
        {"SetTrayIcon", "beim Anzeigen des Tray-Symbols"},
        {"SetServedFile", "beim Bereitstellen der Datei"},
        {"SetServerPort", "beim Wechseln des Ports"},
        {"GetEncodedAddress", "beim Ermitteln der Adresse"},
    };
    for (const auto& [call, doing] : calls) {
        server.calls.clear();
        server.failAt = call;
        try {
            ComposeAolMessage(song, settings, server);
            ADD_FAILURE() << call << ": no error";
        } catch (const EBrenloError& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("Dateiserver: Fehler ") + doing + ": Socket geschlossen");
        }
    }
    server.failure = [] { throw 7; };
    try {
        ComposeAolMessage(song, settings, server);
        ADD_FAILURE() << "no error";
    } catch (const EBrenloError& e) {
        EXPECT_EQ(std::string(e.what()), "Dateiserver: Fehler beim Ermitteln der Adresse.");
    }
    server.failAt = "GetEncodedAddress";
    server.failure = [] {
        throw EBrenloError("Windows-Socket-Fehler: x (10061), auf API 'connect'");
    };
    EXPECT_THROW(
        {
            try {
                ComposeAolMessage(song, settings, server);
            } catch (const EBrenloError& e) {
                EXPECT_EQ(std::string(e.what()),
                          "Windows-Socket-Fehler: x (10061), auf API 'connect'");
                throw;
            }
        },
        EBrenloError);
    server.failure = [] { throw EAbort(); };
    EXPECT_THROW(ComposeAolMessage(song, settings, server), EAbort);
}

}  // namespace
