// TFrame2: the scrolling frame of the transfer rows.
#include "fileshare/u_brenlofileserverframe_win32.h"

#include <algorithm>

#include "common/app_error.h"
#include "common/module_win32.h"

namespace {

constexpr int kLineStep = 13;  // one row per scroll-arrow click

void ScrollTo(HWND frame, int position) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(frame, SB_VERT, &si);
    const int highest = std::max(0, si.nMax - static_cast<int>(si.nPage) + 1);
    position = std::clamp(position, 0, highest);
    if (position == si.nPos)
        return;
    ScrollWindowEx(frame, 0, si.nPos - position, nullptr, nullptr, nullptr, nullptr,
                   SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
    si.fMask = SIF_POS;
    si.nPos = position;
    SetScrollInfo(frame, SB_VERT, &si, TRUE);
}

LRESULT CALLBACK FrameProc(HWND frame, UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    bool handled = false;
    GuardCallback([&] {
        switch (msg) {
            case WM_VSCROLL: {
                SCROLLINFO si{};
                si.cbSize = sizeof si;
                si.fMask = SIF_ALL;
                GetScrollInfo(frame, SB_VERT, &si);
                int position = si.nPos;
                switch (LOWORD(wParam)) {
                    case SB_LINEUP:
                        position -= kLineStep;
                        break;
                    case SB_LINEDOWN:
                        position += kLineStep;
                        break;
                    case SB_PAGEUP:
                        position -= static_cast<int>(si.nPage);
                        break;
                    case SB_PAGEDOWN:
                        position += static_cast<int>(si.nPage);
                        break;
                    case SB_THUMBTRACK:
                    case SB_THUMBPOSITION:
                        position = si.nTrackPos;
                        break;
                    case SB_TOP:
                        position = 0;
                        break;
                    case SB_BOTTOM:
                        position = si.nMax;
                        break;
                    default:
                        break;
                }
                ScrollTo(frame, position);
                handled = true;
                break;
            }
            case WM_MOUSEWHEEL:
                ScrollTo(frame, FrameScrollPosition(frame) -
                                    GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3 * kLineStep);
                handled = true;
                break;
            case WM_CTLCOLORSTATIC:
                // The row labels take the parent window's colours.
                result = SendMessageA(GetParent(frame), msg, wParam, lParam);
                handled = result != 0;
                break;
            default:
                break;
        }
    });
    return handled ? result : DefWindowProcA(frame, msg, wParam, lParam);
}

}  // namespace

void RegisterFrameClass() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExA(ThisModule(), kFrameClassName, &wc))
        return;
    wc = WNDCLASSEXA{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFrameClassName;
    RegisterClassExA(&wc);
}

void SetFrameContentHeight(HWND frame, int height) {
    RECT client{};
    GetClientRect(frame, &client);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_DISABLENOSCROLL;
    si.nMin = 0;
    si.nMax = std::max(0, height - 1);
    si.nPage = static_cast<UINT>(client.bottom);
    SetScrollInfo(frame, SB_VERT, &si, TRUE);
}

int FrameScrollPosition(HWND frame) {
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_POS;
    GetScrollInfo(frame, SB_VERT, &si);
    return si.nPos;
}
