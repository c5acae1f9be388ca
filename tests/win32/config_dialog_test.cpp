// The configuration dialog driven through its controls: clicks, typed texts, check states, the
// slider and the tabs, with the choosers and the save behind fakes where they would block.
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "announce/u_composer.h"
#include "announce/u_fader.h"
#include "common/app_error.h"
#include "common/errors.h"
#include "common/system_calls_win32.h"
#include "config/registry.h"
#include "config/u_config.h"
#include "config/u_configdialog_ids.h"
#include "config/u_configdialog_win32.h"
#include "config/u_language.h"
#include "control_lookup.h"

namespace {

// Answers the choosers from queues and records how they were opened.
struct TScriptedChoosers final : IConfigChoosers {
    std::deque<std::optional<COLORREF>> colours;
    std::deque<std::optional<TFontChoice>> fonts;
    std::vector<TFontChoice> fontRequests;
    int colourRequests = 0;

    std::optional<COLORREF> PickColour(HWND) override {
        ++colourRequests;
        if (colours.empty())
            return std::nullopt;
        auto answer = colours.front();
        colours.pop_front();
        return answer;
    }
    std::optional<TFontChoice> PickFont(HWND, const TFontChoice& initial) override {
        fontRequests.push_back(initial);
        if (fonts.empty())
            return std::nullopt;
        auto answer = fonts.front();
        fonts.pop_front();
        return answer;
    }
};

// A complete settings record in which every field differs from the dialog's defaults.
TPluginSettings OtherSettings() {
    TPluginSettings s;
    s.general = {false, true, "pre>", "<post", false, true, true, "Arial", true, true, true, true};
    s.aol = {false, false, true, true, "2345"};
    for (int n = 1; n <= 10; ++n)
        s.fader.color(n) = 0x010203 * n;
    s.fader.fadecolors = 7;
    return s;
}

class ConfigDialog : public testing::Test {
  protected:
    void SetUp() override {
        PluginSettings = TPluginSettings{};
        SetErrorDisplay([this](const std::string& message) { errors.push_back(message); });
        CreateForm([this] { ++saves; });
    }

    void TearDown() override {
        form.reset();
        SetErrorDisplay(nullptr);
        PluginSettings = TPluginSettings{};
    }

    void CreateForm(std::function<void()> save) {  // empty: the real SaveSettings
        form.reset();
        auto scripted = std::make_unique<TScriptedChoosers>();
        choosers = scripted.get();
        TMainFormServices services;
        services.saveSettings = std::move(save);
        services.choosers = std::move(scripted);
        form = std::make_unique<TMainForm>(std::move(services));
    }

    HWND Control(int id) const {
        HWND found = testutil::FindControl(form->Handle(), id);
        EXPECT_NE(found, nullptr) << "control " << id;
        return found;
    }

