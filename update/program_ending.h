// How the program ends, decided in one place for every path that ends it: the history line of
// an attempt still open, the exit status from the update's outcome, and the connection guard,
// which is dropped only once no thread of ours can still be writing the device.
#pragma once

#include <string>

#include "platform/connect_guard.h"
#include "update/message_text.h"

// What a start refused by the guard tells the user (a box in the window, one line in the
// terminal) before it ends with kExitAnotherCopy.
inline constexpr const char* kMultipleStartCaption = QT_TRANSLATE_NOOP("Messages", "複数起動検知");
inline constexpr const char* kMultipleStartMessage = QT_TRANSLATE_NOOP(
    "Messages",
    "他のアプリケーションが起動しているため、SCRIBOLANTE X との通信ができません。\n終了します。");

// The connection guard this process holds, or platform::kNoConnectGuard when it holds none
// (never taken, not creatable, or dropped by EndProgram). Taken at start-up by
// TakeConnectGuard; main thread only.
extern platform::ConnectGuardHandle g_hConnectGuard;

// Start-up of either front end, before it shows anything of the update: takes the guard named
// guardName into g_hConnectGuard. kHeldElsewhere: another copy talks to the device; the caller
// tells the user (kMultipleStartMessage) and ends with kExitAnotherCopy. kUnavailable: one line
// on standard error, and the program runs unguarded. Main thread.
platform::ConnectGuardStatus TakeConnectGuard(const std::string& guardName);

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
