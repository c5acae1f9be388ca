// The plug-in frame: the record handed to the host and the host's three calls.
#pragma once

#include "plugin/STNDGenPlugStructures.h"

inline constexpr const char* kPluginDescription = "BrenloPlug, Bringt Musik ins AOL";

extern winampGeneralPurposePlugin PluginRecord;

int BP_HOSTCALL HostInit();
void BP_HOSTCALL HostConfig();
void BP_HOSTCALL HostQuit();
