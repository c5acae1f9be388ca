// The Windows transfer platform: thread timers (SetTimer), GetTickCount, files opened with
// write sharing denied and the user's number separators.
#pragma once

// Installs the Windows platform for every transfer of the process (idempotent). Call on the
// thread whose message loop runs the transfers.
void InstallWin32TransferPlatform();
