// TConfirmDialog: the question whether a peer may download the served file. A window of its own
// (modeless), owned by the file-server window: several may be open and each is answered on its
// own, and no message loop of ours ever runs for it. Always on top and centred on the screen, so
// that it shows even while the player is minimised.
#pragma once

#include <windows.h>

#include <functional>

#include "fileshare/u_brenlofileserver.h"

class TConfirmDialog {
  public:
    // Creates and shows the question. `answered` is called once with the user's answer: true
    // for OK, false for Cancel, the close box or Escape; the window is gone by then, and the
    // call may destroy this object. Raises EBrenloError when the window cannot be created.
    TConfirmDialog(const TConfirmQuestion& question, HWND owner,
                   std::function<void(bool yes)> answered);
    // Closes the window, if still open, without an answer.
    ~TConfirmDialog();
    TConfirmDialog(const TConfirmDialog&) = delete;
    TConfirmDialog& operator=(const TConfirmDialog&) = delete;

    HWND Handle() const { return hwnd_; }

    // The library is unmapped without a teardown: the window keeps only the system's default
    // handling and is hidden; nothing is destroyed, and the destructor then leaves it alone.
    void Abandon() noexcept;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    // Ends the question with the user's answer: the window goes first, then `answered_` runs.
    static void Finish(HWND hwnd, bool yes);

    TConfirmQuestion question_;
    std::function<void(bool)> answered_;
    HWND hwnd_ = nullptr;
    bool abandoned_ = false;
};
