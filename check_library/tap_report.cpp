// TAP lines of the conformance check, and its end when the library crashes or hangs.
#include "check_library/tap_report.h"

#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/test_switches.h"

namespace check_library {
namespace {

constexpr std::chrono::seconds kCallLimit{30};

const char* const kBailOut = "Bail out! the library cannot be checked further\n";

// The line the crash handler prints for the check under way, prepared before each check.
char pendingFailure[512] = "not ok 0 - starting\n";
std::size_t pendingFailureLength = std::strlen(pendingFailure);

void WriteRaw(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

extern "C" void OnFatalSignal(int) {
  WriteRaw(pendingFailure, pendingFailureLength);
  const char* what = "  # the library crashed (fatal signal)\n";
  WriteRaw(what, std::strlen(what));
  WriteRaw(kBailOut, std::strlen(kBailOut));
  ::_exit(kCheckFailed);
}

}  // namespace

std::chrono::seconds CallLimit() {
  const long seconds = platform::test_switches::CheckCallLimitSeconds();
  return seconds > 0 ? std::chrono::seconds(seconds) : kCallLimit;
}

void ReportCrashes() {
  struct sigaction action {};
  action.sa_handler = &OnFatalSignal;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    sigaction(signalNumber, &action, nullptr);
  }
}

TapReport::TapReport(std::chrono::seconds callLimit) : m_watchdog(callLimit, kCheckFailed) {}

void TapReport::Begin(const char* name) {
  ++m_number;
  m_name = name;
  m_notes.clear();
  std::snprintf(pendingFailure, sizeof pendingFailure, "not ok %d - %s\n", m_number, name);
  pendingFailureLength = std::strlen(pendingFailure);
  // What was printed must be out before a hang or a crash writes past the stdio buffer.
  std::fflush(stdout);
  m_watchdog.Arm(pendingFailure +
                 Format("  # the call did not return within %lld seconds\n",
                        static_cast<long long>(m_watchdog.limit().count())) +
                 kBailOut);
}

void TapReport::Watch(const char* activity) {
  std::fflush(stdout);
  m_watchdog.Arm(Format("Bail out! %s: a call did not return within %lld seconds\n", activity,
                        static_cast<long long>(m_watchdog.limit().count())));
}

void TapReport::Unwatch() {
  m_watchdog.Disarm();
}

bool TapReport::End(bool passed) {
  m_watchdog.Disarm();
  std::printf("%s %d - %s\n", passed ? "ok" : "not ok", m_number, m_name);
  for (const std::string& note : m_notes) std::printf("  # %s\n", note.c_str());
  (passed ? m_passed : m_failed) += 1;
  std::fflush(stdout);
  return passed;
}

bool TapReport::Fail(const std::string& reason) {
  Note(reason);
  return End(false);
}

void TapReport::Skip(const char* name, const char* reason) {
  ++m_number;
  ++m_skipped;
  std::printf("ok %d - %s # SKIP %s\n", m_number, name, reason);
}

void TapReport::Comment(const std::string& text) {
  std::printf("# %s\n", text.c_str());
}

int TapReport::Finish() {
  std::printf("1..%d\n# %d checks: %d passed, %d skipped, %d failed\n", m_number, m_number,
              m_passed, m_skipped, m_failed);
  std::fflush(stdout);
  return m_failed == 0 ? kAllPassed : kCheckFailed;
}

std::string Format(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

std::string Printable(const char* text) {
  std::string shown;
  for (const char* c = text; *c != '\0'; ++c) {
    shown += static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F ? '?' : *c;
  }
  return shown;
}

}  // namespace check_library
