// The Windows implementations of the plug-in frame's platform, put together in one place.
#pragma once

#include "plugin/u_brenloplug3.h"

TPluginPlatform MakeWin32PluginPlatform();

class TAddressedFileServer;
// The file server's side of the announcements: the file-server window attaches itself and its
// listener here; the token comes from the public address lookup over WinHTTP.
TAddressedFileServer& Win32FileServerLink();
