// The file-server window on Windows.
#include "fileshare/u_brenlofileserver_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <exception>

#include "common/app_error.h"
#include "common/errors.h"
#include "common/module_win32.h"
#include "fileshare/BrenloFileServer_win32.h"
#include "fileshare/u_brenlofileserver_ids.h"
#include "fileshare/u_brenlofileserverconfirm_win32.h"
#include "fileshare/u_brenlofileserverframe_win32.h"
#include "net/net_api_win32.h"

namespace {

// Client area and control places in pixels.
constexpr int kClientWidth = 248;
constexpr int kClientHeight = 147;
constexpr int kFrameTop = 16;
constexpr int kFrameHeight = 112;
constexpr int kStatusPanelWidths[] = {35, 70, 50};
// Row controls inside the frame.
constexpr int kBarLeft = 80, kBarWidth = 100, kBarHeight = 11;
constexpr int kNameLeft = 5, kNameWidth = 75;
constexpr int kSpeedLeft = 185, kSpeedWidth = 55;
constexpr int kLabelHeight = 13;

constexpr UINT_PTR kFirstStartTimerId = 1;
constexpr COLORREF kMarkedColour = RGB(255, 0, 0);
constexpr char kOldProcProperty[] = "BrenloBarProc";
// 8 point at 96 dpi.
constexpr int kRowFontHeight = -11;

// Broadcast to every top-level window when the taskbar is created anew (Explorer restarted):
// tray icons added before are gone and must be added again.
UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

void SetTextOf(HWND control, const std::string& text) {
    SetWindowTextA(control, text.c_str());
}

std::string TextOf(HWND control) {
    if (!control)
        return {};
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

TBrenloFileserverWindow::TBrenloFileserverWindow(bool aolfs) {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&icc);
    RegisterFrameClass();

    icon_ = static_cast<HICON>(
        LoadImageA(ThisModule(), MAKEINTRESOURCEA(fsid::IDI_BRENLOFILESERVER), IMAGE_ICON,
                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(
        LoadImageA(ThisModule(), MAKEINTRESOURCEA(fsid::IDI_BRENLOFILESERVER), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    rowFont_ = CreateFontA(kRowFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, "Arial");

    CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(fsid::IDD_BRENLOFILESERVERFORM),
                       GetDesktopWindow(), DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd_) {
        if (rowFont_)
            DeleteObject(rowFont_);
        throw EBrenloError("Das Fenster des Dateiservers konnte nicht erstellt werden.");
    }
    form_ = std::make_unique<TBrenloFileserverForm>(*this, aolfs);
    // Created visible and minimised; the first-start timer hides it a moment later.
    ShowWindow(hwnd_, SW_SHOWMINNOACTIVE);
}

void TBrenloFileserverWindow::Abandon() noexcept {
    if (abandoned_)
        return;
    abandoned_ = true;
    for (auto& [row, question] : questions_)
        question.dialog->Abandon();
    for (TRowControls& r : rows_)
        if (r.bar) {
            const auto old = reinterpret_cast<LONG_PTR>(GetPropA(r.bar, kOldProcProperty));
            if (old)
                SetWindowLongPtrA(r.bar, GWLP_WNDPROC, old);
        }
    if (frame_)
        SetWindowLongPtrA(frame_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
    if (hwnd_) {
        KillTimer(hwnd_, kFirstStartTimerId);
        SetWindowLongPtrA(hwnd_, DWLP_DLGPROC, 0);
        // Out of sight, so that the left-over always-on-top window never takes the activation
        // from the host's windows.
        ShowWindow(hwnd_, SW_HIDE);
    }
    if (trayAdded_)
        RemoveTrayIcon();
    // The listener's and the connections' sockets close (the port is free again)...
    if (form_)
        form_->Abandon();
    // ... and whatever is still queued for their windows or timers finds no code of ours: a
    // running stream posts its next piece every few milliseconds.
    AbandonNotifyWindows();
    AbandonTransferTimers();
}

TBrenloFileserverWindow::~TBrenloFileserverWindow() {
    if (abandoned_) {
        // Under the loader lock: no window may be destroyed, and the listener and transfers
        // stay as they are (their memory goes with the process).
        (void)form_.release();
        return;
    }
    // The form closes the questions of its transfers as it ends them; any left close unanswered.
    form_.reset();
    questions_.clear();
    if (trayAdded_)
        RemoveTrayIcon();
    if (hwnd_) {
        KillTimer(hwnd_, kFirstStartTimerId);
        DestroyWindow(hwnd_);
    }
    if (rowFont_)
        DeleteObject(rowFont_);
    if (icon_)
        DestroyIcon(icon_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
}

INT_PTR CALLBACK TBrenloFileserverWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wParam,
                                                     LPARAM lParam) {
    INT_PTR result = FALSE;
    GuardCallback([&] {
        if (msg == WM_INITDIALOG) {
            SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            reinterpret_cast<TBrenloFileserverWindow*>(lParam)->hwnd_ = hwnd;
        }
        auto* self = reinterpret_cast<TBrenloFileserverWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (!self)
            return;
        if (msg == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            self->hwnd_ = nullptr;
            return;
        }
        result = self->OnMessage(msg, wParam, lParam);
    });
    return result;
}

INT_PTR TBrenloFileserverWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            Layout();
            return FALSE;  // the window is not to take the focus
        case WM_RUNLATER: {
            std::vector<std::function<void()>> calls;
            calls.swap(later_);
            for (auto& call : calls)
                GuardCallback(call);
            return TRUE;
        }
        case WM_TRAYICON:
            if (form_)
                form_->TrayIconMessage(static_cast<unsigned>(lParam));
            return TRUE;
        case WM_TIMER:
            if (wParam == kFirstStartTimerId) {
                KillTimer(hwnd_, kFirstStartTimerId);
                if (form_)
                    form_->firststarttimer();
                return TRUE;
            }
            return FALSE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MINIMIZE && form_) {
                form_->MinimizeToTNA();
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            if (form_)
                form_->FormCloseQuery();
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == fsid::Edit2 && HIWORD(wParam) == EN_CHANGE && !writingPort_ &&
                form_) {
                form_->Edit2Change(TextOf(reinterpret_cast<HWND>(lParam)));
                return TRUE;
            }
            // Enter and Escape in a dialog would otherwise end nothing useful; the window
            // only hides.
            if (LOWORD(wParam) == IDCANCEL && form_) {
                form_->FormCloseQuery();
                return TRUE;
            }
            return FALSE;
        default:
            if (msg == TaskbarCreatedMessage() && msg != 0 && form_) {
                form_->TaskbarCreated();
                return TRUE;
            }
            return FALSE;
    }
}

void TBrenloFileserverWindow::Layout() {
    SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    // Bottom right of the work area, next to the tray icon.
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(hwnd_, HWND_TOPMOST, work.right - width - 8, work.bottom - height - 8, width,
                 height, SWP_NOACTIVATE);

    MoveWindow(GetDlgItem(hwnd_, fsid::LblFilename), 0, 0, kClientWidth, kLabelHeight, FALSE);
    MoveWindow(GetDlgItem(hwnd_, fsid::Label3), 208, 4, 22, kLabelHeight, FALSE);
    MoveWindow(GetDlgItem(hwnd_, fsid::Edit2), 232, 0, 121, 21, FALSE);
    frame_ = GetDlgItem(hwnd_, fsid::Frame21);
    MoveWindow(frame_, 0, kFrameTop, kClientWidth, kFrameHeight, FALSE);
    SetFrameContentHeight(frame_, 0);

    status_ = GetDlgItem(hwnd_, fsid::StatusBar1);
    int edges[3];
    int right = 0;
    for (int i = 0; i < 2; ++i) {
        right += kStatusPanelWidths[i];
        edges[i] = right;
    }
    edges[2] = -1;  // the last panel reaches to the window's edge
    SendMessageA(status_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
    SendMessageA(status_, WM_SIZE, 0, 0);

    tooltip_ =
        CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, ThisModule(), nullptr);
    SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
    SetHint(GetDlgItem(hwnd_, fsid::LblFilename), {});
}

void TBrenloFileserverWindow::SetHint(HWND control, const std::string& hint) {
    if (!tooltip_ || !control)
        return;
    TOOLINFOA ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    TOOLINFOA existing = ti;
    const bool known =
        SendMessageA(tooltip_, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&existing)) != 0;
    ti.lpszText = const_cast<char*>(hint.c_str());
    SendMessageA(tooltip_, known ? TTM_UPDATETIPTEXTA : TTM_ADDTOOLA, 0,
                 reinterpret_cast<LPARAM>(&ti));
}

std::string TBrenloFileserverWindow::Hint(HWND control) const {
    if (!tooltip_ || !control)
        return {};
    char buffer[4096] = {};
    TOOLINFOA ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = buffer;
    SendMessageA(tooltip_, TTM_GETTEXTA, sizeof buffer, reinterpret_cast<LPARAM>(&ti));
    return buffer;
}

// ---- the window's parts -------------------------------------------------------------------------

void TBrenloFileserverWindow::SetFileLabel(const std::string& caption, const std::string& hint) {
    SetTextOf(GetDlgItem(hwnd_, fsid::LblFilename), caption);
    SetHint(GetDlgItem(hwnd_, fsid::LblFilename), hint);
}

void TBrenloFileserverWindow::SetPortText(const std::string& text) {
    writingPort_ = true;
    SetTextOf(GetDlgItem(hwnd_, fsid::Edit2), text);
    writingPort_ = false;
}

bool TBrenloFileserverWindow::AddTrayIcon() {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = hwnd_;
    data.uID = 0;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_TRAYICON;
    data.hIcon = smallIcon_ ? smallIcon_ : icon_;
    lstrcpynA(data.szTip, kTrayTip, sizeof data.szTip);
    // An icon the taskbar still holds (a TaskbarCreated sent for another reason) is only
    // brought up to date.
    trayAdded_ =
        Shell_NotifyIconA(NIM_ADD, &data) != FALSE || Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
    return trayAdded_;
}

void TBrenloFileserverWindow::RemoveTrayIcon() {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = hwnd_;
    data.uID = 0;
    Shell_NotifyIconA(NIM_DELETE, &data);
    trayAdded_ = false;
}

void TBrenloFileserverWindow::HideWindow() {
    ShowWindow(hwnd_, SW_HIDE);
}

void TBrenloFileserverWindow::RestoreWindow() {
    ShowWindow(hwnd_, SW_SHOW);
    ShowWindow(hwnd_, SW_RESTORE);
    SetForegroundWindow(hwnd_);
}

void TBrenloFileserverWindow::StartFirstStartTimer(unsigned ms) {
    SetTimer(hwnd_, kFirstStartTimerId, ms, nullptr);
}

void TBrenloFileserverWindow::OpenQuestion(const TConfirmQuestion& question, TRowTicket ticket) {
    // A question left from an earlier transfer of the row goes unanswered.
    if (const auto old = questions_.find(ticket.Row); old != questions_.end())
        CloseQuestion(TRowTicket{ticket.Row, old->second.serial});
    auto dialog = std::make_unique<TConfirmDialog>(question, hwnd_, [this, ticket](bool yes) {
        // The question's window is gone; its object goes now, then the form hears the answer.
        const auto open = questions_.find(ticket.Row);
        if (open != questions_.end() && open->second.serial == ticket.Serial)
            questions_.erase(open);
        if (form_)
            form_->QuestionAnswered(ticket, yes);
    });
    questions_[ticket.Row] = TQuestion{ticket.Serial, std::move(dialog)};
}

void TBrenloFileserverWindow::CloseQuestion(TRowTicket ticket) {
    const auto open = questions_.find(ticket.Row);
    if (open == questions_.end() || open->second.serial != ticket.Serial)
        return;
    // Moved out first: the dialog's destructor destroys its window, which must find the map
    // consistent.
    std::unique_ptr<TConfirmDialog> dialog = std::move(open->second.dialog);
    questions_.erase(open);
}

void TBrenloFileserverWindow::RunLater(std::function<void()> call) {
    later_.push_back(std::move(call));
    PostMessageA(hwnd_, WM_RUNLATER, 0, 0);
}

void TBrenloFileserverWindow::TellUser(const std::string& text) {
    // The error display does not wait: the announcement goes on while the user reads.
    HandleApplicationException(std::make_exception_ptr(EBrenloError(text)));
}

// ---- rows ---------------------------------------------------------------------------------------

const TBrenloFileserverWindow::TRowControls* TBrenloFileserverWindow::Row(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()) || !rows_[row].bar)
        return nullptr;
    return &rows_[static_cast<std::size_t>(row)];
}

