#include "taskbar_standin_util.h"

#include <shellapi.h>

#include <cstring>

namespace testutil {

bool ShellHoldsIcon(HWND window, UINT id) {
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = id;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

bool NotificationAreaAnswers() {
    HWND own = CreateWindowExA(0, "STATIC", "tray probe", 0, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = own;
    data.uID = 77;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    lstrcpynA(data.szTip, "tray probe", sizeof data.szTip);
    const bool absentBefore = !ShellHoldsIcon(own, 77);
    const bool added = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
    const bool held = ShellHoldsIcon(own, 77);
    Shell_NotifyIconA(NIM_DELETE, &data);
    const bool gone = !ShellHoldsIcon(own, 77);
    DestroyWindow(own);
    return absentBefore && added && held && gone;
}

StandInTaskbar::StandInTaskbar() {
    if (FindWindowA("Shell_TrayWnd", nullptr))
        return;
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            wc.hInstance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

StandInTaskbar::~StandInTaskbar() {
    if (!hwnd_)
        return;
    DestroyWindow(hwnd_);
    // The class goes too: another stand-in of the process registers its own procedure under
    // the taskbar's class name.
    UnregisterClassA("Shell_TrayWnd", GetModuleHandleA(nullptr));
}

LRESULT CALLBACK StandInTaskbar::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StandInTaskbar*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg != WM_COPYDATA || !self)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (copy->cbData < 8)
        return FALSE;
    std::pair<LONG, UINT> icon;
    std::memcpy(&icon.first, copy->lpData, 4);
    std::memcpy(&icon.second, static_cast<const char*>(copy->lpData) + 4, 4);
    switch (copy->dwData) {
        case NIM_ADD:
            return self->icons_.insert(icon).second;
        case NIM_MODIFY:
            return self->icons_.count(icon) > 0;
        case NIM_DELETE:
            return self->icons_.erase(icon) > 0;
        default:
            return FALSE;
    }
}

}  // namespace testutil
