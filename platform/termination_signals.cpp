// Termination signals through a self-pipe: the handler writes one byte, the event loop reads
// it and emits, so nothing but write(2) ever runs inside the handler.
#include "platform/termination_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>
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

// The deadline's pipe as the handler reaches it; -1 while no deadline is armed.
std::atomic<int> handlerDeadlineEnd{-1};
constexpr char kDeadlineStart = 'T';

// The deadline's thread: waits for the fromSignal-th termination signal, then for delay, and
// ends the process, unless destruction closes the pipe's write end first (the read then sees
// its end).
void RunDeadline(int readEnd, std::chrono::seconds delay, void (*endProcess)(), int fallbackStatus,
                 int fromSignal) {
  char byte = 0;
  for (int received = 0; received < fromSignal;) {
    const ssize_t count = ::read(readEnd, &byte, 1);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    if (byte == kDeadlineStart) ++received;
  }
  const auto end = std::chrono::steady_clock::now() + delay;
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait{readEnd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready <= 0) continue;  // the time, or an interruption: look at the clock again
    char bytes[64];
    const ssize_t count = ::read(readEnd, bytes, sizeof bytes);
    if (count == 0) return;
    // Further signals change nothing: the deadline counts from the first.
  }
  if (endProcess != nullptr) endProcess();
  ::_exit(fallbackStatus);
}

void OnTerminationSignal(int signalNumber) {
  handlersRunning.fetch_add(1);
  const int savedErrno = errno;
  const int deadlineEnd = handlerDeadlineEnd.load();
  if (deadlineEnd >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(deadlineEnd, &kDeadlineStart, 1);
  }
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

void TerminationSignals::EndProcessIfStuck(std::chrono::seconds delay, void (*endProcess)(),
                                           int fallbackStatus, int fromSignal) {
  if (!m_installed || m_deadline.joinable() || delay.count() <= 0) return;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "FWUpdater: no pipe for the end after a termination signal (%s)\n",
                 std::strerror(errno));
    return;
  }
  // The handler must never block on a full pipe; the thread's end blocks while it waits.
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  // The thread never takes a termination signal itself: it is the one that must stay free to
  // end the process, and a handler run on it while it waits for that handler's byte would be
  // delivered late by any runtime that defers handlers to the end of a blocking call. It starts
  // with them blocked (a new thread inherits the creator's mask); the creator's are restored.
  sigset_t terminationSet;
  sigset_t previousMask;
  sigemptyset(&terminationSet);
  for (const int signalNumber : kTerminationSignals) sigaddset(&terminationSet, signalNumber);
  pthread_sigmask(SIG_BLOCK, &terminationSet, &previousMask);
  try {
    m_deadline = std::thread(&RunDeadline, ends[0], delay, endProcess, fallbackStatus,
                             std::max(fromSignal, 1));
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  } catch (const std::exception&) {
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    std::fprintf(stderr, "FWUpdater: no thread for the end after a termination signal\n");
    ::close(ends[0]);
    ::close(ends[1]);
    return;
  }
  m_deadlineReadEnd = ends[0];
  m_deadlineWriteEnd = ends[1];
  handlerDeadlineEnd.store(m_deadlineWriteEnd);
}

void TerminationSignals::Uninstall() {
  if (!m_installed) return;
  for (std::size_t index = 0; index < kTerminationSignals.size(); ++index) {
    if (replaced[index]) ::sigaction(kTerminationSignals[index], &previousActions[index], nullptr);
    replaced[index] = false;
  }
  handlerWriteEnd.store(-1);
  handlerDeadlineEnd.store(-1);
  while (handlersRunning.load() != 0) sched_yield();
  if (m_deadline.joinable()) {
    // No handler can reach the write end any more: closing it ends the thread's wait.
    ::close(m_deadlineWriteEnd);
    m_deadline.join();
    ::close(m_deadlineReadEnd);
    m_deadlineReadEnd = m_deadlineWriteEnd = -1;
  }
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
