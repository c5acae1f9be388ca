// The fader in the Windows build, run the way a host runs it: with the x87 precision control
// lowered to 53 (as the MSVC runtime leaves it) or 24 bits. The results must be those of the
// native suite.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "../native/fader_cases.h"
#include "announce/u_composer.h"
#include "announce/u_fader.h"
#include "common/x87_precision.h"
#include "fileshare/EncodeIP.h"

namespace {

class WindowsFadeTable : public testing::TestWithParam<TFadeCase> {};

TEST_P(WindowsFadeTable, GivesTheNativeResultsUnderTheHostsLoweredPrecision) {
    const TFadeCase& c = GetParam();
    for (TX87Precision lowered : {TX87Precision::Double, TX87Precision::Single}) {
        TX87Scope host(lowered);
        const std::uint16_t before = X87ControlWord();
        ASSERT_EQ(before & 0x0300, static_cast<int>(lowered));
        EXPECT_EQ(FadeText(c.text, c.colors, c.count, c.wavy, nullptr), c.expected)
            << "precision control " << static_cast<int>(lowered);
        EXPECT_EQ(X87ControlWord(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowsFadeTable, testing::ValuesIn(kFadeCases),
                         [](const testing::TestParamInfo<TFadeCase>& info) {
                             return std::string(info.param.name);
                         });

struct FixedFileServer : IFileServerLink {
    void SetTrayIcon(bool) override {}
    void SetServedFile(const std::string&) override {}
    void SetServerPort(int) override {}
    std::string GetEncodedAddress(char) override { return EncodeAddress("111.2.3.4:1000:::"); }
};

TEST(WindowsComposer, ComposesTheFadedTitleWithTheLinkUnderA53BitHost) {
    TX87Scope host(TX87Precision::Double);
    TSongInfo song{"C:\\Musik\\a.mp3", "0123456789", 128, 185};
    TPluginSettings settings;
    settings.general.enablechat = true;
    settings.general.enablefade = true;
    settings.aol.aolfs = true;
    settings.aol.fsport = "1000";
    const TFadeCase& tenColours = kFadeCases[2];
    ASSERT_STREQ(tenColours.name, "TenColoursOverTenCharacters");
    settings.fader.fadecolor = tenColours.colors;
    settings.fader.fadecolors = 10;
    FixedFileServer server;
    const std::optional<TAolMessage> m = ComposeAolMessage(song, settings, server);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->Text, std::string(tenColours.expected) + DownloadLinkText("sgwwfujmfwrskkrhrh"));
}

}  // namespace
