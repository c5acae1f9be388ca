// Finds a control of the configuration dialog by its number, whichever tab page holds it. Shared
// by the Windows tests and the screenshot tool.
#pragma once

#include <windows.h>

#include <utility>

namespace testutil {

inline BOOL CALLBACK MatchControlId(HWND hwnd, LPARAM param) {
    auto* find = reinterpret_cast<std::pair<int, HWND>*>(param);
    if (GetDlgCtrlID(hwnd) == find->first) {
        find->second = hwnd;
        return FALSE;
    }
    return TRUE;
}

// The first descendant of `root` with the control number `id`, or null.
inline HWND FindControl(HWND root, int id) {
    std::pair<int, HWND> find{id, nullptr};
    EnumChildWindows(root, MatchControlId, reinterpret_cast<LPARAM>(&find));
    return find.second;
}

}  // namespace testutil
