// The address lookup's HTTP client on Windows: the probe over Winsock, the GET over WinHTTP.
#pragma once

#include "fileshare/public_address.h"

// Each call runs on a short-lived worker thread that holds a reference to this module until it
// ends, so the library cannot be unmapped under it. The caller waits at most the call's time-out;
// a worker that is late (a name lookup that hangs, a server that never answers or trickles) is
// left to end on its own time-outs and its result is dropped. At most a few workers run at once;
// beyond that a call fails at once.
IHttpClient& WindowsHttpClient();
