// The colour fader: gradient markup, wavy effect, preview output and its extended arithmetic.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "announce/u_fader.h"
#include "common/x87_precision.h"
#include "fader_cases.h"

namespace {

class FadeTable : public testing::TestWithParam<TFadeCase> {};

TEST_P(FadeTable, FadeTextGivesTheExpectedMarkup) {
    const TFadeCase& c = GetParam();
    EXPECT_EQ(FadeText(c.text, c.colors, c.count, c.wavy, nullptr), c.expected);
}

TEST_P(FadeTable, FadeTextIgnoresALoweredHostPrecisionAndRestoresIt) {
    if (!BP_HAVE_X87) {
        GTEST_SKIP() << "no x87 unit";
    }
    const TFadeCase& c = GetParam();
    for (TX87Precision lowered : {TX87Precision::Double, TX87Precision::Single}) {
        TX87Scope host(lowered);
        const std::uint16_t before = X87ControlWord();
        const std::string faded = FadeText(c.text, c.colors, c.count, c.wavy, nullptr);
        EXPECT_EQ(X87ControlWord(), before);
        EXPECT_EQ(faded, c.expected) << "precision control " << static_cast<int>(lowered);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FadeTable, testing::ValuesIn(kFadeCases),
                         [](const testing::TestParamInfo<TFadeCase>& info) {
                             return std::string(info.param.name);
                         });

// The nearest double to 10/9, the step of ten colours over ten characters.
constexpr double kStepTenOverNine = 0x1.1c71c71c71c72p+0;

TEST(FadeChannel, LoweredPrecisionWouldReallyChangeTheTruncatedChannel) {
    if (!BP_HAVE_X87) {
        GTEST_SKIP() << "no x87 unit";
    }
    // Guards the precision tests above: in a 53-bit state 100 / step rounds up to exactly 90.
    auto raw = [](TX87Precision precision) {
        TX87Scope scope(precision);
        volatile long double difference = 100;
        volatile double step = kStepTenOverNine;
        long double offset = difference / step;
        X87Pin(offset);
        return static_cast<int>(offset);
    };
    EXPECT_EQ(raw(TX87Precision::Extended), 89);
    EXPECT_EQ(raw(TX87Precision::Double), 90);
}

TEST(FadeChannel, TruncatesTowardZeroAndWrapsTheSumToAByte) {
    struct Case {
        std::uint8_t start, end;
        double step;
        std::int64_t j;
        std::uint8_t expected;
    };
    const Case cases[] = {
        {255, 0, 2.0, 1, 128},  // 255 + trunc(-127.5)
        {0, 255, 2.0, 1, 127},
        {0, 255, 2.0, 0, 0},
        {100, 200, kStepTenOverNine, 1, 189},  // 90 - a hair, truncated
        {100, 0, kStepTenOverNine, 1, 11},     // 100 + trunc(-89.99...)
        {200, 255, 0.125, 1, 128},             // 200 + 440 = 640, as a byte
        {10, 0, 0.5, 1, 246},                  // 10 - 20 = -10, as a byte
        {7, 9, 0.0, 1, 7},                     // no finite result: start unchanged
        {7, 9, std::numeric_limits<double>::infinity(), 5, 7},
        {7, 7, 0.0, 1, 7},
        {0, 255, 1e-300, 1000, 0},  // a huge exact integer offset still wraps
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FadeChannel(c.start, c.end, c.step, c.j), c.expected)
            << int(c.start) << " -> " << int(c.end) << " step " << c.step << " j " << c.j;
    }
}

TEST(FadeChannel, GivesTheSameResultUnderALoweredHostPrecision) {
    if (!BP_HAVE_X87) {
        GTEST_SKIP() << "no x87 unit";
    }
    TX87Scope host(TX87Precision::Double);
    EXPECT_EQ(FadeChannel(100, 200, kStepTenOverNine, 1), 189);
    EXPECT_EQ(X87ControlWord() & 0x0300, 0x0200);
}

TEST(FaderPieces, SplitColorReadsRedFromTheLowByteAndIgnoresTheTopByte) {
    EXPECT_EQ(SplitColor(static_cast<std::int32_t>(0xFF123456u)), (TRgb{0x56, 0x34, 0x12}));
    EXPECT_EQ(SplitColor(0x00FF0000), (TRgb{0, 0, 255}));
    EXPECT_EQ(ColorToHex(0x0A, 0xB0, 0xFF), "0AB0FF");
    EXPECT_EQ(ColorToHex(0, 0, 0), "000000");
}

TEST(FaderPieces, WrapCharLowersAndRaisesByPositionOnlyWhenWavy) {
    const std::string plain = "<font color=\"#0A0B0C\">x";
    const std::vector<std::pair<std::size_t, std::string>> wavy = {{1, "<sub>" + plain + "</sub>"},
                                                                   {2, plain},
                                                                   {3, "<sup>" + plain + "</sup>"},
                                                                   {4, plain},
                                                                   {5, "<sub>" + plain + "</sub>"},
                                                                   {7, "<sup>" + plain + "</sup>"},
                                                                   {8, plain}};
    for (const auto& [position, expected] : wavy) {
        EXPECT_EQ(WrapChar('x', "0A0B0C", true, position), expected) << position;
        EXPECT_EQ(WrapChar('x', "0A0B0C", false, position), plain) << position;
    }
}

TEST(FadeText, EveryCharacterBecomesTwentyThreeOrThirtyFourCharacters) {
    TFadeColors colors{};
    for (std::size_t n = 0; n < colors.size(); ++n) {
        colors[n] = static_cast<std::int32_t>(0x00102030u * (n + 1));
    }
    for (int count = 0; count <= 11; ++count) {
        for (std::size_t length = 0; length <= 40; ++length) {
            const std::string text(length, 'q');
            const std::size_t wrapped = (length + 1) / 2;
            EXPECT_EQ(FadeText(text, colors, count, false, nullptr).size(), 23 * length);
            EXPECT_EQ(FadeText(text, colors, count, true, nullptr).size(),
                      23 * length + 11 * wrapped)
                << "count " << count << " length " << length;
        }
    }
}

TEST(FadeText, ColoursWithTheTopByteSetGiveTheSameTags) {
    const TFadeColors clean{0x000000FF, 0x0000FF00, 0x00FF0000, 0x0012AB34, 0x00000001};
    TFadeColors dirty = clean;
    for (auto& c : dirty) {
        c = static_cast<std::int32_t>(static_cast<std::uint32_t>(c) | 0xA5000000u);
    }
    const std::string text = "Artist - A Song of some length";
    EXPECT_EQ(FadeText(text, dirty, 5, true, nullptr), FadeText(text, clean, 5, true, nullptr));
    EXPECT_EQ(FadeText("ab", dirty, 5, false, nullptr), FadeText("ab", clean, 5, false, nullptr));
}

struct RecordingPreview : IPreviewControl {
    std::vector<std::pair<std::uint32_t, int>> typed;  // colour in force, character typed
    std::uint32_t color = 0xFFFFFFFF;
    void SetSelectionColor(std::uint32_t colorref) override { color = colorref; }
    void TypeChar(unsigned char ch) override { typed.emplace_back(color, ch); }
};

TEST(FadeText, ThePreviewReceivesEveryCharacterInItsGradientColour) {
    RecordingPreview preview;
    const TFadeColors redToBlue{0x000000FF, 0x00FF0000};
    FadeText(std::string("a\xE9"), redToBlue, 2, true, &preview);
    EXPECT_EQ(preview.typed,
              (std::vector<std::pair<std::uint32_t, int>>{{0x000000FF, 'a'}, {0x007F0080, 0xE9}}));
}

TEST(FadeText, ThePreviewGetsNothingWhenTheTextIsShorterThanTheCount) {
    RecordingPreview preview;
    const TFadeColors colors{0x000000FF, 0x00FF0000, 0x0000FF00};
    EXPECT_EQ(FadeText("ab", colors, 3, false, &preview),
              "<font color=\"#FF0000\">a<font color=\"#0000FF\">b");
    EXPECT_TRUE(preview.typed.empty());
}

TEST(FadeText, WithCountOneThePreviewShowsEveryCharacterInColourOne) {
    RecordingPreview preview;
    const TFadeColors colors{0x00336699, 0x00FF0000};
    FadeText("xyz", colors, 1, false, &preview);
    EXPECT_EQ(preview.typed, (std::vector<std::pair<std::uint32_t, int>>{
                                 {0x00336699, 'x'}, {0x00336699, 'y'}, {0x00336699, 'z'}}));
}

TEST(FadeText, EachSegmentStartsExactlyOnItsColourAndApproachesTheNextWithoutReachingIt) {
    // Seven characters over four colours: step 7/3, segments start at characters 1, 3 and 5.
    const TFadeColors colors{0x00000000, 0x000000F0, 0x0000F000, 0x00F00000};
    EXPECT_EQ(FadeText("abcdefg", colors, 4, false, nullptr),
              "<font color=\"#000000\">a<font color=\"#660000\">b<font color=\"#F00000\">c"
              "<font color=\"#8A6600\">d<font color=\"#00F000\">e<font color=\"#008A66\">f"
              "<font color=\"#0023CD\">g");
}

}  // namespace
