// The update in a terminal: the second view of the update sequence, without windows. Boxes
// become lines on standard error (and JSON events), the update question is answered by --yes,
// by the user at a terminal or declined, and the run makes one attempt only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "update/terminal/terminal_report.h"
#include "update/update_controller.h"
#include "update/update_view.h"
#include "update/view/ui_thread_relay.h"

class QEventLoop;

struct TerminalOptions {
  bool assumeYes = false;  // --yes: the update question is answered "はい"
  bool json = false;       // --json: JSON Lines on standard output
  // Called once this copy holds the connection guard, before any library call (the --record
  // trace starts there, so a copy sent away never touches the running copy's trace).
  std::function<void()> guardTaken;
};

// Lives on the UI thread, which runs a QCoreApplication's event loop; the worker's calls reach
// it through the relay, as the window's do. Where the window would start the sequence over (the
// restart's re-arm of the step timer), the view ends the run instead: the application's event
// loop is left, and the owner ends the program (BeginClose, then EndProgram).
class TerminalView : public QObject, public UpdateView {
  Q_OBJECT

 public:
  TerminalView(const TerminalOptions& options, TerminalReport& report);
  // BeginClose, unless it has run.
  ~TerminalView() override;

  // The controller creates the UpdateContext, sets phase 0, arms the step timer and starts the
  // worker. False if that failed (the message is out and the run's end asked for).
  bool OnCreate();

  // The run is ending: stops the step timer, makes the worker's calls return at once, ends a
  // question being asked, and waits at most kWorkerStopLimit for the worker. False when it is
  // stuck in a vendor call: the owner must then end the process without destroying the view.
  // Idempotent; UI thread.
  bool BeginClose();

  // A termination signal. While the device is being written, the first only says so on
  // standard error and the second ends the run as closing the window does; otherwise the
  // first ends it. The application's event loop is left. UI thread.
  void OnTerminationRequested();

  // How the run ended, for the end event: "completed", "declined", "closed" or "failed".
  const char* Outcome() const;

  // UpdateView.
  void AddLogLine(const std::string& line, bool scrollToEnd) override;
  void SetProgressRange(int low, int high) override;
  int GetProgressPosition() override;
  void SetProgressPosition(int position) override;
  void SetCurrentVersionText(const std::string& text) override;
  void SetTargetVersionText(const std::string& text) override;
  int ShowMessageBox(const std::string& text, const char* caption, unsigned type) override;
  int ShowRelabelledMessageBox(const std::string& text, const char* caption,
                               unsigned type) override;
  void ArmStepTimer(unsigned milliseconds) override;
  void StopStepTimer() override;
  void CloseMainWindow() override;

 private:
  int RelayMessageBox(const std::string& text, unsigned type, bool relabel);
  int AnswerOnUiThread(const std::string& text, unsigned type, bool relabel);
  // The update question: --yes, the user's answer at a terminal, or No.
  int AskYesNo(const QString& question);
  // Reads one line from standard input while the event loop runs, so that a termination
  // signal still ends the wait. Empty on end of input or when the run ends meanwhile.
  std::string ReadAnswerLine();
  // What the sequence's phase tells as the step timer is armed: the file once loaded, the
  // start of the writes. UI thread.
  void NotePhase(std::uint32_t phase);
  void ReportProgress(int position);
  // Leaves the application's event loop (queued: never inside the step that asks).
  void EndRun();

  const TerminalOptions m_options;
  TerminalReport& m_report;
  QTimer m_stepTimer;
  std::string m_targetVersion;   // UI thread
  bool m_fileReported = false;   // UI thread
  bool m_writesStarted = false;  // UI thread
  std::uint64_t m_imageBytes = 0;
  int m_lastPercent = -1;  // UI thread: the last progress reported, never decreasing
  bool m_closing = false;  // UI thread
  bool m_workerStopped = false;
  bool m_declined = false;         // UI thread: the question was answered No
  bool m_endedByRequest = false;   // UI thread: a termination signal ended the run
  int m_requestsWhileWriting = 0;  // UI thread
  QPointer<QEventLoop> m_questionLoop;
  std::atomic<int> m_progressPosition{0};
  std::atomic<int> m_progressMinimum{0};
  std::atomic<int> m_progressMaximum{kProgressMaximum};

  // What the worker reaches; destroyed first, after BeginClose has joined the worker.
  UiThreadRelay m_relay;
  UpdateController m_controller;
};
