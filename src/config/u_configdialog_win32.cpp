// TMainForm: the configuration dialog as a Win32 dialog built from the module's resources.
#include "config/u_configdialog_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"
#include "common/module_win32.h"
#include "common/system_calls_win32.h"
#include "config/u_config.h"
#include "config/u_configdialog_ids.h"
#include "config/u_language.h"

namespace {

constexpr int kFontControls[] = {cfgid::lbl_fontface,  cfgid::edt_fontface,  cfgid::chk_bold,
                                 cfgid::chk_italic,    cfgid::chk_underline, cfgid::chk_strikeout,
                                 cfgid::btn_choosefont};

constexpr const char* kTabCaptions[] = {"Allgemein", "AOL", "Farbverlauf", "Dateiaustausch"};
constexpr int kPageTemplates[] = {cfgid::tsh_general, cfgid::tsh_aol, cfgid::tsh_fader,
                                  cfgid::tsh_filesharing};

// The font size the font chooser starts with when it opens the first time (8 point at 96 dpi).
constexpr LONG kInitialFontHeight = -11;

class TCommonChoosers final : public IConfigChoosers {
  public:
    std::optional<COLORREF> PickColour(HWND owner) override {
        CHOOSECOLORA cc{};
        cc.lStructSize = sizeof cc;
        cc.hwndOwner = owner;
        cc.rgbResult = m_lastColour;
        // The chooser writes into a copy: this object may be gone when it returns.
        std::array<COLORREF, 16> custom = m_customColours;
        cc.lpCustColors = custom.data();
        cc.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ENABLEHOOK;
        cc.lpfnHook = DialogShow;
        const std::weak_ptr<int> alive = m_lifeToken;
        if (!ChooseColorA(&cc) || alive.expired())
            return std::nullopt;
        m_customColours = custom;
        m_lastColour = cc.rgbResult;
        return cc.rgbResult;
    }

    std::optional<TFontChoice> PickFont(HWND owner, const TFontChoice& initial) override {
        LOGFONTA lf{};
        lf.lfHeight = m_fontHeight;
        lf.lfWeight = initial.bold ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = initial.italic;
        lf.lfUnderline = initial.underline;
        lf.lfStrikeOut = initial.strikeout;
        lf.lfCharSet = DEFAULT_CHARSET;
        // A face name longer than LOGFONT holds is cut, never overrun.
        lstrcpynA(lf.lfFaceName, initial.face.c_str(), LF_FACESIZE);

        CHOOSEFONTA cf{};
        cf.lStructSize = sizeof cf;
        cf.hwndOwner = owner;
        cf.lpLogFont = &lf;
        cf.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT | CF_ENABLEHOOK;
        cf.lpfnHook = DialogShow;
        const std::weak_ptr<int> alive = m_lifeToken;
        if (!ChooseFontA(&cf) || alive.expired())
            return std::nullopt;
        m_fontHeight = lf.lfHeight;
        TFontChoice chosen;
        chosen.face = lf.lfFaceName;
        chosen.bold = lf.lfWeight >= FW_BOLD;
        chosen.italic = lf.lfItalic != 0;
        chosen.underline = lf.lfUnderline != 0;
        chosen.strikeout = lf.lfStrikeOut != 0;
        return chosen;
    }

  private:
    COLORREF m_lastColour = 0;
    std::array<COLORREF, 16> m_customColours{};
    LONG m_fontHeight = kInitialFontHeight;
    std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
};

// The preview field: a single-line rich-edit control that the apply button writes into.
class TRichEditPreview final : public IPreviewWriter {
  public:
    explicit TRichEditPreview(HWND edit) : m_edit(edit) {}

