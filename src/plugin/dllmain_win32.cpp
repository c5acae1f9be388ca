// Entry file of gen_brenloplug3.dll: the DLL entry point and the one export the host looks for.
#include <windows.h>

#include "common/app_error.h"
#include "plugin/plugin_platform_win32.h"
#include "plugin/u_brenloplug3.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Nothing is set up or torn down here: windows, message boxes, hooks, sockets and library
    // calls under the loader lock risk deadlocks. The load runs at the first call of the export
    // and the teardown at the host's quit call (plugin/plugin_owner.h). Only a FreeLibrary
    // without quit (reserved is null) finds the plug-in still loaded: then the host window gets
    // its procedure back and our windows stop calling into this module, which cannot wait. At
    // process exit (reserved non-null) nothing of ours is touched.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        AbandonPlugin();
    return TRUE;
}

extern "C" winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
    // The host window field is still 0 here: the host fills it in after this call, before init.
    GuardCallback([] {
        // NotLoaded, or Stopped by the quit of an earlier load whose image stayed mapped.
        const TPluginState state = PluginState();
        if (state != TPluginState::Loaded && state != TPluginState::Running)
            LoadPlugin(MakeWin32PluginPlatform());
    });
    return &PluginRecord;
}
