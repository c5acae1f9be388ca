// The notification area as the tests see it: asked through the shell, and a stand-in taskbar for
// a desktop that has none.
#pragma once

#include <windows.h>

#include <set>
#include <utility>

namespace testutil {

// Whether the shell holds the icon of `window` with `id`: only an icon it holds can be modified.
bool ShellHoldsIcon(HWND window, UINT id = 0);

// Whether the notification area takes an icon of a window of the test's own, holds it and gives
// it back: then what it says about another window's icon means something.
bool NotificationAreaAnswers();

// A taskbar for a desktop without one. Wine without a display has none, and there every
// Shell_NotifyIcon call fails, icon or not, so asking the shell would show nothing. Wine's shell
// hands each call to the top-level window of class "Shell_TrayWnd" as WM_COPYDATA: dwData is the
// NIM_ request, the data starts with the window (32 bits) and the icon's id. This one keeps the
// icons and answers as a taskbar does: an icon is added once, and only an icon it holds can be
// modified or deleted. Where a taskbar runs, it is left to answer.
class StandInTaskbar {
  public:
    StandInTaskbar();
    ~StandInTaskbar();
    StandInTaskbar(const StandInTaskbar&) = delete;
    StandInTaskbar& operator=(const StandInTaskbar&) = delete;

  private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    std::set<std::pair<LONG, UINT>> icons_;
};

}  // namespace testutil
