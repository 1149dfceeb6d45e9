// The form view of the tool's window: the two version fields, the progress bar and the
// operation log of form 101, the window side of the update sequence and owner of its controller.
#pragma once

#include <QPointer>
#include <QSize>
#include <QWidget>
#include <atomic>
#include <string>

#include "update/update_controller.h"
#include "update/update_view.h"
#include "update/view/form_template.h"
#include "update/view/ui_thread_relay.h"

class QContextMenuEvent;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMessageBox;
class QProgressBar;
class QResizeEvent;
class QTimer;

// Owned by the application's main window (its central widget) or by a test. Lives on the
// UI thread; the UpdateView operations may also come from the UsbWorkerThread, as that
// interface describes: they then run on the UI thread through the relay while the worker
// waits, except the step timer and the close request, which are queued.
//
// Teardown: BeginClose (from the main window's close, or the destructor) first closes the
// relay, so the worker's pending and later calls return at once and an open box is
// dismissed, and only then waits for the worker through the controller, for at most
// kWorkerStopLimit. A worker still inside a vendor call after that is left running; the
// owner must then end the process without destroying the view (the destructor would wait for
// the worker without a limit).
class CFWUpdaterView : public QWidget, public UpdateView {
  Q_OBJECT

 public:
  // Builds form 101; starts nothing.
  explicit CFWUpdaterView(QWidget* parent = nullptr);
  // BeginClose, unless it has run.
  ~CFWUpdaterView() override;

  // Window creation: the controller creates the UpdateContext, sets phase 0, arms the step
  // timer at 100 ms and starts the worker. False if the worker could not be started (the
  // controller has then told the user and asked the main window to close).
  bool OnCreate();

  // First display, and again for every new or opened document: the parent window lays out
  // and shrinks to fit the form; it never grows. The sequence is not touched.
  void OnInitialUpdate();

  // Popup menu 119 "編集", shown at the click's screen point on a right click and on the
  // context-menu key. Not owned; null removes it.
  void SetContextMenu(QMenu* menu);

  // The window is closing: stops the step timer, makes every worker call return at once,
  // dismisses an open box, then waits at most kWorkerStopLimit for the worker to end. True
  // when it has ended; false when it is stuck in a vendor call (see Teardown above).
  // Idempotent (a later call answers as the first did); UI thread only.
  bool BeginClose();

  // True while the sequence is writing the device (phases 4 and 5), when closing could
  // leave it half-written. UI thread.
  bool UpdateBeingWritten() const { return m_controller.UpdateBeingWritten(); }
  // True once the sequence has made its end (and asked the main window to close). UI thread.
  bool SequenceEnded() const { return m_controller.Ended(); }

  // The form's size in pixels: 263 x 180 dialog units of the form font.
  QSize formSize() const;
  QSize sizeHint() const override { return formSize(); }

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

 protected:
  // A tick of the step timer (STEP_TIMER_ID) on the UI thread; runs the controller's step.
  // Tests override it to watch the timer without running the sequence.
  virtual void OnStepTimerTick();

  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Only when the view is a window of its own (tests, tools): closing it closes the view.
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildForm();
  void PlaceControls();
  void PlaceLabel(QLabel* label, const DialogRect& rect);
  // Carries a box request to the UI thread (or runs it there), with the dismissed answer as
  // the fallback once the view is closing.
  int RelayMessageBox(const std::string& text, const char* caption, unsigned type, bool relabel);
  int ShowBoxOnUiThread(const std::string& text, const char* caption, unsigned type, bool relabel);
  // Copies the bar's range and position into the worker's view of them; UI thread.
  void NoteProgress();
  // Brings the bar to the position the worker set last, if it is not shown yet; UI thread.
  void ShowPendingProgress();

  const QFont m_formFont;
  const DialogUnits m_units;
  QProgressBar* m_progress = nullptr;  // 1001
  QLabel* m_currentVersionLabel = nullptr;
  QLabel* m_targetVersionLabel = nullptr;
  QLineEdit* m_currentVersionEdit = nullptr;  // 1007
  QLineEdit* m_targetVersionEdit = nullptr;   // 1008
  QListWidget* m_operationLog = nullptr;      // 1009
  QTimer* m_stepTimer = nullptr;
  // Shows the worker's latest position a moment after it set one (see SetProgressPosition).
  QTimer* m_progressUpdateTimer = nullptr;
  static constexpr int kProgressUpdateDelayMs = 20;
  QPointer<QMenu> m_contextMenu;
  // The box the view is showing, so that closing can dismiss it.
  QPointer<QMessageBox> m_openBox;
  bool m_closing = false;        // UI thread only
  bool m_workerStopped = false;  // UI thread only: what BeginClose found
  // The bar's position and range as last set, so that the worker's progress read needs no
  // round trip to the UI thread and its progress write need not wait for the repaint. Only
  // the sequence changes the bar, one thread at a time (the step hand-overs order them), so
  // these always hold what the bar shows or is about to show.
  std::atomic<int> m_progressPosition{0};
  std::atomic<int> m_progressMinimum{0};
  std::atomic<int> m_progressMaximum{0};
  // The worker has set a position that the bar does not show yet.
  std::atomic<bool> m_progressUpdatePending{false};

  // What the worker reaches. Destroyed first (members go in reverse order), and only
  // after BeginClose has joined the worker.
  UiThreadRelay m_relay;
  UpdateController m_controller;
};
