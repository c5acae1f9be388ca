// The player watcher's window hook on Windows.
#pragma once

#include <memory>

#include "plugin/u_genWAControl.h"

// Subclasses the host window (a THookInstaller). Null when the window cannot be hooked.
std::unique_ptr<IHostHook> InstallWin32HostHook(void* window, TWinampControl& watcher);