    std::string Text(int id) const {
        char buffer[512] = {};
        GetWindowTextA(Control(id), buffer, sizeof buffer);
        return buffer;
    }
    void Type(int id, const std::string& text) {
        SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    bool Checked(int id) const {
        return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Shown(int id) const { return (GetWindowLongA(Control(id), GWL_STYLE) & WS_VISIBLE) != 0; }
    // Only an enabled control can be clicked.
    void Click(int id) {
        ASSERT_TRUE(Enabled(id)) << "clicked a greyed control " << id;
        SendMessageA(Control(id), BM_CLICK, 0, 0);
    }
    void SetCheck(int id, bool on) {
        if (Checked(id) != on)
            Click(id);
    }
    void ClickPanel(int n) {
        HWND panel = Control(cfgid::pnl_fadecolor(n));
        SendMessageA(GetParent(panel), WM_COMMAND, MAKEWPARAM(cfgid::pnl_fadecolor(n), STN_CLICKED),
                     reinterpret_cast<LPARAM>(panel));
    }

    // A click on the tab, as the user makes it.
    void ClickTab(int index) {
        HWND tabs = Control(cfgid::PageControl1);
        RECT r{};
        SendMessageA(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(tabs, WM_LBUTTONUP, 0, at);
        ASSERT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), index);
    }
    int Slider() const {
        return static_cast<int>(SendMessageA(Control(cfgid::bar_fadecolors), TBM_GETPOS, 0, 0));
    }
    // Moves the slider with the keyboard, so it notifies the dialog as a user's move does.
    void MoveSlider(int position) {
        HWND bar = Control(cfgid::bar_fadecolors);
        SendMessageA(bar, WM_KEYDOWN, VK_HOME, 0);
        for (int i = 1; i < position; ++i)
            SendMessageA(bar, WM_KEYDOWN, VK_RIGHT, 0);
        ASSERT_EQ(Slider(), position);
    }
    int ShownPanels() const {
        int count = 0;
        for (int n = 1; n <= 10; ++n)
            count += Shown(cfgid::pnl_fadecolor(n)) ? 1 : 0;
        return count;
    }

    std::unique_ptr<TMainForm> form;
    TScriptedChoosers* choosers = nullptr;
    int saves = 0;
    std::vector<std::string> errors;
};

TEST_F(ConfigDialog, IsAHiddenAlwaysOnTopToolWindowWithTheGermanCaptionAndFourTabs) {
    HWND dlg = form->Handle();
    EXPECT_FALSE(IsWindowVisible(dlg)) << "created hidden";
    char caption[64] = {};
    GetWindowTextA(dlg, caption, sizeof caption);
    EXPECT_STREQ(caption, "BrenloPlug3 Konfiguration");
    LONG exStyle = GetWindowLongA(dlg, GWL_EXSTYLE);
    LONG style = GetWindowLongA(dlg, GWL_STYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_TRUE(style & WS_SYSMENU) << "the close box";
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

    RECT r{}, screen{};
    GetWindowRect(dlg, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0);
    EXPECT_NEAR((r.left + r.right) / 2, (screen.left + screen.right) / 2, 2);
    EXPECT_NEAR((r.top + r.bottom) / 2, (screen.top + screen.bottom) / 2, 2);

    HWND tabs = Control(cfgid::PageControl1);
    ASSERT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 4);
    const char* expected[] = {"Allgemein", "AOL", "Farbverlauf", "Dateiaustausch"};
    for (int i = 0; i < 4; ++i) {
        char text[64] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(text, expected[i]);
    }
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0) << "page Allgemein first";
}

struct ControlDefault {
    int id;
    const char* windowClass;
    const char* caption;  // nullptr: not checked (text fields are checked by their text)
    int check;            // -1: not a check box
    bool enabled;
};

TEST_F(ConfigDialog, EveryControlHasItsCaptionAndDefaultState) {
    const ControlDefault table[] = {
        {cfgid::chk_enablechat, "Button", "Chat Ausgabe anschalten", 1, true},
        {cfgid::chk_enablefade, "Button", "mit Farbverlauf (zur Zeit nur aol und aim)", 0, true},
        {cfgid::grp_titleformat, "Button", "Titelformat ", -1, true},
        {cfgid::edt_presongtitle, "ComboBox", ".:BP::[ ", -1, true},
        {cfgid::lbl_songtitle, "Static", "Songtitel", -1, true},
        {cfgid::edt_postsongtitle, "ComboBox", " ]:: v3 :.", -1, true},
        {cfgid::chk_preposttitlefade, "Button", "mit Farbverlauf?", 1, true},
        {cfgid::chk_extsonginfo, "Button", "erweiterte Songinfo (Bitrate und Spielzeit) anzeigen",
         0, true},
        {cfgid::chk_enablefontformat, "Button",
         "Schriftformatierung an? (zur Zeit nur aol, aim und yahoo)", 0, true},
        {cfgid::lbl_fontface, "Static", "Schriftart", -1, false},
        {cfgid::edt_fontface, "Edit", "Comic Sans MS", -1, false},
        {cfgid::chk_bold, "Button", "fett?", 0, false},
        {cfgid::chk_underline, "Button", "unterstrichen?", 0, false},
        {cfgid::chk_italic, "Button", "italic?", 0, false},
        {cfgid::chk_strikeout, "Button", "durchgestrichen?", 0, false},
        {cfgid::btn_choosefont, "Button", "Schrift w\xE4hlen", -1, false},
        {cfgid::lbl_copyright, "Static", nullptr, -1, true},
        {cfgid::lbl_updatesnote, "Static", "Updates und Infos unter:", -1, true},
        {cfgid::lbl_germanweb, "Static", nullptr, -1, true},
        {cfgid::lbl_webenglish, "Static", nullptr, -1, true},
        {cfgid::chk_enableaol, "Button", "AOL Unterst\xFCtzung anschalten?", 1, true},
        {cfgid::chk_aoladvertising, "Button", "mit Werbung?", 1, true},
        {cfgid::chk_aolwavyscroll, "Button", "Wellenformat?", 0, false},
        {cfgid::chk_aolfs, "Button", "Dateiaustausch aktivieren?", 0, true},
        {cfgid::lbl_fsport, "Static", "Fileserver auf Port:", -1, false},
        {cfgid::edt_fsport, "Edit", "1000", -1, false},
        {cfgid::lbl_colorbar, "Static", "Anzahl Farben (1-10):", -1, true},
        {cfgid::bar_fadecolors, "msctls_trackbar32", nullptr, -1, true},
        {cfgid::edt_preview, "RichEdit20A", "", -1, true},
        {cfgid::btn_applyconfig, "Button",
         "&\xDC"
         "bernehmen",
         -1, true},
        {cfgid::btn_close, "Button",
         "Schlie\xDF"
         "en",
         -1, true},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.id);
        HWND control = Control(c.id);
        ASSERT_NE(control, nullptr);
        char cls[64] = {};
        GetClassNameA(control, cls, sizeof cls);
        EXPECT_STRCASEEQ(cls, c.windowClass);
        if (c.caption) {
            EXPECT_EQ(Text(c.id), c.caption);
        } else if (c.id != cfgid::bar_fadecolors) {
            EXPECT_FALSE(Text(c.id).empty()) << "a maker's text";
        }
        if (c.check >= 0) {
            EXPECT_EQ(Checked(c.id), c.check == 1);
        }
        EXPECT_EQ(Enabled(c.id), c.enabled);
    }
    for (int id : {cfgid::edt_presongtitle, cfgid::edt_postsongtitle}) {
        HWND combo = Control(id);
        ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 1) << "the list holds the default";
        char entry[64] = {};
        SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(entry, Text(id));
    }
    EXPECT_EQ(Slider(), 1);
    EXPECT_EQ(SendMessageA(Control(cfgid::bar_fadecolors), TBM_GETRANGEMIN, 0, 0), 1);
    EXPECT_EQ(SendMessageA(Control(cfgid::bar_fadecolors), TBM_GETRANGEMAX, 0, 0), 10);
    EXPECT_EQ(ShownPanels(), 1);
}

