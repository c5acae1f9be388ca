// The module (DLL or test program) that this code is linked into, and the references that keep
// it mapped while code of ours still runs.
#pragma once

#include <windows.h>

// Resources and window classes belong to our own module, never to the host's
// (GetModuleHandle(nullptr) would be the player's executable).
HINSTANCE ThisModule();

// Keeps this module mapped while code of ours waits in a nested message loop (a chooser, a
// message box): the host may quit and unload the plug-in from inside that loop, and the code
// that the loop returns to must still be there. The reference is dropped by a short-lived
// thread once this thread is back in a message loop, so that the last FreeLibrary never
// returns into unmapped code.
class TModuleHold {
  public:
    TModuleHold();
    ~TModuleHold();
    TModuleHold(const TModuleHold&) = delete;
    TModuleHold& operator=(const TModuleHold&) = delete;

  private:
    HMODULE module_ = nullptr;
};

// ---- Helper threads ------------------------------------------------------------------------
//
// A thread of ours (an address lookup, the announcer) runs code of this module, so it holds a
// counted reference on it for its whole life: it may outlive the plug-in's quit, or the host's
// FreeLibrary. Its final release must never run the unload on the helper thread itself: the
// unload without quit abandons the plug-in's windows, thread timers and tray icon, and those
// belong to the owner's thread (the host's user-interface thread).
//
// How a helper thread is started and ended:
//
//     auto ref = TWorkerModuleRef::Take(); // on the starting thread, before CreateThread
//     if (!ref) ... do without the thread
//     start->module = std::move(ref);      // into the thread's start parameter
//     CreateThread(...);                   // if that fails, the start's ref drops the reference
//                                          // here, on the starting thread
//     ...
//     DWORD WINAPI Worker(void* p) {
//         TWorkerModuleRef ref = std::move(start->module);
//         ... the work; every object of the work destroyed ...
//         ExitWorkerThread(std::move(ref), 0);   // the thread's one way out
//     }
//
// While a TWorkerReleaseCustody exists (the plug-in's owner holds one from the start of its load
// to the end of its teardown), an ending helper thread does not drop its reference: it leaves it
// in the custody's keeping and exits. The custody drops what it keeps when it goes, on the
// owner's thread, where the host still holds its own reference. So a FreeLibrary without quit
// after any helper thread has run finds the module still referenced: the image stays mapped and
// the plug-in goes on working (pinned while it lives), which is safe, where an unload run on a
// helper thread would not be.
//
// Without a custody (after the quit, or in a program without an owner) the helper thread drops
// its reference as it exits (FreeLibraryAndExitThread). If that was the last one, the unload
// runs on the helper thread, but the plug-in is torn down by then: nothing is left to abandon.

class TWorkerModuleRef;
// Ends the calling helper thread with `exitCode`, handing its reference to the custody if one
// exists, else dropping it as the thread exits. Never returns.
[[noreturn]] void ExitWorkerThread(TWorkerModuleRef ref, DWORD exitCode);

// A counted reference on this module, as LoadLibrary takes it. Move-only. On the starting
// thread its destructor simply drops the reference (that thread is ours and returns into code
// the host still keeps mapped). On the helper thread it must end through ExitWorkerThread and
// never through its destructor: the destructor's FreeLibrary could unmap the code it returns to.
class TWorkerModuleRef {
  public:
    // Takes the reference; the result is false if that failed.
    static TWorkerModuleRef Take();
    TWorkerModuleRef() = default;  // holds none
    ~TWorkerModuleRef();
    TWorkerModuleRef(TWorkerModuleRef&& other) noexcept;
    TWorkerModuleRef& operator=(TWorkerModuleRef&& other) noexcept;
    TWorkerModuleRef(const TWorkerModuleRef&) = delete;
    TWorkerModuleRef& operator=(const TWorkerModuleRef&) = delete;

    explicit operator bool() const { return module_ != nullptr; }

  private:
    friend void ExitWorkerThread(TWorkerModuleRef ref, DWORD exitCode);
    HMODULE module_ = nullptr;
};

// While it exists, helper threads that end leave their references with it; it drops them all
// when it goes. Create and destroy it on the owner's thread, at most one at a time.
class TWorkerReleaseCustody {
  public:
    TWorkerReleaseCustody();
    ~TWorkerReleaseCustody();
    TWorkerReleaseCustody(const TWorkerReleaseCustody&) = delete;
    TWorkerReleaseCustody& operator=(const TWorkerReleaseCustody&) = delete;

    // How many ended helper threads' references it keeps now.
    static long Kept();
};
