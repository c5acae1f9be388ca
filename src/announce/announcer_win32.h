// The announcer's thread on Windows.
#pragma once

#include "announce/announcer.h"

// Starts a thread that runs `body` while holding a reference to this module, so that the image
// stays mapped until the thread has left our code, even when the owner stopped waiting for it.
// The thread ends through ExitWorkerThread: while the plug-in lives, its reference is left with
// the owner's custody, so that the host's FreeLibrary never runs the unload on this thread.
bool StartAnnouncerThread(std::function<void()> body);
