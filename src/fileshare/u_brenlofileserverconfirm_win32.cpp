// TConfirmDialog: the modal download question.
#include "fileshare/u_brenlofileserverconfirm_win32.h"

#include "common/app_error.h"
#include "common/module_win32.h"
#include "fileshare/u_brenlofileserver_ids.h"

namespace {

// Client area and control places in pixels.
constexpr int kClientWidth = 313;
constexpr int kClientHeight = 162;
struct TPlace {
    int id, left, top, width, height;
};
constexpr TPlace kPlaces[] = {
    {fsid::Bevel1, 8, 8, 297, 121},
    {fsid::Label1, 16, 13, 281, 113},
    {fsid::OKBtn, 79, 132, 75, 25},
    {fsid::CancelBtn, 159, 132, 75, 25},
};

}  // namespace

bool TConfirmDialog::ShowModal() {
    const INT_PTR result =
        DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(fsid::IDD_CONFIRMDIALOG), GetDesktopWindow(),
                        DialogProc, reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
    return result == IDOK;
}

void TConfirmDialog::Cancel() {
    if (hwnd_)
        EndDialog(hwnd_, IDCANCEL);
}

void TConfirmDialog::FormCreate() {
    SetWindowTextA(hwnd_, question_.Caption.c_str());
    SetDlgItemTextA(hwnd_, fsid::OKBtn, question_.OkCaption.c_str());
    SetDlgItemTextA(hwnd_, fsid::CancelBtn, question_.CancelCaption.c_str());
    SetDlgItemTextA(hwnd_, fsid::Label1, question_.Text.c_str());

    // Exact pixel places, whatever the dialog units come to with the font at hand.
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(hwnd_, HWND_TOPMOST, left, top, width, height, SWP_NOACTIVATE);
    for (const TPlace& p : kPlaces)
        MoveWindow(GetDlgItem(hwnd_, p.id), p.left, p.top, p.width, p.height, FALSE);
    BringWindowToTop(hwnd_);
    SetForegroundWindow(hwnd_);
    if (stillWanted_)
        SetTimer(hwnd_, kStillWantedTimerId, kStillWantedMs, nullptr);
}

INT_PTR CALLBACK TConfirmDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = FALSE;
    GuardCallback([&] {
        if (msg == WM_INITDIALOG) {
            auto* dialog = reinterpret_cast<TConfirmDialog*>(lParam);
            SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
            dialog->hwnd_ = hwnd;
            dialog->FormCreate();
            handled = TRUE;  // the default button takes the focus
            return;
        }
        auto* dialog = reinterpret_cast<TConfirmDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (!dialog)
            return;
        if (msg == WM_COMMAND) {
            const int id = LOWORD(wParam);
            if (id == fsid::OKBtn || id == fsid::CancelBtn) {
                EndDialog(hwnd, id == fsid::OKBtn ? IDOK : IDCANCEL);
                handled = TRUE;
            }
        } else if (msg == WM_TIMER && wParam == kStillWantedTimerId) {
            // The peer left while the user was deciding: the question is answered for them.
            if (dialog->stillWanted_ && !dialog->stillWanted_()) {
                KillTimer(hwnd, kStillWantedTimerId);
                EndDialog(hwnd, IDCANCEL);
            }
            handled = TRUE;
        } else if (msg == WM_CLOSE) {
            EndDialog(hwnd, IDCANCEL);
            handled = TRUE;
        } else if (msg == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            dialog->hwnd_ = nullptr;
        }
    });
    return handled;
}
