// The Windows implementations of the plug-in frame's platform, put together in one place.
#pragma once

#include "plugin/u_brenloplug3.h"

TPluginPlatform MakeWin32PluginPlatform();

