// The history of update attempts, for support: each attempt that reached the user's
// confirmation appends one line, when it ends, to
// $XDG_STATE_HOME/scribolante-fw-updater/history.log (~/.local/state/... by default).
//
// A line is tab-separated: local time (ISO 8601 with its UTC offset), the firmware file's name,
// its length in bytes, the CRC-16 of the image as the device checks it (four upper-case hex
// digits), the device's version before the update, and the outcome: "completed", "declined",
// "closed", or the message the attempt failed with on one line. Control characters and
// backslashes in the name and the message are written as \xNN and \\.
//
// The history stays readable: its folders are created with mode 0700 (folders that exist are
// left as they are), a line is written whole with one write under the file's lock, a line that
// an earlier write left unfinished is closed before the next, a short write is cut back off,
// and the file keeps the newest kHistoryLinesKept lines (older ones are dropped by rewriting the
// file beside itself and renaming it over).
//
// The history never stands in the update's way: a file that cannot be written costs one line
// on standard error for the whole process, and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

inline constexpr const char* kHistoryCompleted = "completed";
inline constexpr const char* kHistoryDeclined = "declined";
inline constexpr const char* kHistoryClosed = "closed";

// How many lines (attempts) the history keeps.
inline constexpr std::size_t kHistoryLinesKept = 1000;

struct HistoryAttempt {
  std::string firmwareFileName;  // the name only, no folder
  std::uint64_t fileLength = 0;
  std::uint16_t crc = 0xFFFF;
  std::string deviceVersion;
};

// Phase 3, UI thread, just before the confirmation question: opens the attempt that the next
// EndHistoryAttempt ends (an attempt still open is replaced). Prepares its line with the
// outcome "closed" for EndHistoryAttemptNow, and creates the history's folders.
void BeginHistoryAttempt(const HistoryAttempt& attempt);

// Ends the open attempt with its outcome (one of the constants above, or the failure's
// message) and appends its line. The program notes outcomes through NoteAttemptOutcome
// (update/program_ending.h), which calls this. Nothing when no attempt is open, so only the first
// ending of an attempt counts. Any thread; the sequence's hand-overs keep the calls apart, a lock
// keeps them safe.
void EndHistoryAttempt(std::string_view outcome);

// EndHistoryAttempt with the outcome "closed", for the ending of a process that cannot run
// ordinary code any more (EndProgramNow: a thread stuck in the vendor library, a deadline after
// a termination signal): writes the open attempt's line prepared by
// BeginHistoryAttempt, with the outcome "closed" and the time of now in the UTC offset that was
// in force when the attempt began. Only system calls that are async-signal-safe: no allocation,
// no lock another thread could hold (the file's lock is waited for a second at most). Nothing
// when no attempt is open or another ending has taken it. Any thread, also a signal handler.
void EndHistoryAttemptNow() noexcept;

// True while an attempt is open. For tests.
bool HistoryAttemptOpen();

// Where the history goes: $XDG_STATE_HOME when it is an absolute path, otherwise
// $HOME/.local/state, then /scribolante-fw-updater/history.log. Empty when neither is set.
std::string HistoryFilePath();

// One line of the history, without its line break, as it would be written at when.
std::string FormatHistoryLine(const HistoryAttempt& attempt, std::string_view outcome,
                              std::time_t when);
