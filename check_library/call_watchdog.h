// The conformance check's limit on a library call: a thread of its own watches the call under
// way and ends the process when it does not return in time, as the updater's deadline does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace check_library {

// Made and used on the checking thread. No signal and no process-wide alarm is involved, so a
// library's own alarm() and SIGALRM handler work as they do in the updater; the watchdog's
// thread blocks every signal, so a signal the library sends to the process reaches the
// checking thread.
//
// Between Arm and Disarm the calls may take at most limit. When that has passed, the watchdog's
// thread writes the text given to Arm to standard output, unbuffered, and ends the process
// with exitStatus, whatever the checking thread is stuck in; a Disarm that comes at that very
// moment waits, and the process ends all the same. Nothing the checking thread printed may
// wait in a stdio buffer while armed.
class CallWatchdog {
 public:
  CallWatchdog(std::chrono::seconds limit, int exitStatus);
  ~CallWatchdog();

  CallWatchdog(const CallWatchdog&) = delete;
  CallWatchdog& operator=(const CallWatchdog&) = delete;

  std::chrono::seconds limit() const { return m_limit; }

  // Starts the limit for the calls that follow; expiryText is what the end prints.
  void Arm(std::string expiryText);
  // The calls returned.
  void Disarm();

 private:
  void Watch();

  const std::chrono::seconds m_limit;
  const int m_exitStatus;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_armed = false;
  bool m_stopping = false;
  std::chrono::steady_clock::time_point m_deadline;
  std::string m_expiryText;
  std::thread m_thread;
};

}  // namespace check_library
