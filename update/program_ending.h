// How the program ends, decided in one place for every path that ends it: the history line of
// an attempt still open, the exit status from the update's outcome, and the connection guard,
// which is dropped only once no thread of ours can still be writing the device.
#pragma once

#include "platform/connect_guard.h"

// The connection guard this process holds, or platform::kNoConnectGuard when it holds none
// (never taken, not creatable, or dropped by EndProgram). Taken by the application at start-up;
// main thread only.
extern platform::ConnectGuardHandle g_hConnectGuard;

// The window has left an attempt that had not ended (its worker has stopped, so nothing else
// can end it now): its line is written with the outcome "closed". Nothing when none is open.
void EndOpenAttemptAsClosed();

// The orderly end, once the window has gone and no thread of ours is inside the vendor library
// (the worker has left its loop, or never ran): a writing stretch still open is noted as
// stopped (the desktop's sleep lock released), an attempt still open ends as closed, the guard
// is dropped, and the answer is the exit status (kExitUpdateCompleted only after the device
// confirmed the update, kExitNoUpdate otherwise). May be called again; main thread.
int EndProgram();

// The end while a thread of ours may still be inside the vendor library (the worker stuck in a
// transfer, the UI thread stuck in a device read that a termination request cannot interrupt):
// the attempt still open is written as closed from the line prepared when it began, and the
// process ends at once with the exit status, without destructors and without flushing
// standard output. The kernel drops the guard with the process, so until then a second copy
// is refused. Only async-signal-safe calls: it may run in a signal handler, or on a thread of
// ours while another holds any lock. Any thread.
[[noreturn]] void EndProgramNow() noexcept;
