// The player watcher's window hook on Windows.
#pragma once

#include <memory>

#include "plugin/u_genWAControl.h"

// Subclasses the host window (a THookInstaller). Null when there is no such window; raises
// EBrenloError when the window exists but cannot be hooked, leaving its procedure untouched.
std::unique_ptr<IHostHook> InstallWin32HostHook(void* window, TWinampControl& watcher);
