// Entry file of gen_brenloplug3.dll: the DLL entry point and the one export the host looks for.
#include <windows.h>

#include "plugin/u_brenloplug3.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

extern "C" winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
    return &PluginRecord;
}