void TBrenloFileserverWindow::CreateRow(int row, const std::string& barHint) {
    if (row < 0)
        return;
    if (row >= static_cast<int>(rows_.size()))
        rows_.resize(static_cast<std::size_t>(row) + 1);
    FreeRow(row);
    TRowControls& r = rows_[static_cast<std::size_t>(row)];
    const int top = row * kRowPitch - FrameScrollPosition(frame_);
    r.bar = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | PBS_SMOOTH, kBarLeft, top,
                            kBarWidth, kBarHeight, frame_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(fsid::RowBarBase + row)),
                            ThisModule(), nullptr);
    r.name = CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_LEFT | SS_NOPREFIX, kNameLeft, top,
                             kNameWidth, kRowPitch, frame_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(fsid::RowNameBase + row)),
                             ThisModule(), nullptr);
    r.speed = CreateWindowExA(
        0, "STATIC", "", WS_CHILD | SS_RIGHT | SS_NOPREFIX, kSpeedLeft, top, kSpeedWidth, kRowPitch,
        frame_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(fsid::RowSpeedBase + row)),
        ThisModule(), nullptr);
    if (!r.bar || !r.name || !r.speed) {
        FreeRow(row);
        throw EBrenloError(
            "Die Zeile einer \xDC"
            "bertragung konnte nicht angelegt werden.");
    }
    SendMessageA(r.bar, PBM_SETRANGE32, 0, 100);
    SendMessageA(r.bar, PBM_SETSTEP, 1, 0);
    SendMessageA(r.bar, PBM_SETPOS, 0, 0);
    SendMessageA(r.bar, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(GetSysColor(COLOR_BTNFACE)));
    SendMessageA(r.name, WM_SETFONT, reinterpret_cast<WPARAM>(rowFont_), FALSE);
    SendMessageA(r.speed, WM_SETFONT, reinterpret_cast<WPARAM>(rowFont_), FALSE);
    // The bar's tag is its row; the mouse over it selects the row.
    SetWindowLongPtrA(r.bar, GWLP_USERDATA, row);
    SetPropA(r.bar, kOldProcProperty,
             reinterpret_cast<HANDLE>(
                 SetWindowLongPtrA(r.bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BarProc))));
    r.hint = barHint;
    SetHint(r.bar, barHint);
    SetFrameContentHeight(frame_, static_cast<int>(rows_.size()) * kRowPitch);
}

