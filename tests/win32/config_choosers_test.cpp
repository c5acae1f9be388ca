// The configuration dialog with the real colour and font choosers. They are modal, so a thread
// timer answers them from inside their own message loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "config/u_config.h"
#include "config/u_configdialog_ids.h"
#include "config/u_configdialog_win32.h"
#include "control_lookup.h"

namespace {

// The red, green and blue fields of the colour chooser's expanded part.
constexpr int kChooserRed = 706;
constexpr int kChooserGreen = 707;
constexpr int kChooserBlue = 708;
constexpr int kGiveUpAfterTicks = 100;  // of 50 ms

struct ChooserAnswer {
    std::function<void(HWND chooser)> answer;
    HWND configDialog = nullptr;
    bool seen = false;
    bool topmost = false;
    bool redFieldShown = false;
    int ticks = 0;
};

ChooserAnswer* g_pending = nullptr;

BOOL CALLBACK FindChooser(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<HWND*>(param);
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (IsWindowVisible(hwnd) && std::string(cls) == "#32770" && hwnd != g_pending->configDialog) {
        *found = hwnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK AnswerChooser(HWND, UINT, UINT_PTR timer, DWORD) {
    ChooserAnswer* pending = g_pending;
    if (!pending)
        return;
    HWND chooser = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindChooser, reinterpret_cast<LPARAM>(&chooser));
    if (!chooser) {
        if (++pending->ticks > kGiveUpAfterTicks)
            KillTimer(nullptr, timer);  // the test fails on `seen`
        return;
    }
    KillTimer(nullptr, timer);
    pending->seen = true;
    pending->topmost = (GetWindowLongA(chooser, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    HWND red = GetDlgItem(chooser, kChooserRed);
    pending->redFieldShown = red && IsWindowVisible(red);
    pending->answer(chooser);
}

// Runs `open` (which opens a chooser) while the timer answers it with `answer`.
ChooserAnswer Answered(HWND configDialog, const std::function<void()>& open,
                       std::function<void(HWND)> answer) {
    ChooserAnswer pending;
    pending.answer = std::move(answer);
    pending.configDialog = configDialog;
    g_pending = &pending;
    SetTimer(nullptr, 0, 50, AnswerChooser);
    open();
    g_pending = nullptr;
    return pending;
}

void Press(HWND chooser, int button) {
    PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(chooser, button)));
}

void SetField(HWND chooser, int id, const char* text) {
    SetDlgItemTextA(chooser, id, text);
}

HWND Control(HWND dialog, int id) {
    return testutil::FindControl(dialog, id);
}

void ClickPanel(HWND dialog, int n) {
    HWND panel = Control(dialog, cfgid::pnl_fadecolor(n));
    SendMessageA(GetParent(panel), WM_COMMAND, MAKEWPARAM(cfgid::pnl_fadecolor(n), STN_CLICKED),
                 reinterpret_cast<LPARAM>(panel));
}

int CALLBACK KeepFamily(const LOGFONTA* font, const TEXTMETRICA*, DWORD type, LPARAM param) {
    if ((type & TRUETYPE_FONTTYPE) && font->lfFaceName[0] != '@')
        *reinterpret_cast<std::string*>(param) = font->lfFaceName;
    return 1;
}

// The last TrueType family the system lists: not the one the chooser would fall back on.
std::string AnInstalledFont() {
    std::string family;
    HDC dc = GetDC(nullptr);
    LOGFONTA all{};
    all.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExA(dc, &all, KeepFamily, reinterpret_cast<LPARAM>(&family), 0);
    ReleaseDC(nullptr, dc);
    return family;
}

class CommonChoosers : public testing::Test {
  protected:
    void SetUp() override {
        PluginSettings = TPluginSettings{};
        PluginSettings.fader.fadecolors = 10;
        TMainFormServices services;
        services.saveSettings = [] {};
        form = std::make_unique<TMainForm>(std::move(services));
        form->Show();
    }
    void TearDown() override {
        form.reset();
        PluginSettings = TPluginSettings{};
    }
    std::unique_ptr<TMainForm> form;
};

TEST_F(CommonChoosers, TheColourChooserOpensOnTopExpandedAndStartsOnTheColourLastChosen) {
    HWND dlg = form->Handle();
    auto first = Answered(
        dlg, [&] { ClickPanel(dlg, 2); },
        [](HWND chooser) {
            SetField(chooser, kChooserRed, "10");
            SetField(chooser, kChooserGreen, "20");
            SetField(chooser, kChooserBlue, "30");
            Press(chooser, IDOK);
        });
    ASSERT_TRUE(first.seen);
    EXPECT_TRUE(first.topmost);
    EXPECT_TRUE(first.redFieldShown) << "opens with its custom-colour part expanded";
    EXPECT_EQ(PluginSettings.fader.color(2), static_cast<std::int32_t>(RGB(10, 20, 30)));

    PluginSettings.fader.color(5) = RGB(200, 200, 200);
    auto second = Answered(
        dlg, [&] { ClickPanel(dlg, 5); }, [](HWND chooser) { Press(chooser, IDOK); });
    ASSERT_TRUE(second.seen);
    EXPECT_EQ(PluginSettings.fader.color(5), static_cast<std::int32_t>(RGB(10, 20, 30)))
        << "starts on the last chosen colour, not on the panel's";

    auto cancelled = Answered(
        dlg, [&] { ClickPanel(dlg, 7); }, [](HWND chooser) { Press(chooser, IDCANCEL); });
    ASSERT_TRUE(cancelled.seen);
    EXPECT_EQ(PluginSettings.fader.color(7), 0);
}

TEST_F(CommonChoosers, TheFontChooserOpensOnTopOnTheFontOfTheControls) {
    const std::string font = AnInstalledFont();
    ASSERT_FALSE(font.empty());
    HWND dlg = form->Handle();
    SendMessageA(Control(dlg, cfgid::chk_enablefontformat), BM_CLICK, 0, 0);
    SetWindowTextA(Control(dlg, cfgid::edt_fontface), font.c_str());
    SendMessageA(Control(dlg, cfgid::chk_bold), BM_CLICK, 0, 0);
    SendMessageA(Control(dlg, cfgid::chk_underline), BM_CLICK, 0, 0);
    auto answered = Answered(
        dlg, [&] { SendMessageA(Control(dlg, cfgid::btn_choosefont), BM_CLICK, 0, 0); },
        [](HWND chooser) { Press(chooser, IDOK); });
    ASSERT_TRUE(answered.seen);
    EXPECT_TRUE(answered.topmost);
    char face[64] = {};
    GetWindowTextA(Control(dlg, cfgid::edt_fontface), face, sizeof face);
    EXPECT_EQ(face, font);
    auto checked = [&](int id) {
        return SendMessageA(Control(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    };
    EXPECT_TRUE(checked(cfgid::chk_bold));
    EXPECT_TRUE(checked(cfgid::chk_underline));
    EXPECT_FALSE(checked(cfgid::chk_italic));
    EXPECT_FALSE(checked(cfgid::chk_strikeout));
    EXPECT_EQ(PluginSettings.general.fontface, "") << "unchanged until apply";
}

}  // namespace

namespace {

TEST(DialogShow, PutsTheOpeningChooserOnTopOfAllWindowsWhereItStands) {
    HWND window = CreateWindowExA(0, "STATIC", "chooser", WS_POPUP | WS_VISIBLE, 120, 80, 300, 200,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_FALSE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    DialogShow(window, WM_COMMAND, 0, 0);
    EXPECT_FALSE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) << "only as it opens";
    EXPECT_EQ(DialogShow(window, WM_INITDIALOG, 0, 0), static_cast<UINT_PTR>(TRUE));
    EXPECT_TRUE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 120);
    EXPECT_EQ(r.top, 80);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 200);
    DestroyWindow(window);
}

}  // namespace
