// TConfirmDialog: the download question, a modeless window.
#include "fileshare/u_brenlofileserverconfirm_win32.h"

#include <algorithm>
#include <vector>

#include "common/app_error.h"
#include "common/errors.h"
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

// ---- the dialog keys ---------------------------------------------------------------------------
//
// A modeless dialog gets Tab, Enter and Escape only through IsDialogMessage, which the host's
// message loop does not call for our windows. While any question is open, a message hook of this
// thread does it for them: Escape then ends a question with No, Enter chooses the focused or
// default button. The hook exists only while a question is open and is removed at an unload.

// The questions open now (all on the thread that created them, the file-server window's).
std::vector<HWND>* g_questions = nullptr;
HHOOK g_keyHook = nullptr;

LRESULT CALLBACK DialogKeys(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        GuardCallback([lParam] {
            auto* msg = reinterpret_cast<MSG*>(lParam);
            if (!g_questions || !msg->hwnd || msg->message < WM_KEYFIRST ||
                msg->message > WM_KEYLAST)
                return;
            HWND root = GetAncestor(msg->hwnd, GA_ROOT);
            if (std::find(g_questions->begin(), g_questions->end(), root) == g_questions->end())
                return;
            // Handled: the host's loop dispatches nothing (the question may be gone already).
            if (IsDialogMessageA(root, msg))
                msg->message = WM_NULL;
        });
    }
    return CallNextHookEx(g_keyHook, code, wParam, lParam);
}

void Register(HWND question) {
    if (!g_questions)
        g_questions = new std::vector<HWND>;
    g_questions->push_back(question);
    if (!g_keyHook)
        g_keyHook = SetWindowsHookExA(WH_GETMESSAGE, DialogKeys, nullptr, GetCurrentThreadId());
}

void Unregister(HWND question) {
    if (!g_questions)
        return;
    g_questions->erase(std::remove(g_questions->begin(), g_questions->end(), question),
                       g_questions->end());
    if (g_questions->empty() && g_keyHook) {
        UnhookWindowsHookEx(g_keyHook);
        g_keyHook = nullptr;
    }
}

}  // namespace

TConfirmDialog::TConfirmDialog(const TConfirmQuestion& question, HWND owner,
                               std::function<void(bool yes)> answered)
    : question_(question), answered_(std::move(answered)) {
    CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(fsid::IDD_CONFIRMDIALOG), owner, DialogProc,
                       reinterpret_cast<LPARAM>(this));
    if (!hwnd_)
        throw EBrenloError("Die Download-Frage konnte nicht angezeigt werden.");
    Register(hwnd_);
    ShowWindow(hwnd_, SW_SHOW);
    BringWindowToTop(hwnd_);
    SetForegroundWindow(hwnd_);
}

TConfirmDialog::~TConfirmDialog() {
    if (abandoned_ || !hwnd_)
        return;
    answered_ = nullptr;  // closed, not answered
    DestroyWindow(hwnd_);
}

void TConfirmDialog::Abandon() noexcept {
    if (abandoned_)
        return;
    abandoned_ = true;
    if (g_keyHook) {
        UnhookWindowsHookEx(g_keyHook);
        g_keyHook = nullptr;
    }
    if (!hwnd_)
        return;
    SetWindowLongPtrA(hwnd_, DWLP_DLGPROC, 0);
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
    ShowWindow(hwnd_, SW_HIDE);
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
}

void TConfirmDialog::Finish(HWND hwnd, bool yes) {
    auto* dialog = reinterpret_cast<TConfirmDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!dialog)
        return;
    std::function<void(bool)> answered = std::move(dialog->answered_);
    dialog->answered_ = nullptr;
    // The window first: the answer may destroy the dialog object, and then nothing of it may
    // be left to call. WM_NCDESTROY clears the object's handle.
    DestroyWindow(hwnd);
    if (answered)
        answered(yes);
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
            // OK is IDOK (Enter), Cancel is IDCANCEL (Escape).
            const int id = LOWORD(wParam);
            if (id == fsid::OKBtn || id == fsid::CancelBtn) {
                handled = TRUE;
                Finish(hwnd, id == fsid::OKBtn);
            }
        } else if (msg == WM_CLOSE) {
            handled = TRUE;
            Finish(hwnd, false);
        } else if (msg == WM_NCDESTROY) {
            Unregister(hwnd);
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            dialog->hwnd_ = nullptr;
        }
    });
    return handled;
}
