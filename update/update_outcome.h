// How the update ended, for the process's exit status: scripts may trust status 0 to mean that
// the device confirmed the checksum of the whole new image, and nothing less.
#pragma once

// The program's exit statuses.
inline constexpr int kExitUpdateCompleted = 0;  // the device confirmed the whole image
inline constexpr int kExitAnotherCopy = 1;      // another copy holds the connection guard
inline constexpr int kExitNoUpdate = 2;  // ended without an update, or a bad command line

// Phase 5, once the device has confirmed the checksum of the whole image. Any thread.
void NoteUpdateCompleted();
// True once NoteUpdateCompleted has been called since the last reset. Any thread.
bool UpdateCompleted();
// A new sequence (UpdateController::OnCreate) starts without an outcome.
void ResetUpdateOutcome();

// The status the process ends with once its window has gone, however it went:
// kExitUpdateCompleted after a confirmed update, kExitNoUpdate otherwise. Any thread, also
// from a path that ends the process at once (a lock-free atomic load, no allocation).
int UpdateExitStatus();