    void Begin(const TFontChoice& font) override {
        SendMessageA(m_edit, EM_SETREADONLY, FALSE, 0);
        SendMessageA(m_edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        CHARFORMATA cf{};
        cf.cbSize = sizeof cf;
        cf.dwMask = CFM_FACE | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_COLOR;
        cf.dwEffects = (font.bold ? CFE_BOLD : 0) | (font.italic ? CFE_ITALIC : 0) |
                       (font.underline ? CFE_UNDERLINE : 0) | (font.strikeout ? CFE_STRIKEOUT : 0);
        cf.crTextColor = kPreviewBlack;
        lstrcpynA(cf.szFaceName, font.face.c_str(), LF_FACESIZE);
        // The default format serves WM_SETTEXT, the selection format the typed characters.
        SendMessageA(m_edit, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
        SendMessageA(m_edit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
        SendMessageA(m_edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    }

    void SetSelectionColor(std::uint32_t colorref) override {
        CHARFORMATA cf{};
        cf.cbSize = sizeof cf;  // 60 bytes
        cf.dwMask = CFM_COLOR;
        cf.crTextColor = colorref & 0xFFFFFF;
        SendMessageA(m_edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    }

    void TypeChar(unsigned char ch) override { SendMessageA(m_edit, WM_CHAR, ch, 0); }

    void SetText(const std::string& text) override {
        SendMessageA(m_edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }

    void End() override { SendMessageA(m_edit, EM_SETREADONLY, TRUE, 0); }

  private:
    HWND m_edit;
};

// Keyboard navigation (Tab, arrow keys, access keys) of the visible dialogs. The host's message
// loop knows nothing of our modeless dialog, so a message hook of the user-interface thread
// hands the keys to IsDialogMessage before the host dispatches them.
// Heap-held and freed with its last dialog, so that no static destructor unhooks anything at
// process exit.
struct TKeyboardNavigation {
    UniqueHook hook;
    std::vector<HWND> dialogs;
};
TKeyboardNavigation* g_navigation = nullptr;
bool g_navigationFailureReported = false;

LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && g_navigation) {
        GuardCallback([lParam] {
            auto* msg = reinterpret_cast<MSG*>(lParam);
            if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST)
                return;
            for (HWND dialog : g_navigation->dialogs) {
                if (IsDialogMessageA(dialog, msg)) {
                    msg->message = WM_NULL;  // handled: the host dispatches nothing
                    msg->wParam = 0;
                    msg->lParam = 0;
                    return;
                }
            }
        });
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void StartKeyboardNavigation(HWND dialog) {
    if (!g_navigation)
        g_navigation = new TKeyboardNavigation;
    auto& dialogs = g_navigation->dialogs;
    if (std::find(dialogs.begin(), dialogs.end(), dialog) == dialogs.end())
        dialogs.push_back(dialog);
    if (g_navigation->hook)
        return;
    g_navigation->hook.reset(SystemCalls().SetWindowsHookExA(WH_GETMESSAGE, KeyboardHook, nullptr,
                                                             GetCurrentThreadId()));
    if (!g_navigation->hook && !g_navigationFailureReported) {
        // The dialog works without it, only Tab and the arrow keys do not: say so once.
        g_navigationFailureReported = true;
        const DWORD error = GetLastError();
        throw EBrenloError(
            "Die Tastatursteuerung des Konfigurationsdialogs ist nicht verf\xFC"
            "gbar (SetWindowsHookExA, Fehler " +
            std::to_string(error) + ").");
    }
}

void StopKeyboardNavigation(HWND dialog) {
    if (!g_navigation)
        return;
    auto& dialogs = g_navigation->dialogs;
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), dialog), dialogs.end());
    if (dialogs.empty()) {
        delete g_navigation;  // unhooks
        g_navigation = nullptr;
    }
}

}  // namespace

UINT_PTR CALLBACK DialogShow(HWND chooser, UINT msg, WPARAM, LPARAM) {
    if (msg != WM_INITDIALOG)
        return 0;
    GuardCallback([chooser] {
        RECT r{};
        GetWindowRect(chooser, &r);
        SetWindowPos(chooser, HWND_TOPMOST, r.left, r.top, r.right - r.left, r.bottom - r.top, 0);
    });
    return TRUE;  // let the chooser set the keyboard focus
}

std::unique_ptr<IConfigChoosers> CreateCommonChoosers() {
    return std::make_unique<TCommonChoosers>();
}

TMainForm::TMainForm(TMainFormServices services) : m_services(std::move(services)) {
    if (!m_services.saveSettings)
        m_services.saveSettings = [] { SaveSettings(); };
    if (!m_services.choosers)
        m_services.choosers = CreateCommonChoosers();
    if (m_services.pageTemplates.empty())
        m_services.pageTemplates.assign(std::begin(kPageTemplates), std::end(kPageTemplates));

    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&icc);
    // The preview's window class "RichEdit20A" comes from this library, which must be loaded
    // before the dialog template is instantiated (and never from DllMain).
    m_richEdit.reset(LoadLibraryA("riched20.dll"));
    if (!m_richEdit)
        throw EBrenloError("Das Steuerelement der Vorschau (riched20.dll) fehlt.");

    CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(cfgid::IDD_MAINFORM), nullptr, MainProc,
                       reinterpret_cast<LPARAM>(this));
    if (m_initFailure) {
        // Never a dialog with missing pages: it goes, and the reason is reported by the caller.
        m_window.reset();
        std::rethrow_exception(m_initFailure);
    }
    if (!Handle())
        throw EBrenloError("Der Konfigurationsdialog konnte nicht erstellt werden.");
}

TMainForm::~TMainForm() {
    if (Handle())
        StopKeyboardNavigation(Handle());
    // The window, then the brushes its panels paint with, then (last member) the library.
    m_window.reset();
}

void TMainForm::Abandon() noexcept {
    // The library goes without a teardown: the thread's message hook and the dialog procedures
    // would call unmapped code. The windows themselves stay; they only do default handling now.
    if (Handle())
        StopKeyboardNavigation(Handle());
    for (HWND page : m_pages)
        if (page)
            SetWindowLongPtrA(page, DWLP_DLGPROC, 0);
    if (Handle())
        SetWindowLongPtrA(Handle(), DWLP_DLGPROC, 0);
    (void)m_window.release();
    // The rich-edit library keeps its reference: the preview control still uses its class.
    (void)m_richEdit.release();
}

INT_PTR CALLBACK TMainForm::MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    if (msg == WM_INITDIALOG) {
        auto* form = reinterpret_cast<TMainForm*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
        form->m_window.reset(hwnd);
        // A page that fails to load is the constructor's to report, not a half-built dialog's.
        try {
            result = form->OnMainMessage(msg, wParam, lParam);
        } catch (...) {
            form->m_initFailure = std::current_exception();
        }
        return result;
    }
    GuardCallback([&] {
        auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (!form)
            return;
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            (void)form->m_window.release();  // gone already
            return;
        }
        result = form->OnMainMessage(msg, wParam, lParam);
    });
    return result;
}

INT_PTR CALLBACK TMainForm::PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = FALSE;
    GuardCallback([&] {
        if (msg == WM_INITDIALOG)
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
        auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (form)
            result = form->OnPageMessage(hwnd, msg, wParam, lParam);
    });
    return result;
}

INT_PTR TMainForm::OnMainMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            OnInitDialog();
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_NOTIFY: {
            const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (hdr->idFrom == static_cast<UINT_PTR>(cfgid::PageControl1) &&
                hdr->code == static_cast<UINT>(TCN_SELCHANGE)) {
                ShowPage(static_cast<int>(SendMessageA(hdr->hwndFrom, TCM_GETCURSEL, 0, 0)), true);
                return TRUE;
            }
            return FALSE;
        }
        case WM_CLOSE:
            OnCloseRequest();
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR TMainForm::OnPageMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            return FALSE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == Item(cfgid::bar_fadecolors)) {
                bar_fadecolorsChange();
                return TRUE;
            }
            return FALSE;
        case WM_CTLCOLORSTATIC: {
            int tag = PanelTag(reinterpret_cast<HWND>(lParam));
            if (tag == 0 || !m_panelBrushes[tag - 1])
                return FALSE;
            SetBkColor(reinterpret_cast<HDC>(wParam), m_panelColours[tag - 1]);
            // A dialog procedure answers this message with the brush itself.
            return reinterpret_cast<INT_PTR>(m_panelBrushes[tag - 1].get());
        }
        default:
            return FALSE;
    }
}

