// TConfirmDialog: the modal question whether a peer may download the served file. Always on top,
// centred on the screen, with the desktop as its parent window, so that it shows even while the
// player is minimised.
#pragma once

#include <windows.h>

#include <functional>

#include "fileshare/u_brenlofileserver.h"

inline constexpr UINT kStillWantedMs = 250;
inline constexpr UINT_PTR kStillWantedTimerId = 1;

class TConfirmDialog {
  public:
    // `stillWanted` (may be empty) is asked every kStillWantedMs while the dialog is open; when
    // it answers false the dialog ends with Cancel.
    TConfirmDialog(const TConfirmQuestion& question, std::function<bool()> stillWanted)
        : question_(question), stillWanted_(std::move(stillWanted)) {}
    TConfirmDialog(const TConfirmDialog&) = delete;
    TConfirmDialog& operator=(const TConfirmDialog&) = delete;

    // Shows the dialog and waits for the answer in its own message loop; true for OK. Closing
    // the dialog in any other way is a Cancel.
    bool ShowModal();
    // Ends the running dialog as if Cancel had been chosen; nothing when it is not open.
    void Cancel();
    HWND Handle() const { return hwnd_; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void FormCreate();

    TConfirmQuestion question_;
    std::function<bool()> stillWanted_;
    HWND hwnd_ = nullptr;
};
