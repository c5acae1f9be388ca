// The Windows calls whose failure the plug-in has to survive, reached through function pointers
// so that the Windows tests can make them fail. The plug-in always uses the system's own.
#pragma once

#include <windows.h>

struct TSystemCalls {
    decltype(&::SetPropA) SetPropA = &::SetPropA;
    decltype(&::SetWindowsHookExA) SetWindowsHookExA = &::SetWindowsHookExA;
    decltype(&::GetModuleHandleExA) GetModuleHandleExA = &::GetModuleHandleExA;
    decltype(&::ReadFile) ReadFile = &::ReadFile;
};

inline TSystemCalls& SystemCalls() {
    static TSystemCalls calls;  // trivially destructible: nothing runs at process exit
    return calls;
}