void TMainForm::OnInitDialog() {
    HWND tabs = GetDlgItem(Handle(), cfgid::PageControl1);
    for (int i = 0; i < kPageCount; ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(kTabCaptions[i]);
        SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    }

    // The pages are siblings of the tab control, laid over its display area.
    RECT area{};
    GetWindowRect(tabs, &area);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&area), 2);
    SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    for (int i = 0; i < kPageCount; ++i) {
        const int pageTemplate = i < static_cast<int>(m_services.pageTemplates.size())
                                     ? m_services.pageTemplates[static_cast<std::size_t>(i)]
                                     : 0;
        m_pages[i] = CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(pageTemplate), Handle(),
                                        PageProc, reinterpret_cast<LPARAM>(this));
        if (!m_pages[i])
            throw EBrenloError("Die Seite \"" + std::string(kTabCaptions[i]) +
                               "\" des Konfigurationsdialogs kann nicht geladen werden.");
        SetWindowPos(m_pages[i], HWND_TOP, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOACTIVATE);
    }

    // The defaults of the controls: what the very first start stores.
    const TGeneralPage general;
    SendMessageA(Item(cfgid::edt_presongtitle), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(general.edt_presongtitle.c_str()));
    SendMessageA(Item(cfgid::edt_postsongtitle), CB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(general.edt_postsongtitle.c_str()));
    WriteGeneralPage(general);
    UpdateFontControls();
    WriteAolPage(TAolPage{});
    chk_aolfsClick();

    HWND bar = Item(cfgid::bar_fadecolors);
    SendMessageA(bar, TBM_SETRANGE, TRUE,
                 MAKELPARAM(TFaderPage::kMinColors, TFaderPage::kMaxColors));
    SendMessageA(bar, TBM_SETPOS, TRUE, TFaderPage{}.bar_fadecolors);
    for (int n = 1; n <= 10; ++n)
        SetWindowLongPtrA(Item(cfgid::pnl_fadecolor(n)), GWLP_USERDATA, n);
    bar_fadecolorsChange();

    ShowPage(kGeneral, false);
}

void TMainForm::OnCommand(int id, int code, HWND control) {
    if (id >= cfgid::pnl_fadecolor1 && id <= cfgid::pnl_fadecolor10) {
        if (code == STN_CLICKED)
            ColorPanelClick(control);
        return;
    }
    if (code != BN_CLICKED)
        return;
    switch (id) {
        case cfgid::chk_enablefontformat:
            UpdateFontControls();
            break;
        case cfgid::chk_aolfs:
            chk_aolfsClick();
            break;
        case cfgid::btn_choosefont:
            btn_choosefontClick();
            break;
        case cfgid::btn_applyconfig:
            btn_applyconfigClick();
            break;
        case cfgid::btn_close:
            btn_closeClick();
            break;
        default:
            break;
    }
}

void TMainForm::OnCloseRequest() {
    // Closing only ever hides the dialog; the frame may also refuse and hide it itself.
    if (!OnCloseQuery || OnCloseQuery())
        Hide();
}

void TMainForm::ShowPage(int index, bool refill) {
    if (index < 0 || index >= kPageCount)
        return;
    HWND tabs = GetDlgItem(Handle(), cfgid::PageControl1);
    if (SendMessageA(tabs, TCM_GETCURSEL, 0, 0) != index)
        SendMessageA(tabs, TCM_SETCURSEL, index, 0);
    for (int i = 0; i < kPageCount; ++i)
        if (i != index)
            ShowWindow(m_pages[i], SW_HIDE);
    // A page is refilled from PluginSettings every time it is shown.
    switch (refill ? index : -1) {
        case kGeneral:
            FillGeneralPage();
            break;
        case kAol:
            FillAolPage();
            break;
        case kFader:
            FillFaderPage();
            break;
        default:
            break;
    }
    ShowWindow(m_pages[index], SW_SHOW);
}

// ---- the interface of the frame -----------------------------------------------------------------