TEST_F(ConfigDialog, StoringTheUntouchedControlsGivesTheFirstStartSettings) {
    PluginSettings.fader.color(3) = 0x123456;
    form->StoreControls();
    TPluginSettings expected;
    expected.general = {true,  false,           ".:BP::[ ", " ]:: v3 :.", true,  false,
                        false, "Comic Sans MS", false,      false,        false, false};
    expected.aol = {true, true, false, false, "1000"};
    expected.fader.color(3) = 0x123456;  // the colours are not the dialog's
    expected.fader.fadecolors = 1;
    EXPECT_TRUE(PluginSettings == expected);
    EXPECT_EQ(saves, 0) << "storing is not saving";
}

TEST_F(ConfigDialog, ShowingFillsEveryControlAndApplyStoresItBack) {
    const TPluginSettings other = OtherSettings();
    PluginSettings = other;
    form->Show();
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    EXPECT_FALSE(Checked(cfgid::chk_enablechat));
    EXPECT_TRUE(Checked(cfgid::chk_enablefade));
    EXPECT_EQ(Text(cfgid::edt_presongtitle), "pre>");
    EXPECT_EQ(Text(cfgid::edt_postsongtitle), "<post");
    EXPECT_FALSE(Checked(cfgid::chk_preposttitlefade));
    EXPECT_TRUE(Checked(cfgid::chk_extsonginfo));
    EXPECT_TRUE(Checked(cfgid::chk_enablefontformat));
    EXPECT_EQ(Text(cfgid::edt_fontface), "Arial");
    for (int id : {cfgid::chk_bold, cfgid::chk_italic, cfgid::chk_underline, cfgid::chk_strikeout})
        EXPECT_TRUE(Checked(id)) << id;
    EXPECT_FALSE(Checked(cfgid::chk_enableaol));
    EXPECT_FALSE(Checked(cfgid::chk_aoladvertising));
    EXPECT_TRUE(Checked(cfgid::chk_aolwavyscroll));
    EXPECT_TRUE(Checked(cfgid::chk_aolfs));
    EXPECT_EQ(Text(cfgid::edt_fsport), "2345");
    EXPECT_EQ(Slider(), 7);
    EXPECT_EQ(ShownPanels(), 7);

    PluginSettings = TPluginSettings{};
    PluginSettings.fader.fadecolor = other.fader.fadecolor;
    Click(cfgid::btn_applyconfig);
    EXPECT_TRUE(PluginSettings == other);
    EXPECT_EQ(saves, 1);
}

TEST_F(ConfigDialog, EditsMadeThroughTheControlsReachThePluginSettingsOnApply) {
    form->StoreControls();  // the first start's settings
    form->Show();
    Click(cfgid::chk_enablechat);
    Click(cfgid::chk_enablefade);
    Type(cfgid::edt_presongtitle, "");
    Type(cfgid::edt_postsongtitle, "  nach  ");
    Click(cfgid::chk_preposttitlefade);
    Click(cfgid::chk_extsonginfo);
    Click(cfgid::chk_enablefontformat);
    Type(cfgid::edt_fontface, "Courier New");
    Click(cfgid::chk_italic);
    Click(cfgid::chk_strikeout);
    ClickTab(1);
    Click(cfgid::chk_enableaol);
    Click(cfgid::chk_aolfs);
    Type(cfgid::edt_fsport, "no port");
    EXPECT_FALSE(Enabled(cfgid::chk_aolwavyscroll)) << "the user cannot change it";
    ClickTab(2);
    MoveSlider(4);
    Click(cfgid::btn_applyconfig);

    const auto& g = PluginSettings.general;
    EXPECT_FALSE(g.enablechat);
    EXPECT_TRUE(g.enablefade);
    EXPECT_EQ(g.presongtitle, "");
    EXPECT_EQ(g.postsongtitle, "  nach  ") << "texts are stored as typed";
    EXPECT_FALSE(g.preposttitlefade);
    EXPECT_TRUE(g.extsonginfo);
    EXPECT_TRUE(g.enablefontformat);
    EXPECT_EQ(g.fontface, "Courier New");
    EXPECT_FALSE(g.bold);
    EXPECT_TRUE(g.italic);
    EXPECT_FALSE(g.underline);
    EXPECT_TRUE(g.strikeout);
    EXPECT_FALSE(PluginSettings.aol.enableaol);
    EXPECT_TRUE(PluginSettings.aol.aoladvertising);
    EXPECT_FALSE(PluginSettings.aol.aolwavyscroll);
    EXPECT_TRUE(PluginSettings.aol.aolfs);
    EXPECT_EQ(PluginSettings.aol.fsport, "no port");
    EXPECT_EQ(PluginSettings.fader.fadecolors, 4);
    EXPECT_EQ(saves, 1);
}

