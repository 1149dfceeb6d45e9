// The conformance check's report in the Test Anything Protocol: one line per check, notes on
// indented comment lines, the plan and a summary at the end, and the last word when a library
// call crashes or does not return, naming the check under way.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "check_library/call_watchdog.h"

namespace check_library {

// Exit statuses: every check passed (skipped ones included), a check failed, or the check
// could not run at all (bad arguments, no library file).
inline constexpr int kAllPassed = 0;
inline constexpr int kCheckFailed = 1;
inline constexpr int kCouldNotRun = 2;

// How long the library calls of one check may take: a library that answers within a few
// seconds (docs/VENDOR-LIBRARY.md) has ample room. Test builds may set another limit.
std::chrono::seconds CallLimit();

// A crash inside the library (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) ends the run with the
// check under way marked "not ok". Call once, before the library is loaded.
void ReportCrashes();

// Used on one thread, the checking thread; prints to standard output.
class TapReport {
 public:
  explicit TapReport(std::chrono::seconds callLimit);

  // Announces the next check; its library calls follow, within the call limit.
  void Begin(const char* name);
  void Note(const std::string& text) { m_notes.push_back(text); }
  // Library calls between checks, within the call limit too; activity names them should they
  // not return. Unwatch ends them; the next Begin does too.
  void Watch(const char* activity);
  void Unwatch();
  // Ends the check; false when it failed.
  bool End(bool passed);
  bool Fail(const std::string& reason);
  void Skip(const char* name, const char* reason);
  void Comment(const std::string& text);
  // Prints the plan and the summary; answers the exit status.
  int Finish();

 private:
  int m_number = 0;
  const char* m_name = "";
  std::vector<std::string> m_notes;
  int m_passed = 0;
  int m_skipped = 0;
  int m_failed = 0;
  CallWatchdog m_watchdog;
};

// printf-style text for a note.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A library's text as a note may show it: control characters become '?'.
std::string Printable(const char* text);

}  // namespace check_library
