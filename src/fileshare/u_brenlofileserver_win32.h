// The file-server window on Windows: the dialog "BrenloPlug FileServer" from the module's
// resources with its label, hidden port field, scrolling frame of transfer rows and status bar,
// the tray icon and the download questions (modeless windows it owns), around
// TBrenloFileserverForm.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fileshare/u_brenlofileserver.h"

class TConfirmDialog;

// The tray icon's callback message.
inline constexpr UINT WM_TRAYICON = WM_USER + 10;
// Runs the calls that RunLater queued.
inline constexpr UINT WM_RUNLATER = WM_USER + 11;
inline constexpr char kTrayTip[] = "BrenloPlug Fileserver";

class TBrenloFileserverWindow final : public IFileServerWindow {
  public:
    // Creates the window (hidden), opens the listener on port 1000 and runs FormCreate with the
    // tray icon following `aolfs`; then shows the window minimised until the 10 ms timer hides
    // it. Raises EBrenloError when the window cannot be created.
    explicit TBrenloFileserverWindow(bool aolfs);
    ~TBrenloFileserverWindow() override;
    TBrenloFileserverWindow(const TBrenloFileserverWindow&) = delete;
    TBrenloFileserverWindow& operator=(const TBrenloFileserverWindow&) = delete;

    TBrenloFileserverForm& Form() { return *form_; }

    // The library is unmapped without a teardown: the window, its frame, its bars and open
    // questions stop calling into it and keep only default handling; nothing is destroyed, and
    // the destructor afterwards leaves everything alone. (The listener's notification windows
    // and the transfers' timers belong to the socket layer and the transfers.)
    void Abandon() noexcept;
    HWND Handle() const { return hwnd_; }

    // What the controls show, read off the controls themselves.
    std::string FileLabelText() const;
    std::string FileLabelHint() const;  // through the tooltip control (up to 80 bytes)
    std::string PortText() const;
    HWND RowBar(int row) const;
    bool RowVisible(int row) const;
    int RowPosition(int row) const;
    std::string RowName(int row) const;
    std::string RowSpeed(int row) const;
    std::string RowHint(int row) const;
    bool RowMarked(int row) const;
    int RowTop(int row) const;                // in the frame's client area
    std::string StatusText(int panel) const;  // panel 0-2
    std::string StatusMessage() const;        // the whole-bar message
    bool StatusSimple() const;
    bool TrayIconPresent() const { return trayAdded_; }

    // ---- IFileServerWindow ----
    void SetFileLabel(const std::string& caption, const std::string& hint) override;
    void SetPortText(const std::string& text) override;
    bool AddTrayIcon() override;
    void RemoveTrayIcon() override;
    void HideWindow() override;
    void RestoreWindow() override;
    void StartFirstStartTimer(unsigned ms) override;
    void OpenQuestion(const TConfirmQuestion& question, TRowTicket ticket) override;
    void CloseQuestion(TRowTicket ticket) override;
    void TellUser(const std::string& text) override;
    void RunLater(std::function<void()> call) override;
    void CreateRow(int row, const std::string& barHint) override;
    void FreeRow(int row) override;
    void ShowRow(int row, const std::string& userName, const std::string& barHint) override;
    void SetBarMarked(int row, bool marked) override;
    void SetBarPosition(int row, int percent) override;
    void SetBarHint(int row, const std::string& hint) override;
    void SetSpeedText(int row, const std::string& text) override;
    void RepaintRow(int row, bool withSpeed) override;
    void SetStatusPanels(const std::string& percent, const std::string& speed,
                         const std::string& total) override;
    void SetStatusMessage(const std::string& text) override;
    std::uint64_t TickCount() override;

  private:
    struct TRowControls {
        HWND bar = nullptr;
        HWND name = nullptr;
        HWND speed = nullptr;
        bool marked = false;
        // The bar's hint as set: a tooltip control of this version hands back only 80 bytes.
        std::string hint;
    };

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK BarProc(HWND bar, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void Layout();
    void SetHint(HWND control, const std::string& hint);
    std::string Hint(HWND control) const;
    const TRowControls* Row(int row) const;

    HWND hwnd_ = nullptr;
    HWND frame_ = nullptr;
    HWND status_ = nullptr;
    HWND tooltip_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT rowFont_ = nullptr;
    bool trayAdded_ = false;
    bool writingPort_ = false;
    bool abandoned_ = false;
    std::vector<TRowControls> rows_;
    struct TQuestion {
        std::uint32_t serial = 0;  // of the row's ticket
        std::unique_ptr<TConfirmDialog> dialog;
    };
    std::map<int, TQuestion> questions_;        // open questions by row
    std::vector<std::function<void()>> later_;  // RunLater's calls, in order
    std::unique_ptr<TBrenloFileserverForm> form_;
};
