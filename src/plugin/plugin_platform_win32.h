// The Windows implementations of the plug-in frame's platform, put together in one place.
#pragma once

#include "plugin/u_brenloplug3.h"

TPluginPlatform MakeWin32PluginPlatform();

class TBrenloFileserverWindow;
// The file-server window while the plug-in is loaded (created last by the load), else null.
TBrenloFileserverWindow* FileServerWindow();
