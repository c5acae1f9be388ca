// TMainForm, the configuration dialog: a modeless, always-on-top tool window whose tab pages
// edit PluginSettings, with a preview of the announcement and the apply and close buttons.
#pragma once

#include <windows.h>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/unique_handle_win32.h"
#include "config/config_dialog.h"
#include "config/u_configdialog_pages.h"

// The platform's colour and font choosers (ColorDialog1 and FontDialog1). Both are modal; tests
// put their own answers behind this seam.
class IConfigChoosers {
  public:
    virtual ~IConfigChoosers() = default;
    // Opens the colour chooser; nothing when the user cancels.
    virtual std::optional<COLORREF> PickColour(HWND owner) = 0;
    // Opens the font chooser on `initial`; nothing when the user cancels.
    virtual std::optional<TFontChoice> PickFont(HWND owner, const TFontChoice& initial) = 0;
};

// DialogShow, the hook procedure of both choosers: as a chooser opens it keeps its position and
// size and puts it on top of all windows, so that it does not open behind the always-on-top
// configuration dialog.
UINT_PTR CALLBACK DialogShow(HWND chooser, UINT msg, WPARAM wParam, LPARAM lParam);

// The common dialogs: the colour chooser opens expanded on the colour last chosen in it (black
// the first time), and both choosers are put on top of all windows as they open (DialogShow).
std::unique_ptr<IConfigChoosers> CreateCommonChoosers();

// What the dialog uses of the rest of the plug-in; empty members mean the real thing.
struct TMainFormServices {
    std::function<void()> saveSettings;         // SaveSettings
    std::unique_ptr<IConfigChoosers> choosers;  // the common dialogs
    // The tab pages' dialog templates, in page order; empty: the module's own.
    std::vector<int> pageTemplates;
};

class TMainForm final : public IConfigDialog {
  public:
    explicit TMainForm(TMainFormServices services = {});
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    void ApplyLanguage() override;
    void StoreControls() override;
    void Show() override;
    void Hide() override;
    void Abandon() noexcept override;

    HWND Handle() const { return m_window.get(); }

    // The dialog's operations, named after the handlers of the form.
    void FillControls();
    void FillGeneralPage();
    void FillAolPage();
    void FillFaderPage();
    void StoreGeneralPage();
    void StoreAolPage();
    void StoreFaderPage();
    void UpdateFontControls();
    void chk_aolfsClick();
    void bar_fadecolorsChange();
    void ColorPanelClick(HWND panel);
    void UpdateColorPanel(HWND panel);
    void btn_choosefontClick();
    void btn_applyconfigClick();
    void btn_closeClick();

  private:
    static INT_PTR CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMainMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnPageMessage(HWND page, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnInitDialog();
    void OnCommand(int id, int code, HWND control);
    void OnCloseRequest();
    void ShowPage(int index, bool refill);

    HWND Item(int id) const;
    bool Checked(int id) const;
    void SetChecked(int id, bool checked);
    std::string Text(int id) const;
    void SetText(int id, const std::string& text);
    void Enable(int id, bool enabled);

    TGeneralPage ReadGeneralPage() const;
    void WriteGeneralPage(const TGeneralPage& page);
    TAolPage ReadAolPage() const;
    void WriteAolPage(const TAolPage& page);
    int SliderPosition() const;
    int PanelTag(HWND panel) const;

    static constexpr int kPageCount = 4;
    enum PageIndex { kGeneral = 0, kAol = 1, kFader = 2, kFilesharing = 3 };

    TMainFormServices m_services;
    // Declared first, destroyed last: only after the control that uses its window class.
    UniqueModule m_richEdit;
    UniqueWindow m_window;  // released (not destroyed again) when the window goes by itself
    std::array<HWND, kPageCount> m_pages{};
    // Panel n's own colour, once UpdateColorPanel gave it one; until then it shows its parent's.
    std::array<UniqueBrush, 10> m_panelBrushes{};
    std::array<COLORREF, 10> m_panelColours{};
    // A failure inside WM_INITDIALOG, raised again by the constructor.
    std::exception_ptr m_initFailure;
    // Expires with the object: code that ran a nested message loop (a chooser) checks it before
    // touching the dialog again, as the host may have quit inside that loop.
    std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
};

std::unique_ptr<IConfigDialog> CreateMainForm();
