// The player watcher: sits on the host's main window, watches the host's timer messages and tells
// the plug-in when a new song has started and what it is. It also carries the event slots through
// which the host's init, config and quit calls reach the plug-in.
//
// The detection rule is portable; the window hook behind it is a seam (IHostHook), implemented by
// window subclassing on Windows and by a fake in the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/song_info.h"

class TWinampControl;

// The watcher's hold on the host window, from Hook until it is released by destruction.
class IHostHook {
  public:
    // Releasing must never leave the host window calling code that is about to go away.
    virtual ~IHostHook() = default;
    // One synchronous query of the host's interface message: data in the word parameter, the
    // query number in the long parameter; the answer is the message's result.
    virtual std::intptr_t SendQuery(std::uintptr_t data, std::intptr_t query) = 0;
    // Hands a message on to the window procedure that was installed before ours.
    virtual std::intptr_t CallPrevious(unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam) = 0;
};

// Installs `watcher`'s HookedWndProc on `window`; null when the window cannot be hooked.
using THookInstaller =
    std::function<std::unique_ptr<IHostHook>(void* window, TWinampControl& watcher)>;

class TWinampControl {
  public:
    explicit TWinampControl(THookInstaller installHook);
    ~TWinampControl();  // releases HookProc
    TWinampControl(const TWinampControl&) = delete;
    TWinampControl& operator=(const TWinampControl&) = delete;

    // Installs the watcher on the host main window (the host's init call). A second call moves
    // the hook: the previous one is released first.
    void Hook(void* window);

    // Sees every message of the host window and returns the result of the host's own procedure.
    // Nothing thrown inside the song-change handling leaves it: the failure is reported and the
    // message still reaches the host.
    std::intptr_t HookedWndProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    // The watching half of HookedWndProc, without the forwarding. It touches nothing of the
    // watcher after the song handler has run, so a handler that ends up freeing the watcher
    // (the host quitting from a message loop inside the announcement) is safe; the window hook
    // calls this and forwards with what it saved beforehand.
    void WatchMessage(unsigned message, std::uintptr_t wParam) noexcept;

    void* HostWindow = nullptr;
    std::int32_t Armed = 0;  // 1 once the player was seen not playing on timer 42

    std::function<void(const TSongInfo&)> OnSongChange;
    std::function<void()> OnConfig;
    std::function<void()> OnInit;
    std::function<void()> OnQuit;

    std::unique_ptr<IHostHook> HookProc;  // holds the previous procedure (OldWndProc) too

  private:
    void WatchTimer(std::uintptr_t timerId);
    std::intptr_t SendIpc(std::uintptr_t data, std::intptr_t query);
    std::string SendIpcString(std::uintptr_t data, std::intptr_t query);

    THookInstaller installHook_;
};
