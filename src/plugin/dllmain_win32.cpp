// Entry file of gen_brenloplug3.dll: the DLL entry point and the one export the host looks for.
#include <windows.h>

#include "common/app_error.h"
#include "plugin/plugin_platform_win32.h"
#include "plugin/u_brenloplug3.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Nothing is set up here: windows, message boxes and registry work under the loader lock
    // risk deadlocks, so the load sequence runs at the first call of the export instead. On
    // FreeLibrary (reserved is null) our windows go and the host window gets its procedure back;
    // at process exit (reserved non-null) the system tears everything down itself.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        GuardCallback(UnloadPlugin);
    return TRUE;
}

extern "C" winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
    // The host window field is still 0 here: the host fills it in after this call, before init.
    GuardCallback([] {
        if (PluginState() == TPluginState::NotLoaded)
            LoadPlugin(MakeWin32PluginPlatform());
    });
    return &PluginRecord;
}