TEST_F(ConfigDialog, AColourCountOutsideTheSliderRangeShowsAtItsEndAndIsStoredAsShown) {
    const struct { int stored, shown; } cases[] = {{0, 1}, {15, 10}, {-3, 1}, {10, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        form->Hide();
        PluginSettings.fader.fadecolors = c.stored;
        form->Show();
        EXPECT_EQ(Slider(), c.shown);
        EXPECT_EQ(ShownPanels(), c.shown);
        Click(cfgid::btn_applyconfig);
        EXPECT_EQ(PluginSettings.fader.fadecolors, c.shown);
    }
}

TEST_F(ConfigDialog, TheSliderShowsExactlyAsManyColourPanelsAsItsPosition) {
    form->Show();
    ClickTab(2);
    for (int position : {10, 3, 1, 6}) {
        MoveSlider(position);
        for (int n = 1; n <= 10; ++n)
            EXPECT_EQ(Shown(cfgid::pnl_fadecolor(n)), n <= position) << position << " " << n;
    }
    EXPECT_EQ(PluginSettings.fader.fadecolors, 0) << "the count is stored on apply only";
}

TEST_F(ConfigDialog, AnUnappliedEditIsGoneAfterSwitchingPagesYetApplyOnTheOtherPageStoresIt) {
    PluginSettings.general.presongtitle = "saved";
    form->Show();
    Type(cfgid::edt_presongtitle, "edited");
    Click(cfgid::chk_enablefade);
    ClickTab(1);
    Click(cfgid::btn_applyconfig);
    EXPECT_EQ(PluginSettings.general.presongtitle, "edited");
    EXPECT_TRUE(PluginSettings.general.enablefade);

    Type(cfgid::edt_fsport, "4321");
    ClickTab(0);
    Type(cfgid::edt_presongtitle, "lost");
    ClickTab(1);
    EXPECT_EQ(Text(cfgid::edt_fsport), "") << "page AOL refilled from the settings";
    ClickTab(0);
    EXPECT_EQ(Text(cfgid::edt_presongtitle), "edited");
}

TEST_F(ConfigDialog, TheControlsThatDependOnASwitchFollowItAtOnce) {
    const struct {
        const char* name;
        int page;
        int switchId;
        bool& stored;
        std::vector<int> dependents;
    } cases[] = {
        {"font formatting",
         0,
         cfgid::chk_enablefontformat,
         PluginSettings.general.enablefontformat,
         {cfgid::lbl_fontface, cfgid::edt_fontface, cfgid::chk_bold, cfgid::chk_italic,
          cfgid::chk_underline, cfgid::chk_strikeout, cfgid::btn_choosefont}},
        {"file sharing",
         1,
         cfgid::chk_aolfs,
         PluginSettings.aol.aolfs,
         {cfgid::edt_fsport, cfgid::lbl_fsport}},
    };
    for (const auto& c : cases) {
        for (const bool storedOn : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (storedOn ? ", stored on" : ", stored off"));
            form->Hide();
            c.stored = storedOn;
            form->Show();
            ClickTab(c.page);
            // As stored, then greyed or enabled at once with each click.
            for (int clicks = 0; clicks < 3; ++clicks) {
                if (clicks > 0)
                    Click(c.switchId);
                const bool on = storedOn == (clicks % 2 == 0);
                ASSERT_EQ(Checked(c.switchId), on);
                for (int id : c.dependents)
                    EXPECT_EQ(Enabled(id), on) << "control " << id;
            }
        }
    }
}

