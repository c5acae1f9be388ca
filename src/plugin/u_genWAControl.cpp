// The player watcher's detection rule: a song change is the passage from nothing playing (seen on
// the host's timer 42) to a song of known length playing (seen on any other host timer).
#include "plugin/u_genWAControl.h"

#include <utility>

#include "common/app_error.h"
#include "plugin/STNDwinamp20.h"

TWinampControl::TWinampControl(THookInstaller installHook) : installHook_(std::move(installHook)) {}

TWinampControl::~TWinampControl() = default;

void TWinampControl::Hook(void* window) {
    HookProc.reset();
    HostWindow = window;
    if (installHook_)
        HookProc = installHook_(window, *this);
}

std::intptr_t TWinampControl::SendIpc(std::uintptr_t data, std::intptr_t query) {
    return HookProc ? HookProc->SendQuery(data, query) : 0;
}

std::string TWinampControl::SendIpcString(std::uintptr_t data, std::intptr_t query) {
    std::intptr_t address = SendIpc(data, query);
    // A host without that playlist entry answers with a null address.
    if (address == 0)
        return {};
    // The host answers with the address of its own text in this process.
    return std::string(
        reinterpret_cast<const char*>(address));  // NOLINT(performance-no-int-to-ptr)
}

void TWinampControl::WatchTimer(std::uintptr_t timerId) {
    const std::intptr_t position = SendIpc(0, winamp::IPC_GETOUTPUTTIME);
    const std::intptr_t length = SendIpc(1, winamp::IPC_GETOUTPUTTIME);
    if (timerId != winamp::kStopWatchTimerId && position >= 0 && length > 0 && Armed == 1) {
        TSongInfo song;
        const auto index = static_cast<std::uintptr_t>(SendIpc(0, winamp::IPC_GETLISTPOS));
        song.FileName = SendIpcString(index, winamp::IPC_GETPLAYLISTFILE);
        song.Title = SendIpcString(index, winamp::IPC_GETPLAYLISTTITLE);
        song.Bitrate = static_cast<std::int32_t>(SendIpc(1, winamp::IPC_GETINFO));
        song.Length = static_cast<std::int32_t>(SendIpc(1, winamp::IPC_GETOUTPUTTIME));
        // Disarmed before the handler runs: a handler that fails, or a host timer that reaches
        // us again from a message loop inside the announcement, must not announce the same
        // song a second time.
        Armed = 0;
        auto handler = OnSongChange;
        handler(song);
    } else if (position == -1) {
        Armed = 1;
    }
}

void TWinampControl::WatchMessage(unsigned message, std::uintptr_t wParam) noexcept {
    if (message == winamp::kTimerMessage && (wParam == winamp::kStopWatchTimerId || Armed == 1) &&
        OnSongChange) {
        GuardCallback([this, wParam] { WatchTimer(wParam); });
    }
}

std::intptr_t TWinampControl::HookedWndProc(unsigned message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    WatchMessage(message, wParam);
    return HookProc ? HookProc->CallPrevious(message, wParam, lParam) : 0;
}
