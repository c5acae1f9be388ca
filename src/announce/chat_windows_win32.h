// The chat client's windows as the driver sees them on Windows.
#pragma once

#include "announce/u_aol.h"

// The window operations of this desktop; install with SetChatWindows(&Win32ChatWindows()).
IChatWindows& Win32ChatWindows();
