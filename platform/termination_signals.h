// Requests to end the program from outside (a desktop session ending, Ctrl+C in a terminal,
// kill): SIGTERM, SIGINT and SIGHUP become a Qt signal on the UI thread's event loop.
#pragma once

#include <QObject>
#include <array>
#include <chrono>
#include <csignal>
#include <thread>

class QSocketNotifier;

namespace platform {

// The signals taken over: SIGTERM, SIGINT, SIGHUP.
inline constexpr std::array<int, 3> kTerminationSignals = {SIGTERM, SIGINT, SIGHUP};

// Created on the UI thread, which must run an event loop for terminationRequested to arrive;
// at most one instance per process at a time (a second one installs nothing).
//
// The operating system's handler only writes the signal number to a pipe, which is all it
// may safely do; a socket notifier reads it on the creating thread's event loop and emits
// terminationRequested there, once per signal received. A signal may reach any thread of the
// process; it is handled the same way. While the object lives, these signals never end the
// process by themselves: what to do is the receiver's choice, and further signals while it
// acts only emit again. A signal that was ignored when the object was made (a program started
// under nohup, or in the background of a script) stays ignored. Destruction restores the
// dispositions that were in place before.
class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // False when the handlers could not be installed (no pipe, no notifier, or another
  // instance holds them): the signals then keep their previous effect.
  bool installed() const { return m_installed; }

  // From the first termination signal on, the process ends after delay, whatever the receiver
  // of terminationRequested does or fails to do: a UI thread stuck in a call that never
  // returns cannot even read the request. The countdown runs on a thread of this object's own
  // that the handler wakes through a pipe; no process-wide alarm is involved, so a library's
  // own alarm() can neither fire nor cancel it. When the delay has passed, that thread calls
  // endProcess, which must end the process and may find any other thread holding any lock
  // (only async-signal-safe calls); should it return, or be null, the process ends with
  // fallbackStatus (the program's status for an end without an update). With fromSignal above 1 the
  // delay counts from that termination signal instead (a receiver that only warns at the first, as
  // the terminal does mid-write). Call at most once, while installed; destruction disarms it.
  void EndProcessIfStuck(std::chrono::seconds delay, void (*endProcess)(), int fallbackStatus,
                         int fromSignal = 1);

 signals:
  // A termination signal arrived; signalNumber is SIGTERM, SIGINT or SIGHUP.
  void terminationRequested(int signalNumber);

 private:
  void ReadPending();
  void Uninstall();

  bool m_installed = false;
  int m_readEnd = -1;
  int m_writeEnd = -1;
  // The deadline's thread and its pipe: the handler writes to it, destruction closes it.
  std::thread m_deadline;
  int m_deadlineReadEnd = -1;
  int m_deadlineWriteEnd = -1;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace platform
