// The module (DLL or test program) that this code is linked into.
#pragma once

#include <windows.h>

// Resources and window classes belong to our own module, never to the host's
// (GetModuleHandle(nullptr) would be the player's executable).
HINSTANCE ThisModule();
