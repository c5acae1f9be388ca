// Winsock and hidden message-only windows as the socket layer's seam (Windows only).
#pragma once

#include "net/net_api.h"

INetApi* WinsockNetApi();
// Makes Winsock the seam in use and registers the notification windows' class; called once when
// the library (or a program) starts, before the first socket object is created. Raises
// EBrenloError when the class cannot be registered.
void InstallWinsockNetApi();
// Undoes InstallWinsockNetApi: no seam, and the class unregistered (it stays registered while a
// notification window still exists). Called at the plug-in's teardown, after the last socket.
void RemoveWinsockNetApi();
// The library is being unmapped without a teardown: every notification window that still exists
// (of any thread) gets the system's default procedure, so that a message queued for it (a
// socket event, a posted continue of a stream) finds no code of ours. Nothing is destroyed.
void AbandonNotifyWindows() noexcept;
