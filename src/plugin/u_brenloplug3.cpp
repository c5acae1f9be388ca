// The plug-in frame: the record handed to the host and the host's three calls.
#include "plugin/u_brenloplug3.h"

winampGeneralPurposePlugin PluginRecord = {
    kGenPluginVersion, kPluginDescription, HostInit, HostConfig, HostQuit, nullptr, nullptr,
};

int BP_HOSTCALL HostInit() { return 0; }

void BP_HOSTCALL HostConfig() {}

void BP_HOSTCALL HostQuit() {}