void TMainForm::ApplyLanguage() {
    const auto& t = LanguageTexts;
    const std::string* tabs[kPageCount] = {&t.general.configcaption, &t.aol.configcaption,
                                           &t.fader.configcaption, &t.filesharing.configcaption};
    HWND tabControl = GetDlgItem(Handle(), cfgid::PageControl1);
    for (int i = 0; i < kPageCount; ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(tabs[i]->c_str());
        SendMessageA(tabControl, TCM_SETITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    const std::pair<int, const std::string*> captions[] = {
        {cfgid::chk_enablechat, &t.general.chk_enablechat},
        {cfgid::chk_enablefade, &t.general.chk_enablefade},
        {cfgid::chk_preposttitlefade, &t.general.chk_preposttitlefade},
        {cfgid::chk_enablefontformat, &t.general.chk_enablefontformat},
        {cfgid::chk_extsonginfo, &t.general.chk_extsonginfo},
        {cfgid::lbl_songtitle, &t.general.lbl_songtitle},
        {cfgid::lbl_fontface, &t.general.lbl_fontface},
        {cfgid::btn_choosefont, &t.general.btn_choosefont},
        {cfgid::grp_titleformat, &t.general.grp_titleformat},
        {cfgid::lbl_updatesnote, &t.general.lbl_updatesnote},
        {cfgid::chk_bold, &t.general.chk_bold},
        {cfgid::chk_italic, &t.general.chk_italic},
        {cfgid::chk_underline, &t.general.chk_underline},
        {cfgid::chk_strikeout, &t.general.chk_strikeout},
        {cfgid::chk_enableaol, &t.aol.chk_enableaol},
        {cfgid::chk_aoladvertising, &t.aol.chk_aoladvertising},
        {cfgid::chk_aolwavyscroll, &t.aol.chk_aolwavyscroll},
        {cfgid::chk_aolfs, &t.aol.chk_aolfs},
        {cfgid::lbl_fsport, &t.aol.edt_fsport},
        {cfgid::lbl_colorbar, &t.fader.lbl_colorbar},
    };
    for (const auto& [id, text] : captions)
        SetText(id, *text);
}

void TMainForm::StoreControls() {
    StoreGeneralPage();
    StoreAolPage();
    StoreFaderPage();
}

void TMainForm::Show() {
    if (!IsWindowVisible(Handle())) {
        FillControls();  // FormShow
        ShowWindow(Handle(), SW_SHOW);
    }
    SetForegroundWindow(Handle());
    StartKeyboardNavigation(Handle());
}

void TMainForm::Hide() {
    StopKeyboardNavigation(Handle());
    ShowWindow(Handle(), SW_HIDE);
}

// ---- the operations of the pages ----------------------------------------------------------------

void TMainForm::FillControls() {
    FillGeneralPage();
    FillAolPage();
    FillFaderPage();
}

void TMainForm::FillGeneralPage() {
    WriteGeneralPage(::FillGeneralPage(PluginSettings.general));
    UpdateFontControls();
}

void TMainForm::FillAolPage() {
    WriteAolPage(::FillAolPage(PluginSettings.aol));
    chk_aolfsClick();
}

void TMainForm::FillFaderPage() {
    HWND bar = Item(cfgid::bar_fadecolors);
    int position = ::FillFaderPage(PluginSettings.fader).bar_fadecolors;
    if (SliderPosition() != position) {
        SendMessageA(bar, TBM_SETPOS, TRUE, position);
        bar_fadecolorsChange();
    }
    for (int n = 1; n <= 10; ++n)
        UpdateColorPanel(Item(cfgid::pnl_fadecolor(n)));
    bar_fadecolorsChange();
}

void TMainForm::StoreGeneralPage() {
    ::StoreGeneralPage(ReadGeneralPage(), PluginSettings.general);
}

void TMainForm::StoreAolPage() {
    ::StoreAolPage(ReadAolPage(), PluginSettings.aol);
}

void TMainForm::StoreFaderPage() {
    TFaderPage page;
    page.bar_fadecolors = SliderPosition();
    ::StoreFaderPage(page, PluginSettings.fader);
}

void TMainForm::UpdateFontControls() {
    bool on = Checked(cfgid::chk_enablefontformat);
    for (int id : kFontControls)
        Enable(id, on);
}

void TMainForm::chk_aolfsClick() {
    bool on = Checked(cfgid::chk_aolfs);
    Enable(cfgid::edt_fsport, on);
    Enable(cfgid::lbl_fsport, on);
}

void TMainForm::bar_fadecolorsChange() {
    int position = SliderPosition();
    for (int n = 1; n <= 10; ++n)
        ShowWindow(Item(cfgid::pnl_fadecolor(n)),
                   ColorPanelVisible(n, position) ? SW_SHOWNA : SW_HIDE);
}

void TMainForm::ColorPanelClick(HWND panel) {
    int tag = PanelTag(panel);
    if (tag == 0)
        return;
    TModuleHold module;
    const std::weak_ptr<int> alive = m_lifeToken;
    std::optional<COLORREF> colour = m_services.choosers->PickColour(Handle());
    // The chooser's loop may have run the host's quit, which destroyed this dialog.
    if (alive.expired() || !colour)
        return;
    // In the running settings at once: the next announcement uses it, even without apply.
    PluginSettings.fader.color(tag) = static_cast<std::int32_t>(*colour);
    UpdateColorPanel(panel);
}

void TMainForm::UpdateColorPanel(HWND panel) {
    int tag = PanelTag(panel);
    if (tag == 0)
        return;
    COLORREF colour = static_cast<COLORREF>(PluginSettings.fader.color(tag)) & 0xFFFFFF;
    UniqueBrush& brush = m_panelBrushes[tag - 1];
    if (!brush || m_panelColours[tag - 1] != colour) {
        UniqueBrush fresh(CreateSolidBrush(colour));
        if (!fresh)
            return;
        brush = std::move(fresh);
        m_panelColours[tag - 1] = colour;
    }
    InvalidateRect(panel, nullptr, TRUE);
}

void TMainForm::btn_choosefontClick() {
    TFontChoice initial;
    initial.face = Text(cfgid::edt_fontface);
    initial.bold = Checked(cfgid::chk_bold);
    initial.italic = Checked(cfgid::chk_italic);
    initial.underline = Checked(cfgid::chk_underline);
    initial.strikeout = Checked(cfgid::chk_strikeout);
    TModuleHold module;
    const std::weak_ptr<int> alive = m_lifeToken;
    std::optional<TFontChoice> chosen = m_services.choosers->PickFont(Handle(), initial);
    // The chooser's loop may have run the host's quit, which destroyed this dialog.
    if (alive.expired() || !chosen)
        return;
    SetText(cfgid::edt_fontface, chosen->face);
    SetChecked(cfgid::chk_bold, chosen->bold);
    SetChecked(cfgid::chk_italic, chosen->italic);
    SetChecked(cfgid::chk_underline, chosen->underline);
    SetChecked(cfgid::chk_strikeout, chosen->strikeout);
}

void TMainForm::btn_applyconfigClick() {
    StoreControls();
    m_services.saveSettings();  // a failure ends the apply here and reaches the user
    UpdateFontControls();
    TRichEditPreview preview(GetDlgItem(Handle(), cfgid::edt_preview));
    TFadeColors colours{};
    std::copy(PluginSettings.fader.fadecolor.begin(), PluginSettings.fader.fadecolor.end(),
              colours.begin());
    DrawPreview(ReadGeneralPage(), colours, SliderPosition(), preview);
}

void TMainForm::btn_closeClick() {
    SendMessageA(Handle(), WM_CLOSE, 0, 0);
}

// ---- control access
// -------------------------------------------------------------------------------

HWND TMainForm::Item(int id) const {
    // Each page has its own block of identifiers.
    int page = -1;
    if (id > 1100 && id < 1200)
        page = kGeneral;
    else if (id > 1200 && id < 1300)
        page = kAol;
    else if (id > 1300 && id < 1400)
        page = kFader;
    return GetDlgItem(page < 0 ? Handle() : m_pages[page], id);
}

bool TMainForm::Checked(int id) const {
    return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TMainForm::SetChecked(int id, bool checked) {
    SendMessageA(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::string TMainForm::Text(int id) const {
    HWND control = Item(id);
    int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

void TMainForm::SetText(int id, const std::string& text) {
    SetWindowTextA(Item(id), text.c_str());
}

void TMainForm::Enable(int id, bool enabled) {
    EnableWindow(Item(id), enabled);
}

TGeneralPage TMainForm::ReadGeneralPage() const {
    TGeneralPage p;
    p.chk_enablechat = Checked(cfgid::chk_enablechat);
    p.chk_enablefade = Checked(cfgid::chk_enablefade);
    p.edt_presongtitle = Text(cfgid::edt_presongtitle);
    p.edt_postsongtitle = Text(cfgid::edt_postsongtitle);
    p.chk_preposttitlefade = Checked(cfgid::chk_preposttitlefade);
    p.chk_extsonginfo = Checked(cfgid::chk_extsonginfo);
    p.chk_enablefontformat = Checked(cfgid::chk_enablefontformat);
    p.edt_fontface = Text(cfgid::edt_fontface);
    p.chk_bold = Checked(cfgid::chk_bold);
    p.chk_italic = Checked(cfgid::chk_italic);
    p.chk_underline = Checked(cfgid::chk_underline);
    p.chk_strikeout = Checked(cfgid::chk_strikeout);
    return p;
}

void TMainForm::WriteGeneralPage(const TGeneralPage& p) {
    SetChecked(cfgid::chk_enablechat, p.chk_enablechat);
    SetChecked(cfgid::chk_enablefade, p.chk_enablefade);
    SetText(cfgid::edt_presongtitle, p.edt_presongtitle);
    SetText(cfgid::edt_postsongtitle, p.edt_postsongtitle);
    SetChecked(cfgid::chk_preposttitlefade, p.chk_preposttitlefade);
    SetChecked(cfgid::chk_extsonginfo, p.chk_extsonginfo);
    SetChecked(cfgid::chk_enablefontformat, p.chk_enablefontformat);
    SetText(cfgid::edt_fontface, p.edt_fontface);
    SetChecked(cfgid::chk_bold, p.chk_bold);
    SetChecked(cfgid::chk_italic, p.chk_italic);
    SetChecked(cfgid::chk_underline, p.chk_underline);
    SetChecked(cfgid::chk_strikeout, p.chk_strikeout);
}

TAolPage TMainForm::ReadAolPage() const {
    TAolPage p;
    p.chk_enableaol = Checked(cfgid::chk_enableaol);
    p.chk_aoladvertising = Checked(cfgid::chk_aoladvertising);
    p.chk_aolwavyscroll = Checked(cfgid::chk_aolwavyscroll);
    p.chk_aolfs = Checked(cfgid::chk_aolfs);
    p.edt_fsport = Text(cfgid::edt_fsport);
    return p;
}

void TMainForm::WriteAolPage(const TAolPage& p) {
    SetChecked(cfgid::chk_enableaol, p.chk_enableaol);
    SetChecked(cfgid::chk_aoladvertising, p.chk_aoladvertising);
    SetChecked(cfgid::chk_aolwavyscroll, p.chk_aolwavyscroll);
    SetChecked(cfgid::chk_aolfs, p.chk_aolfs);
    SetText(cfgid::edt_fsport, p.edt_fsport);
}

int TMainForm::SliderPosition() const {
    return static_cast<int>(SendMessageA(Item(cfgid::bar_fadecolors), TBM_GETPOS, 0, 0));
}

int TMainForm::PanelTag(HWND panel) const {
    if (!panel || !m_pages[kFader] || GetParent(panel) != m_pages[kFader])
        return 0;
    int id = GetDlgCtrlID(panel);
    if (id < cfgid::pnl_fadecolor1 || id > cfgid::pnl_fadecolor10)
        return 0;
    return static_cast<int>(GetWindowLongPtrA(panel, GWLP_USERDATA));
}

std::unique_ptr<IConfigDialog> CreateMainForm() {
    return std::make_unique<TMainForm>();
}
