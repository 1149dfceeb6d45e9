// The watchdog's thread: sleeps until a limit is armed, then until it passes or is disarmed.
#include "check_library/call_watchdog.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace check_library {

CallWatchdog::CallWatchdog(std::chrono::seconds limit, int exitStatus)
    : m_limit(limit), m_exitStatus(exitStatus) {
  // A new thread takes its creator's signal mask: every signal is blocked while it is made,
  // and the creator's own mask is put back at once.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  m_thread = std::thread(&CallWatchdog::Watch, this);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

CallWatchdog::~CallWatchdog() {
  {
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_one();
  m_thread.join();
}

void CallWatchdog::Arm(std::string expiryText) {
  {
    const std::lock_guard lock(m_mutex);
    m_expiryText = std::move(expiryText);
    m_deadline = std::chrono::steady_clock::now() + m_limit;
    m_armed = true;
  }
  m_changed.notify_one();
}

void CallWatchdog::Disarm() {
  const std::lock_guard lock(m_mutex);
  m_armed = false;
}

void CallWatchdog::Watch() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (m_stopping) return;
    if (!m_armed) {
      m_changed.wait(lock);
      continue;
    }
    if (std::chrono::steady_clock::now() < m_deadline) {
      // Woken early by a new Arm or a Disarm, or at the deadline: look again either way.
      m_changed.wait_until(lock, m_deadline);
      continue;
    }
    // Still holding the lock: the checking thread cannot disarm or print past this point.
    const char* text = m_expiryText.data();
    std::size_t left = m_expiryText.size();
    while (left > 0) {
      const ssize_t written = ::write(STDOUT_FILENO, text, left);
      if (written <= 0) break;
      text += written;
      left -= static_cast<std::size_t>(written);
    }
    ::_exit(m_exitStatus);
  }
}

}  // namespace check_library
