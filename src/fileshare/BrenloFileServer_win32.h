// The Windows transfer platform: thread timers (SetTimer), GetTickCount, files opened with
// write sharing denied and the user's number separators.
#pragma once

// Installs the Windows platform for every transfer of the process (idempotent). Call on the
// thread whose message loop runs the transfers.
void InstallWin32TransferPlatform();
// Timers of the transfer platform that are running now (for tests that check nothing is left).
int RunningTransferTimers();
// The library is being unmapped without a teardown: every timer of the transfer platform is
// killed (they are thread timers, so this must run on the thread that runs the transfers, the
// one that unloads), so that no WM_TIMER calls code that is gone. The timer objects stay.
void AbandonTransferTimers() noexcept;
