// Winsock and hidden message-only windows as the socket layer's seam (Windows only).
#pragma once

#include "net/net_api.h"

INetApi* WinsockNetApi();
// Makes Winsock the seam in use; called once when the library (or a program) starts, before
// the first socket object is created.
void InstallWinsockNetApi();