LRESULT CALLBACK TBrenloFileserverWindow::BarProc(HWND bar, UINT msg, WPARAM wParam,
                                                  LPARAM lParam) {
    const auto old = reinterpret_cast<WNDPROC>(GetPropA(bar, kOldProcProperty));
    if (msg == WM_MOUSEMOVE) {
        GuardCallback([bar] {
            HWND window = GetParent(GetParent(bar));
            auto* self =
                reinterpret_cast<TBrenloFileserverWindow*>(GetWindowLongPtrA(window, DWLP_USER));
            if (self && self->form_)
                self->form_->ProgressbarMouseMove(
                    static_cast<int>(GetWindowLongPtrA(bar, GWLP_USERDATA)));
        });
    } else if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        RemovePropA(bar, kOldProcProperty);
    }
    return old ? CallWindowProcA(old, bar, msg, wParam, lParam)
               : DefWindowProcA(bar, msg, wParam, lParam);
}

void TBrenloFileserverWindow::FreeRow(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return;
    TRowControls& r = rows_[static_cast<std::size_t>(row)];
    if (r.bar && tooltip_) {
        TOOLINFOA ti{};
        ti.cbSize = sizeof ti;
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(r.bar);
        SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    }
    for (HWND control : {r.bar, r.name, r.speed})
        if (control)
            DestroyWindow(control);
    r = TRowControls{};
}

