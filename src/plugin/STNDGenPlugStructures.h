// The host's record for a general-purpose plug-in. Its layout is the host's: seven 32-bit fields
// on the 32-bit host, in this order. The plug-in hands the host one static instance.
#pragma once

#include <cstddef>

#if defined(_WIN32) && !defined(_WIN64)
#define BP_HOSTCALL __cdecl
#else
#define BP_HOSTCALL
#endif

inline constexpr int kGenPluginVersion = 0x10;  // the host's general-purpose header version

struct winampGeneralPurposePlugin {
    int version;               // kGenPluginVersion
    const char* description;   // shown in the host's plug-in list
    int(BP_HOSTCALL* init)();  // 0 means success
    void(BP_HOSTCALL* config)();
    void(BP_HOSTCALL* quit)();
    void* hwndParent;    // host main window, written by the host before init
    void* hDllInstance;  // our module, written by the host; never read by us
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(winampGeneralPurposePlugin) == 7 * 4, "the host reads seven 32-bit fields");
static_assert(offsetof(winampGeneralPurposePlugin, hwndParent) == 5 * 4);
static_assert(offsetof(winampGeneralPurposePlugin, hDllInstance) == 6 * 4);
#endif
