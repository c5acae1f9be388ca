// Message numbers of the host's window-message interface, as far as the plug-in uses them.
#pragma once

#include <cstdint>

namespace winamp {

// Every query is WM_USER sent to the host main window: wParam = data, lParam = query number.
inline constexpr unsigned kInterfaceMessage = 0x0400;  // WM_USER
inline constexpr unsigned kTimerMessage = 0x0113;      // WM_TIMER

inline constexpr std::intptr_t IPC_GETOUTPUTTIME =
    105;  // data 0: position ms (-1 stopped); 1: length s
inline constexpr std::intptr_t IPC_GETLISTPOS = 125;        // index of the current playlist entry
inline constexpr std::intptr_t IPC_GETINFO = 126;           // data 1: bit rate in kbit/s
inline constexpr std::intptr_t IPC_GETPLAYLISTFILE = 211;   // data index: address of the file name
inline constexpr std::intptr_t IPC_GETPLAYLISTTITLE = 212;  // data index: address of the title

// The host's timer on which a stopped player is noticed.
inline constexpr std::uintptr_t kStopWatchTimerId = 42;

}  // namespace winamp