void TBrenloFileserverWindow::ShowRow(int row, const std::string& userName,
                                      const std::string& barHint) {
    if (!Row(row))
        return;
    TRowControls* r = &rows_[static_cast<std::size_t>(row)];
    r->hint = barHint;
    SetHint(r->bar, barHint);
    SetTextOf(r->name, userName);
    ShowWindow(r->bar, SW_SHOWNA);
    ShowWindow(r->name, SW_SHOWNA);
    ShowWindow(r->speed, SW_SHOWNA);
}

void TBrenloFileserverWindow::SetBarMarked(int row, bool marked) {
    if (!Row(row))
        return;
    TRowControls& r = rows_[static_cast<std::size_t>(row)];
    r.marked = marked;
    SendMessageA(r.bar, PBM_SETBKCOLOR, 0,
                 static_cast<LPARAM>(marked ? kMarkedColour : GetSysColor(COLOR_BTNFACE)));
}

void TBrenloFileserverWindow::SetBarPosition(int row, int percent) {
    if (const TRowControls* r = Row(row))
        SendMessageA(r->bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void TBrenloFileserverWindow::SetBarHint(int row, const std::string& hint) {
    if (!Row(row))
        return;
    TRowControls& r = rows_[static_cast<std::size_t>(row)];
    r.hint = hint;
    SetHint(r.bar, hint);
}

void TBrenloFileserverWindow::SetSpeedText(int row, const std::string& text) {
    if (const TRowControls* r = Row(row))
        SetTextOf(r->speed, text);
}

void TBrenloFileserverWindow::RepaintRow(int row, bool withSpeed) {
    const TRowControls* r = Row(row);
    if (!r)
        return;
    RedrawWindow(r->bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    if (withSpeed)
        RedrawWindow(r->speed, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void TBrenloFileserverWindow::SetStatusPanels(const std::string& percent, const std::string& speed,
                                              const std::string& total) {
    SendMessageA(status_, SB_SIMPLE, FALSE, 0);
    const std::string* texts[] = {&percent, &speed, &total};
    for (int i = 0; i < 3; ++i) {
        // Two tabs in front right-align a panel's text.
        const std::string text = "\t\t" + *texts[i];
        SendMessageA(status_, SB_SETTEXTA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void TBrenloFileserverWindow::SetStatusMessage(const std::string& text) {
    SendMessageA(status_, SB_SIMPLE, TRUE, 0);
    SendMessageA(status_, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

std::uint64_t TBrenloFileserverWindow::TickCount() {
    return GetTickCount64();
}

// ---- reading the controls -----------------------------------------------------------------------

std::string TBrenloFileserverWindow::FileLabelText() const {
    return TextOf(GetDlgItem(hwnd_, fsid::LblFilename));
}

std::string TBrenloFileserverWindow::FileLabelHint() const {
    return Hint(GetDlgItem(hwnd_, fsid::LblFilename));
}

std::string TBrenloFileserverWindow::PortText() const {
    return TextOf(GetDlgItem(hwnd_, fsid::Edit2));
}

HWND TBrenloFileserverWindow::RowBar(int row) const {
    const TRowControls* r = Row(row);
    return r ? r->bar : nullptr;
}

bool TBrenloFileserverWindow::RowVisible(int row) const {
    const TRowControls* r = Row(row);
    return r && (GetWindowLongA(r->bar, GWL_STYLE) & WS_VISIBLE) &&
           (GetWindowLongA(r->name, GWL_STYLE) & WS_VISIBLE) &&
           (GetWindowLongA(r->speed, GWL_STYLE) & WS_VISIBLE);
}

int TBrenloFileserverWindow::RowPosition(int row) const {
    const TRowControls* r = Row(row);
    return r ? static_cast<int>(SendMessageA(r->bar, PBM_GETPOS, 0, 0)) : -1;
}

std::string TBrenloFileserverWindow::RowName(int row) const {
    const TRowControls* r = Row(row);
    return r ? TextOf(r->name) : std::string();
}

std::string TBrenloFileserverWindow::RowSpeed(int row) const {
    const TRowControls* r = Row(row);
    return r ? TextOf(r->speed) : std::string();
}

std::string TBrenloFileserverWindow::RowHint(int row) const {
    const TRowControls* r = Row(row);
    return r ? r->hint : std::string();
}

bool TBrenloFileserverWindow::RowMarked(int row) const {
    const TRowControls* r = Row(row);
    return r && r->marked;
}

int TBrenloFileserverWindow::RowTop(int row) const {
    const TRowControls* r = Row(row);
    if (!r)
        return -1;
    RECT rect{};
    GetWindowRect(r->bar, &rect);
    MapWindowPoints(nullptr, frame_, reinterpret_cast<POINT*>(&rect), 2);
    return rect.top;
}

std::string TBrenloFileserverWindow::StatusText(int panel) const {
    char buffer[1024] = {};
    const LRESULT length = SendMessageA(status_, SB_GETTEXTLENGTHA, static_cast<WPARAM>(panel), 0);
    if (LOWORD(length) >= sizeof buffer)
        return {};
    SendMessageA(status_, SB_GETTEXTA, static_cast<WPARAM>(panel),
                 reinterpret_cast<LPARAM>(buffer));
    std::string text = buffer;
    while (!text.empty() && text.front() == '\t')
        text.erase(0, 1);
    return text;
}

std::string TBrenloFileserverWindow::StatusMessage() const {
    if (!StatusSimple())
        return {};
    // Read back as part 0 by some versions of the control, as SB_SIMPLEID by others.
    const std::string text = StatusText(0);
    return text.empty() ? StatusText(SB_SIMPLEID) : text;
}

bool TBrenloFileserverWindow::StatusSimple() const {
    return SendMessageA(status_, SB_ISSIMPLE, 0, 0) != 0;
}