TEST_F(ConfigDialog, APickedColourIsInThePluginSettingsAtOnceWithoutSaving) {
    PluginSettings.fader.fadecolors = 10;
    form->Show();
    ClickTab(2);
    choosers->colours = {RGB(0x12, 0x34, 0x56), std::nullopt};
    ClickPanel(4);
    EXPECT_EQ(PluginSettings.fader.color(4), static_cast<std::int32_t>(RGB(0x12, 0x34, 0x56)));
    ClickPanel(5);  // cancelled
    EXPECT_EQ(PluginSettings.fader.color(5), 0);
    EXPECT_EQ(choosers->colourRequests, 2);
    EXPECT_EQ(saves, 0);

    // The panel paints itself in its colour.
    HWND panel = Control(cfgid::pnl_fadecolor(4));
    HDC dc = GetDC(panel);
    auto brush = SendMessageA(GetParent(panel), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(panel));
    LOGBRUSH info{};
    ASSERT_NE(brush, 0);
    GetObjectA(reinterpret_cast<HBRUSH>(brush), sizeof info, &info);
    EXPECT_EQ(info.lbColor, RGB(0x12, 0x34, 0x56));
    ReleaseDC(panel, dc);

    Click(cfgid::btn_close);
    form->Show();
    EXPECT_EQ(PluginSettings.fader.color(4), static_cast<std::int32_t>(RGB(0x12, 0x34, 0x56)))
        << "closing and showing keep the picked colour";
    EXPECT_EQ(saves, 0);
}

TEST_F(ConfigDialog, TheNextAnnouncementUsesAPickedColourWithoutApply) {
    form->StoreControls();
    PluginSettings.general.enablefade = true;
    PluginSettings.general.preposttitlefade = false;
    form->Show();
    ClickTab(2);
    choosers->colours = {RGB(0xAB, 0xCD, 0xEF)};
    ClickPanel(1);
    Click(cfgid::btn_close);

    struct NoFileServer final : IFileServerLink {
        void SetTrayIcon(bool) override {}
        void SetServedFile(const std::string&) override {}
        void SetServerPort(int) override {}
        std::string GetEncodedAddress(char) override { return {}; }
    } link;
    TSongInfo song;
    song.Title = "Song";
    song.Length = 100;
    auto message = ComposeAolMessage(song, PluginSettings, link);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->Text.substr(0, 23), "<font color=\"#ABCDEF\">S");
    EXPECT_EQ(saves, 0);
}

TEST_F(ConfigDialog, TheFontChooserStartsFromTheControlsAndWritesOnlyTheControls) {
    PluginSettings.general = OtherSettings().general;  // Arial, all four styles
    form->Show();
    Click(cfgid::chk_underline);
    TFontChoice chosen;
    chosen.face = "Times New Roman";
    chosen.bold = false;
    chosen.italic = true;
    chosen.underline = true;
    chosen.strikeout = false;
    choosers->fonts = {chosen, std::nullopt};
    Click(cfgid::btn_choosefont);
    ASSERT_EQ(choosers->fontRequests.size(), 1u);
    const TFontChoice& asked = choosers->fontRequests[0];
    EXPECT_EQ(asked.face, "Arial");
    EXPECT_TRUE(asked.bold && asked.italic && asked.strikeout);
    EXPECT_FALSE(asked.underline);
    EXPECT_EQ(Text(cfgid::edt_fontface), "Times New Roman");
    EXPECT_FALSE(Checked(cfgid::chk_bold));
    EXPECT_TRUE(Checked(cfgid::chk_italic));
    EXPECT_TRUE(Checked(cfgid::chk_underline));
    EXPECT_FALSE(Checked(cfgid::chk_strikeout));
    EXPECT_EQ(PluginSettings.general.fontface, "Arial") << "unchanged until apply";

    Click(cfgid::btn_choosefont);  // cancelled
    EXPECT_EQ(Text(cfgid::edt_fontface), "Times New Roman");
    EXPECT_TRUE(Checked(cfgid::chk_italic));
}

TEST_F(ConfigDialog, CloseRequestsOnlyHideAndShowingRefills) {
    form->Show();
    Type(cfgid::edt_fontface, "unapplied");
    Click(cfgid::btn_close);
    EXPECT_FALSE(IsWindowVisible(form->Handle()));
    EXPECT_TRUE(IsWindow(form->Handle()));
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(PluginSettings.general.fontface, "") << "closing stores nothing";

    PluginSettings.general.fontface = "Verdana";
    form->Show();
    EXPECT_EQ(Text(cfgid::edt_fontface), "Verdana");

    int queries = 0;
    form->OnCloseQuery = [&] {
        ++queries;
        return false;
    };
    SendMessageA(form->Handle(), WM_CLOSE, 0, 0);
    Click(cfgid::btn_close);
    EXPECT_EQ(queries, 2);
    EXPECT_TRUE(IsWindowVisible(form->Handle())) << "a refused close leaves it to the frame";
}

// Keys go through an ordinary message loop, as the host's loop delivers them.
void PumpKeys() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

