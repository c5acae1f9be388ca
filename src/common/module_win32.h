// The module (DLL or test program) that this code is linked into.
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
