// Termination signals through a self-pipe: the handler writes one byte, the event loop reads
// it and emits, so nothing but write(2) ever runs inside the handler.
#include "platform/termination_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// What the handler reaches. Only lock-free atomics: anything else is unsafe in a handler.
std::atomic<int> handlerWriteEnd{-1};
// Handlers running at this moment, on any thread; Uninstall waits for them before closing
// the pipe, so a handler never writes to a descriptor that is closed or already reused.
std::atomic<int> handlersRunning{0};
std::atomic<bool> instanceInstalled{false};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction previousActions[kTerminationSignals.size()];
bool replaced[kTerminationSignals.size()] = {};

// The deadline after a termination request: seconds (0: none), and the status to end with.
std::atomic<unsigned> deadlineSeconds{0};
// Asked for the status when the deadline passes: the outcome may have changed since the
// signal (an async-signal-safe, lock-free read).
std::atomic<int (*)()> deadlineStatus{nullptr};
std::atomic<bool> deadlineArmed{false};
struct sigaction previousAlarmAction;

void OnDeadline(int) {
  int (*const status)() = deadlineStatus.load();
  _exit(status != nullptr ? status() : 0);
}

void OnTerminationSignal(int signalNumber) {
  handlersRunning.fetch_add(1);
  const int savedErrno = errno;
  const unsigned seconds = deadlineSeconds.load();
  if (seconds > 0 && !deadlineArmed.exchange(true)) alarm(seconds);
  const int writeEnd = handlerWriteEnd.load();
  if (writeEnd >= 0) {
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: hundreds of requests are waiting to be read already.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
  }
  errno = savedErrno;
  handlersRunning.fetch_sub(1);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  bool expected = false;
  if (!instanceInstalled.compare_exchange_strong(expected, true)) {
    std::fprintf(stderr, "FWUpdater: termination signals are already taken over\n");
    return;
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "FWUpdater: no pipe for termination signals (%s)\n", std::strerror(errno));
    instanceInstalled.store(false);
    return;
  }
  m_readEnd = ends[0];
  m_writeEnd = ends[1];
  m_notifier = new QSocketNotifier(static_cast<qintptr>(m_readEnd), QSocketNotifier::Read, this);
  connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::ReadPending);
  handlerWriteEnd.store(m_writeEnd);
  m_installed = true;

  struct sigaction action {};
  action.sa_handler = &OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls elsewhere in the program carry on as if nothing happened.
  action.sa_flags = SA_RESTART;
  for (std::size_t index = 0; index < kTerminationSignals.size(); ++index) {
    const int signalNumber = kTerminationSignals[index];
    replaced[index] = false;
    if (::sigaction(signalNumber, nullptr, &previousActions[index]) != 0) continue;
    // Whoever started the program asked for it to ignore this one.
    if (previousActions[index].sa_handler == SIG_IGN) continue;
    replaced[index] = ::sigaction(signalNumber, &action, nullptr) == 0;
  }
}

TerminationSignals::~TerminationSignals() {
  Uninstall();
}

void TerminationSignals::EndProcessIfStuck(std::chrono::seconds delay, int (*status)()) {
  if (!m_installed || m_deadlineInstalled || delay.count() <= 0) return;
  struct sigaction action {};
  action.sa_handler = &OnDeadline;
  sigemptyset(&action.sa_mask);
  if (::sigaction(SIGALRM, &action, &previousAlarmAction) != 0) return;
  m_deadlineInstalled = true;
  deadlineStatus.store(status);
  deadlineArmed.store(false);
  deadlineSeconds.store(static_cast<unsigned>(delay.count()));
}

void TerminationSignals::Uninstall() {
  if (!m_installed) return;
  if (m_deadlineInstalled) {
    deadlineSeconds.store(0);
    alarm(0);
    ::sigaction(SIGALRM, &previousAlarmAction, nullptr);
    m_deadlineInstalled = false;
  }
  for (std::size_t index = 0; index < kTerminationSignals.size(); ++index) {
    if (replaced[index]) ::sigaction(kTerminationSignals[index], &previousActions[index], nullptr);
    replaced[index] = false;
  }
  handlerWriteEnd.store(-1);
  while (handlersRunning.load() != 0) sched_yield();
  delete m_notifier;
  m_notifier = nullptr;
  ::close(m_readEnd);
  ::close(m_writeEnd);
  m_readEnd = m_writeEnd = -1;
  m_installed = false;
  instanceInstalled.store(false);
}

void TerminationSignals::ReadPending() {
  std::vector<int> received;
  unsigned char buffer[64];
  for (;;) {
    const ssize_t count = ::read(m_readEnd, buffer, sizeof buffer);
    if (count > 0) {
      received.insert(received.end(), buffer, buffer + count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    break;  // drained (EAGAIN), or the pipe is gone
  }
  // A receiver may end the program's window and with it this object: stop emitting then.
  const QPointer<TerminationSignals> self(this);
  for (const int signalNumber : received) {
    if (!self) return;
    emit terminationRequested(signalNumber);
  }
}

}  // namespace platform