TEST_F(ConfigDialog, TheTabKeyMovesTheFocusInTheHostsMessageLoopWhileTheDialogIsShown) {
    form->Show();
    HWND first = Control(cfgid::chk_enablechat);
    SetFocus(first);
    ASSERT_EQ(GetFocus(), first);
    PostMessageA(first, WM_KEYDOWN, VK_TAB, 0);
    PumpKeys();
    EXPECT_EQ(GetFocus(), Control(cfgid::chk_enablefade));

    Click(cfgid::btn_close);
    SetFocus(first);  // a hidden dialog leaves the keys to their window
    PostMessageA(first, WM_KEYDOWN, VK_TAB, 0);
    PumpKeys();
    EXPECT_EQ(GetFocus(), first);
}

TEST_F(ConfigDialog, ApplyLanguagePutsTheTextsOnTheCaptionsAndKeepsTheFixedOnes) {
    TLanguageTexts saved = LanguageTexts;
    LanguageTexts = TLanguageTexts{};
    LanguageTexts.aol.chk_aolfs = "File sharing on?";
    LanguageTexts.aol.edt_fsport = "Port:";
    LanguageTexts.general.chk_extsonginfo = "extended info";
    LanguageTexts.filesharing.configcaption = "Sharing";
    LanguageTexts.fader.lbl_colorbar = "Colours:";
    form->ApplyLanguage();
    LanguageTexts = saved;

    EXPECT_EQ(Text(cfgid::chk_aolfs), "File sharing on?");
    EXPECT_EQ(Text(cfgid::lbl_fsport), "Port:");
    EXPECT_EQ(Text(cfgid::edt_fsport), "1000") << "the port field keeps its number";
    EXPECT_EQ(Text(cfgid::chk_extsonginfo), "extended info");
    EXPECT_EQ(Text(cfgid::lbl_colorbar), "Colours:");
    for (int id : {cfgid::chk_enablechat, cfgid::chk_enablefade, cfgid::chk_preposttitlefade,
                   cfgid::chk_enablefontformat, cfgid::lbl_songtitle, cfgid::lbl_fontface,
                   cfgid::btn_choosefont, cfgid::grp_titleformat, cfgid::lbl_updatesnote,
                   cfgid::chk_bold, cfgid::chk_italic, cfgid::chk_underline, cfgid::chk_strikeout,
                   cfgid::chk_enableaol, cfgid::chk_aoladvertising, cfgid::chk_aolwavyscroll})
        EXPECT_EQ(Text(id), "") << "an absent text empties the caption: " << id;

    HWND tabs = Control(cfgid::PageControl1);
    const char* expectedTabs[] = {"", "", "", "Sharing"};
    for (int i = 0; i < 4; ++i) {
        char text[64] = "x";
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(item.pszText, expectedTabs[i]) << i;
    }
    char caption[64] = {};
    GetWindowTextA(form->Handle(), caption, sizeof caption);
    EXPECT_STREQ(caption, "BrenloPlug3 Konfiguration");
    EXPECT_EQ(Text(cfgid::btn_applyconfig),
              "&\xDC"
              "bernehmen");
    EXPECT_EQ(Text(cfgid::btn_close),
              "Schlie\xDF"
              "en");
    EXPECT_EQ(Text(cfgid::edt_presongtitle), ".:BP::[ ");
    EXPECT_FALSE(Text(cfgid::lbl_copyright).empty());
}

// The registry of a user who may not write: keys open, values cannot be set.
struct TReadOnlyRegistry final : IRegistry {
    bool OpenKey(TRegKey, const std::string&, TRegKey& key) override {
        key = 7;
        return true;
    }
    bool CreateKey(TRegKey, const std::string&, TRegKey& key) override {
        key = 7;
        return true;
    }
    bool QueryValue(TRegKey, const std::string&, std::uint32_t&, std::string&) override {
        return false;
    }
    bool SetValue(TRegKey, const std::string&, std::uint32_t, const std::string&) override {
        return false;
    }
    void CloseKey(TRegKey) override {}
};

class ConfigDialogOnTheRegistry : public ConfigDialog {
  protected:
    void SetUp() override {
        ConfigDialog::SetUp();
        RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
        SetSettingsRegistry(&WindowsRegistry());
        CreateForm(nullptr);  // the real SaveSettings
    }
    void TearDown() override {
        ConfigDialog::TearDown();
        SetSettingsRegistry(nullptr);
        RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
    }
    static std::string StringValue(const char* subkey, const char* name) {
        char data[256] = {};
        DWORD size = sizeof data;
        std::string path = std::string(kProductKey) + "\\" + subkey;
        if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data,
                         &size) != ERROR_SUCCESS)
            return "<absent>";
        return data;
    }
    static long DwordValue(const char* subkey, const char* name) {
        DWORD data = 0;
        DWORD size = sizeof data;
        std::string path = std::string(kProductKey) + "\\" + subkey;
        if (RegGetValueA(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &data,
                         &size) != ERROR_SUCCESS)
            return -1;
        return static_cast<long>(data);
    }
};

