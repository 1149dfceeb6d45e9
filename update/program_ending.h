// How the program ends, decided in one place for every path that ends it: the exit statuses,
// the connection guard from its taking to its release, the outcome of the attempt in the
// history, and the orderly and immediate endings that put them together.
#pragma once

#include <string>
#include <string_view>

#include "platform/connect_guard.h"
#include "update/message_text.h"
#include "update/update_history.h"  // the attempt's record and its outcomes

// Every status the program ends with. Scripts may trust kExitUpdateCompleted to mean that the
// device confirmed the checksum of the whole new image, and nothing less.
inline constexpr int kExitUpdateCompleted = 0;  // the device confirmed the whole image
inline constexpr int kExitRequestAnswered = 0;  // --help or --version, answered
inline constexpr int kExitAnotherCopy = 1;      // another copy holds the connection guard
inline constexpr int kExitNoUpdate = 2;         // ended without an update, or a bad command line

// What a start refused by the guard tells the user (a box in the window, one line in the
// terminal) before it ends with EndStartRefusedByGuard.
inline constexpr const char* kMultipleStartCaption = QT_TRANSLATE_NOOP("Messages", "複数起動検知");
inline constexpr const char* kMultipleStartMessage = QT_TRANSLATE_NOOP(
    "Messages",
    "他のアプリケーションが起動しているため、SCRIBOLANTE X との通信ができません。\n終了します。");

// The connection guard this process holds, or platform::kNoConnectGuard when it holds none
// (never taken, not creatable, or dropped by EndProgram). Taken at start-up by
// TakeConnectGuard, released by EndProgram; main thread only.
extern platform::ConnectGuardHandle g_hConnectGuard;

// Start-up of either front end, before it shows anything of the update: takes the guard named
// guardName into g_hConnectGuard. kHeldElsewhere: another copy talks to the device; the caller
// tells the user (kMultipleStartMessage) and ends with EndStartRefusedByGuard. kUnavailable:
// one line on standard error, and the program runs unguarded. Main thread.
platform::ConnectGuardStatus TakeConnectGuard(const std::string& guardName);

// The end of a start that another copy's guard refused: nothing of the update has begun and
// this copy holds nothing to release. Its exit status, kExitAnotherCopy.
int EndStartRefusedByGuard();

// The outcome of the attempt opened by BeginHistoryAttempt: kHistoryCompleted once the device
// confirmed the whole image (from then on the exit status is kExitUpdateCompleted, whatever
// becomes of the window), kHistoryDeclined, kHistoryClosed when the program leaves an attempt
// that had not ended, or the message the attempt failed with. The history gets the attempt's
// line; only the first outcome of an attempt counts, and with no attempt open nothing is
// written. Any thread; the sequence's hand-overs keep the calls apart.
void NoteAttemptOutcome(std::string_view outcome);

// True once the device has confirmed the whole image since the last reset. Any thread.
bool UpdateCompleted();
// A new sequence (UpdateController::OnCreate) starts without an outcome.
void ResetUpdateOutcome();

// The status the process ends with once its window has gone, however it went:
// kExitUpdateCompleted after a confirmed update, kExitNoUpdate otherwise. Any thread, also
// from a path that ends the process at once (a lock-free atomic load, no allocation).
int UpdateExitStatus();

// The orderly end, once the window has gone and no thread of ours is inside the vendor library
// (the worker has left its loop, or never ran): a writing stretch still open is noted as
// stopped (the desktop's sleep lock released), an attempt still open ends as closed, the guard
// is dropped, and the answer is UpdateExitStatus. May be called again; main thread.
int EndProgram();

// The end while a thread of ours may still be inside the vendor library (the worker stuck in a
// transfer, the UI thread stuck in a device read that a termination request cannot interrupt):
// the attempt still open ends as closed from the line prepared when it began, and the process
// ends at once with UpdateExitStatus, without destructors and without flushing standard
// output. The kernel drops the guard with the process, so until then a second copy is refused.
// Only async-signal-safe calls: it may run in a signal handler, or on a thread of ours while
// another holds any lock. Any thread.
[[noreturn]] void EndProgramNow() noexcept;
