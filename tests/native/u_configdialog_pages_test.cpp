// The configuration dialog's pages as plain data, and the preview it draws.
#include "config/u_configdialog_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TPluginSettings StoredDefaults() {
    TPluginSettings s;
    StoreGeneralPage(TGeneralPage{}, s.general);
    StoreAolPage(TAolPage{}, s.aol);
    StoreFaderPage(TFaderPage{}, s.fader);
    return s;
}

TEST(ConfigPages, TheDefaultsAreTheSettingsOfTheFirstStart) {
    TPluginSettings expected;
    expected.general = {true,  false,           ".:BP::[ ", " ]:: v3 :.", true,  false,
                        false, "Comic Sans MS", false,      false,        false, false};
    expected.aol = {true, true, false, false, "1000"};
    expected.fader.fadecolors = 1;
    EXPECT_TRUE(StoredDefaults() == expected);
}

TEST(ConfigPages, FillingAndStoringEveryPageGivesTheSettingsBack) {
    TPluginSettings s;
    s.general = {false, true, " pre ", "", false, true, true, "Arial", true, false, true, false};
    s.aol = {false, true, true, false, "not a port"};
    s.fader.fadecolors = 6;
    s.fader.color(6) = 0x7F00FF;
    TPluginSettings back;
    back.fader.fadecolor = s.fader.fadecolor;
    StoreGeneralPage(FillGeneralPage(s.general), back.general);
    StoreAolPage(FillAolPage(s.aol), back.aol);
    StoreFaderPage(FillFaderPage(s.fader), back.fader);
    EXPECT_TRUE(back == s);
}

TEST(ConfigPages, TheSliderShowsACountOutsideItsRangeAtItsEnds) {
    const struct {
        int stored, shown;
    } cases[] = {{0, 1}, {-5, 1}, {1, 1}, {7, 7}, {10, 10}, {15, 10}, {2147483647, 10}};
    for (const auto& c : cases) {
        TPluginSettings::Fader fader;
        fader.fadecolors = c.stored;
        TFaderPage page = FillFaderPage(fader);
        EXPECT_EQ(page.bar_fadecolors, c.shown) << c.stored;
        StoreFaderPage(page, fader);
        EXPECT_EQ(fader.fadecolors, c.shown) << "stored back as shown: " << c.stored;
    }
}

TEST(ConfigPages, StoringTheCountLeavesTheColoursAlone) {
    TPluginSettings::Fader fader;
    fader.color(1) = 0x123456;
    fader.color(10) = 0x654321;
    StoreFaderPage(TFaderPage{}, fader);
    EXPECT_EQ(fader.color(1), 0x123456);
    EXPECT_EQ(fader.color(10), 0x654321);
}

TEST(ConfigPages, PanelsUpToTheSliderPositionAreVisible) {
    for (int position = 1; position <= 10; ++position)
        for (int panel = 1; panel <= 10; ++panel)
            EXPECT_EQ(ColorPanelVisible(panel, position), panel <= position);
}

// Records what the preview receives, one entry per call.
struct TPreviewRecorder final : IPreviewWriter {
    std::vector<std::string> calls;
    std::string text;
    std::vector<std::uint32_t> colours;  // one per character of `text`
    std::uint32_t colour = 0xFFFFFFFF;
    bool writable = false;

    void Begin(const TFontChoice& f) override {
        calls.push_back("begin " + f.face + (f.bold ? " bold" : "") + (f.italic ? " italic" : "") +
                        (f.underline ? " underline" : "") + (f.strikeout ? " strikeout" : ""));
        text.clear();
        colours.clear();
        colour = kPreviewBlack;
        writable = true;
    }
    void SetSelectionColor(std::uint32_t c) override { colour = c; }
    void TypeChar(unsigned char ch) override {
        EXPECT_TRUE(writable);
        text += static_cast<char>(ch);
        colours.push_back(colour);
    }
    void SetText(const std::string& t) override {
        EXPECT_TRUE(writable);
        calls.push_back("set");
        text = t;
        colours.assign(t.size(), kPreviewBlack);
    }
    void End() override {
        calls.push_back("end");
        writable = false;
    }
};

constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kBlue = 0xFF0000;

class Preview : public testing::Test {
  protected:
    Preview() {
        general.edt_presongtitle = "[";
        general.edt_postsongtitle = "]";
        colours[0] = kRed;
        colours[1] = kBlue;
    }
    std::vector<std::uint32_t> FaderColours(const std::string& text) {
        TPreviewRecorder fader;
        fader.Begin(TFontChoice{});
        FadeText(text, colours, 2, true, &fader);
        return fader.colours;
    }
    TGeneralPage general;
    TFadeColors colours{};
    TPreviewRecorder preview;
};

TEST_F(Preview, WithoutFadeTheWholeLineIsSetInBlackInThePlainFont) {
    general.chk_enablefade = false;
    general.chk_preposttitlefade = false;
    DrawPreview(general, colours, 2, preview);
    EXPECT_EQ(preview.calls, (std::vector<std::string>{"begin MS Sans Serif", "set", "end"}));
    EXPECT_EQ(preview.text, "[author - songtitle]");
    EXPECT_EQ(preview.colours, std::vector<std::uint32_t>(20, kPreviewBlack));
}

TEST_F(Preview, FadingTheTextsWithTheTitleTypesTheWholeLineInTheGradient) {
    general.chk_enablefade = true;
    general.chk_preposttitlefade = true;
    DrawPreview(general, colours, 2, preview);
    EXPECT_EQ(preview.text, "[author - songtitle]");
    EXPECT_EQ(preview.colours, FaderColours("[author - songtitle]"));
    EXPECT_EQ(preview.colours.front(), kRed);
    EXPECT_EQ(preview.calls.back(), "end");
}

TEST_F(Preview, FadingTheTitleAloneTypesTheBeforeTextBlackAndTheAfterTextInTheLastColour) {
    general.edt_presongtitle = "<<";
    general.edt_postsongtitle = ">>";
    general.chk_enablefade = true;
    general.chk_preposttitlefade = false;
    DrawPreview(general, colours, 2, preview);
    ASSERT_EQ(preview.text, "<<author - songtitle>>");
    std::vector<std::uint32_t> expected = {kPreviewBlack, kPreviewBlack};
    auto title = FaderColours("author - songtitle");
    expected.insert(expected.end(), title.begin(), title.end());
    expected.push_back(title.back());
    expected.push_back(title.back());
    EXPECT_EQ(preview.colours, expected);
}

TEST_F(Preview, UsesTheFontOfTheControlsOnlyWithFontFormatting) {
    general.edt_fontface = "Arial";
    general.chk_bold = true;
    general.chk_strikeout = true;
    general.chk_enablefontformat = true;
    DrawPreview(general, colours, 2, preview);
    EXPECT_EQ(preview.calls.front(), "begin Arial bold strikeout");
    general.chk_enablefontformat = false;
    DrawPreview(general, colours, 2, preview);
    EXPECT_EQ(preview.calls[3], "begin MS Sans Serif");
}

TEST_F(Preview, EmptyTextsAroundTheTitleLeaveJustTheTitle) {
    general.edt_presongtitle.clear();
    general.edt_postsongtitle.clear();
    general.chk_enablefade = true;
    DrawPreview(general, colours, 10, preview);
    EXPECT_EQ(preview.text, "author - songtitle");
    EXPECT_EQ(preview.colours.size(), 18u);
}

}  // namespace