TEST_F(ConfigDialogOnTheRegistry, ApplySavesTheControlsToTheRegistry) {
    PluginSettings.fader.color(2) = RGB(1, 2, 3);
    form->Show();
    Type(cfgid::edt_presongtitle, "vorher ");
    Click(cfgid::chk_enablefade);
    ClickTab(1);
    Click(cfgid::chk_aolfs);
    Type(cfgid::edt_fsport, "8080");
    ClickTab(2);
    MoveSlider(3);
    Click(cfgid::btn_applyconfig);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(IsFirstStart());
    EXPECT_EQ(StringValue("general", "presongtitle"), "vorher ");
    EXPECT_EQ(DwordValue("general", "enablefade"), 1);
    EXPECT_EQ(DwordValue("aol", "aolfs"), 1);
    EXPECT_EQ(StringValue("fs", "fsport"), "8080");
    EXPECT_EQ(DwordValue("fader", "fadecolors"), 3);
    EXPECT_EQ(DwordValue("fader", "fadecolor2"), static_cast<long>(RGB(1, 2, 3)));

    // What was saved is what the next library load reads.
    TPluginSettings applied = PluginSettings;
    PluginSettings = TPluginSettings{};
    LoadSettings();
    EXPECT_TRUE(PluginSettings == applied);
}

TEST_F(ConfigDialogOnTheRegistry, AFailingSaveShowsItsErrorAndLeavesTheDialogUsable) {
    TReadOnlyRegistry readOnly;
    SetSettingsRegistry(&readOnly);
    form->Show();
    Click(cfgid::chk_enablefade);
    Click(cfgid::btn_applyconfig);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Fehler beim Setzen der Daten f\xFCr 'enablechat'");
    EXPECT_TRUE(PluginSettings.general.enablefade) << "the controls were stored before the save";
    EXPECT_EQ(Text(cfgid::edt_preview), "") << "no preview after a failed save";
    EXPECT_TRUE(IsWindowVisible(form->Handle()));

    SetSettingsRegistry(&WindowsRegistry());
    Click(cfgid::btn_applyconfig);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(DwordValue("general", "enablefade"), 1);
    EXPECT_NE(Text(cfgid::edt_preview), "");
}

// ---- the preview --------------------------------------------------------------------------------

struct PreviewChar {
    char ch;
    COLORREF colour;
};

std::vector<PreviewChar> ReadPreview(HWND edit) {
    std::vector<PreviewChar> out;
    int length = GetWindowTextLengthA(edit);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(edit, text.data(), length + 1);
    for (int i = 0; i < length; ++i) {
        SendMessageA(edit, EM_SETSEL, i, i + 1);
        CHARFORMATA cf{};
        cf.cbSize = sizeof cf;
        SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
        out.push_back({text[static_cast<std::size_t>(i)], cf.crTextColor});
    }
    return out;
}

std::string TextOf(const std::vector<PreviewChar>& chars) {
    std::string s;
    for (const auto& c : chars)
        s += c.ch;
    return s;
}

class ConfigDialogPreview : public ConfigDialog {
  protected:
    void SetUp() override {
        ConfigDialog::SetUp();
        PluginSettings.general.presongtitle = "<<";
        PluginSettings.general.postsongtitle = ">>";
        PluginSettings.fader.color(1) = RGB(255, 0, 0);
        PluginSettings.fader.color(2) = RGB(0, 0, 255);
        PluginSettings.fader.fadecolors = 2;
    }
    std::vector<PreviewChar> Apply() {
        form->Show();
        Click(cfgid::btn_applyconfig);
        HWND edit = Control(cfgid::edt_preview);
        EXPECT_TRUE(GetWindowLongA(edit, GWL_STYLE) & ES_READONLY) << "read-only again";
        return ReadPreview(edit);
    }
    // The colours in which the fader types `text` with the settings' colours.
    static std::vector<COLORREF> Faded(const std::string& text) {
        struct Recorder final : IPreviewControl {
            std::uint32_t colour = 0;
            std::vector<COLORREF> typed;
            void SetSelectionColor(std::uint32_t c) override { colour = c; }
            void TypeChar(unsigned char) override { typed.push_back(colour); }
        } recorder;
        TFadeColors colours{};
        std::copy(PluginSettings.fader.fadecolor.begin(), PluginSettings.fader.fadecolor.end(),
                  colours.begin());
        FadeText(text, colours, PluginSettings.fader.fadecolors, true, &recorder);
        return recorder.typed;
    }
};

TEST_F(ConfigDialogPreview, WithoutFadeShowsTheTextsAndTheTitleInBlack) {
    PluginSettings.general.enablefade = false;
    PluginSettings.general.preposttitlefade = false;
    auto chars = Apply();
    EXPECT_EQ(TextOf(chars), "<<author - songtitle>>");
    for (const auto& c : chars)
        EXPECT_EQ(c.colour, RGB(0, 0, 0)) << c.ch;
}

TEST_F(ConfigDialogPreview, WithFadeOverTheTextsTheWholeLineTakesTheGradient) {
    PluginSettings.general.enablefade = true;
    PluginSettings.general.preposttitlefade = true;
    auto chars = Apply();
    ASSERT_EQ(TextOf(chars), "<<author - songtitle>>");
    auto expected = Faded("<<author - songtitle>>");
    ASSERT_EQ(expected.size(), chars.size());
    EXPECT_EQ(chars.front().colour, RGB(255, 0, 0));
    EXPECT_NE(chars.back().colour, RGB(255, 0, 0));
    for (std::size_t i = 0; i < chars.size(); ++i)
        EXPECT_EQ(chars[i].colour, expected[i]) << i;
}

TEST_F(ConfigDialogPreview, WithFadeOnTheTitleOnlyTheBeforeTextIsBlackAndTheAfterTextKeepsTheLast) {
    PluginSettings.general.enablefade = true;
    PluginSettings.general.preposttitlefade = false;
    auto chars = Apply();
    ASSERT_EQ(TextOf(chars), "<<author - songtitle>>");
    auto expected = Faded("author - songtitle");
    ASSERT_EQ(expected.size(), 18u);
    EXPECT_EQ(chars[0].colour, RGB(0, 0, 0));
    EXPECT_EQ(chars[1].colour, RGB(0, 0, 0));
    for (std::size_t i = 0; i < 18; ++i)
        EXPECT_EQ(chars[i + 2].colour, expected[i]) << i;
    EXPECT_EQ(chars[20].colour, expected[17]);
    EXPECT_EQ(chars[21].colour, expected[17]);
}

TEST_F(ConfigDialogPreview, UsesTheChosenFontOnlyWithFontFormatting) {
    PluginSettings.general.enablefontformat = true;
    PluginSettings.general.fontface = "Arial";
    PluginSettings.general.bold = true;
    PluginSettings.general.italic = false;
    Apply();
    HWND edit = Control(cfgid::edt_preview);
    CHARFORMATA cf{};
    cf.cbSize = sizeof cf;
    SendMessageA(edit, EM_SETSEL, 0, 1);
    SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    EXPECT_STREQ(cf.szFaceName, "Arial");
    EXPECT_TRUE(cf.dwEffects & CFE_BOLD);
    EXPECT_FALSE(cf.dwEffects & CFE_ITALIC);

    Click(cfgid::chk_enablefontformat);
    Click(cfgid::btn_applyconfig);
    SendMessageA(edit, EM_SETSEL, 0, 1);
    SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    EXPECT_STREQ(cf.szFaceName, "MS Sans Serif");
    EXPECT_FALSE(cf.dwEffects & CFE_BOLD);
}

}  // namespace

namespace {

BOOL CALLBACK CountConfigDialogs(HWND hwnd, LPARAM param) {
    char title[128] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process == GetCurrentProcessId() && std::string(title) == "BrenloPlug3 Konfiguration")
        ++*reinterpret_cast<int*>(param);
    return TRUE;
}

int ConfigDialogWindows() {
    int count = 0;
    EnumWindows(CountConfigDialogs, reinterpret_cast<LPARAM>(&count));
    return count;
}

TEST_F(ConfigDialog, APageThatFailsToLoadLeavesNoHalfBuiltDialogAndSaysWhichPage) {
    const int before = ConfigDialogWindows();
    TMainFormServices services;
    services.saveSettings = [] {};
    services.pageTemplates = {cfgid::tsh_general, cfgid::tsh_aol, 4711, cfgid::tsh_filesharing};
    try {
        TMainForm broken(std::move(services));
        FAIL() << "a dialog with a missing page was built";
    } catch (const EBrenloError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Die Seite \"Farbverlauf\" des Konfigurationsdialogs kann nicht geladen "
                  "werden.");
    }
    EXPECT_EQ(ConfigDialogWindows(), before) << "the half-built dialog was left behind";
    EXPECT_TRUE(errors.empty()) << "reported once, by whoever created the dialog";
}

HHOOK WINAPI RefuseHook(int, HOOKPROC, HINSTANCE, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(ConfigDialog, WithoutItsKeyboardHookTheDialogStillShowsAndSaysSoOnce) {
    SystemCalls().SetWindowsHookExA = RefuseHook;
    std::vector<std::string> reported;
    for (int i = 0; i < 3; ++i) {
        try {
            form->Show();
        } catch (const EBrenloError& e) {
            reported.push_back(e.what());
        }
        EXPECT_TRUE(IsWindowVisible(form->Handle()));
        form->Hide();
    }
    SystemCalls().SetWindowsHookExA = &::SetWindowsHookExA;
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("SetWindowsHookExA"), std::string::npos) << reported[0];
}

}  // namespace
