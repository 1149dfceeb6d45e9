// A scripted UpdateView for headless tests of the update sequence: it records everything the
// sequence shows, answers message boxes from a script, and keeps the step timer on a virtual
// clock that tests/update/sequence_harness.h drives.
//
// How to use it
// -------------
//   FakeUpdateView view;                       // the constructing thread is the "UI thread"
//   ScopedPhaseSteps steps({.checkConnection = [] { return 1; }});   // optional scripting
//   UpdateController controller(view);
//   ASSERT_TRUE(controller.OnCreate());
//   view.QueueAnswers({IDYES});                // next boxes' answers, in order
//   EXPECT_EQ(RunSequence(controller, view), RunEnd::Closed);
//   EXPECT_EQ(view.LogTexts().back(), "End Application");
//
// Recording (every accessor returns a copy taken under the lock, so it is safe while the
// worker runs):
// - LogLines(): text, scroll flag, virtual time and whether the UI thread added it;
//   LogTexts() just the texts.
// - ProgressRanges(), ProgressPositions() (every SetProgressPosition, in order), and
//   ProgressPosition() (the current value, also what GetProgressPosition answers).
// - CurrentVersionTexts() / TargetVersionTexts(): every text put into control 1007 / 1008.
// - MessageBoxes(): text, caption (nullopt for a null caption, "" for an empty one), type,
//   relabelled or not, the answer given, whether it was dismissed by closing, the thread that
//   asked and the virtual time.
// - Ticks(): every step-timer tick the driver delivered, with its virtual time and the
//   UpdatePhase at the tick (read on the UI thread before the step runs).
// - Journal(): one ordered list of everything, as short strings, for order assertions:
//     "log:<text>"   (a log line; "log-noscroll:<text>" for one added without the scroll)
//     "range:<low>..<high>"   "progress:<position>"   "current:<text>"   "target:<text>"
//     "box:<text>"  "relabelled-box:<text>"   "arm:<ms>"   "stop"   "tick@<ms>:<phase>"
//     "close"   "closing" (BeginClosing)   "ignored:<operation>" (a worker call after
//   closing began). A box is journalled when it opens; its answer is in MessageBoxes().
// - CloseCount(): CloseMainWindow calls.
//
// Message-box answers, in this order of precedence:
// 1. HoldNextMessageBox(): the next box blocks its caller (any thread) until
//    ReleaseHeldBox(answer) or BeginClosing(); WaitForHeldBox() tells the test that the box is
//    open. For "the user sits on a box while the window closes".
// 2. QueueAnswers({...}): answers used one per box, in order.
// 3. SetMessageBoxHandler(fn): fn(record) gives the answer; called without the lock held, so
//    it may call the view (not the held-box functions).
// 4. Otherwise the box's default button: IDOK for MB_OK and MB_OKCANCEL, IDYES for MB_YESNO.
//
// Virtual clock: Now() is virtual milliseconds since construction. ArmStepTimer(ms) sets the
// deadline to Now() + ms, replacing any earlier arming; StopStepTimer() clears it. Nothing
// advances on its own: RunSequence() (sequence_harness.h) moves Now() to the deadline and
// delivers the tick. The timer repeats like the real one: a tick that the step does not stop
// is due again one period later. Arming from the worker thread notifies waiters (the driver).
//
// Closing: BeginClosing() models the view's teardown. From then on, calls from any thread but
// the UI thread return at once as UpdateView promises (a box answers DismissedAnswer(type),
// GetProgressPosition answers 0, everything else does nothing) and are journalled as
// "ignored:<operation>"; a held box is released the same way. Calls from the UI thread are
// still recorded. Call it before UpdateController::Shutdown(), as the real view does.
//
// Threads: every operation is safe from any thread (one mutex). The UI thread is the thread
// that constructed the view; SetUiThread() changes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "update/update_view.h"

struct LogLineRecord {
  std::string text;
  bool scrolled;
  std::uint64_t at;  // virtual ms
  bool fromUiThread;
};

struct MessageBoxRecord {
  std::string text;
  std::optional<std::string> caption;  // nullopt: null caption (the application title)
  unsigned type;
  bool relabelled;
  int answer;
  bool dismissedByClosing;
  std::thread::id thread;
  bool fromUiThread;
  std::uint64_t at;  // virtual ms
};

struct TickRecord {
  std::uint64_t at;     // virtual ms of the tick
  std::uint32_t phase;  // UpdatePhase when the tick was delivered
};

class FakeUpdateView : public UpdateView {
 public:
  FakeUpdateView();
  ~FakeUpdateView() override;

  // UpdateView
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

  // Scripting.
  void QueueAnswers(std::initializer_list<int> answers);
  void SetMessageBoxHandler(std::function<int(const MessageBoxRecord&)> handler);
  void HoldNextMessageBox();
  // True once a held box is open; false after timeout.
  bool WaitForHeldBox(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  void ReleaseHeldBox(int answer);
  void BeginClosing();
  bool Closing() const;
  void SetUiThread(std::thread::id thread);

  // Records.
  std::vector<LogLineRecord> LogLines() const;
  std::vector<std::string> LogTexts() const;
  std::vector<std::pair<int, int>> ProgressRanges() const;
  std::vector<int> ProgressPositions() const;
  int ProgressPosition() const;
  std::vector<std::string> CurrentVersionTexts() const;
  std::vector<std::string> TargetVersionTexts() const;
  std::vector<MessageBoxRecord> MessageBoxes() const;
  std::vector<TickRecord> Ticks() const;
  std::vector<std::string> Journal() const;
  int CloseCount() const;

  // Virtual clock.
  std::uint64_t Now() const;
  std::optional<std::uint64_t> Deadline() const;
  // Advances Now() to the deadline (never backwards) and records a tick; the timer, as a
  // repeating one, is due again one period later unless the step stops or re-arms it. Returns
  // false when no timer is armed. The driver calls it, then UpdateController::OnTimer(0).
  bool AdvanceToDeadline(std::uint32_t phaseAtTick);
  // Waits (real time) until the timer is armed, the main window was asked to close, or stop()
  // becomes true; stop is called without the lock, at least every 5 ms. False on timeout.
  bool WaitForArmOrClose(std::chrono::milliseconds timeout, const std::function<bool()>& stop);

 private:
  bool OnUiThread() const;
  // True (and journalled) when a worker call must return at once. Lock held.
  bool IgnoreLocked(const char* operation);
  int ShowBox(const std::string& text, const char* caption, unsigned type, bool relabelled);

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::thread::id m_uiThread;
  bool m_closing = false;

  std::vector<LogLineRecord> m_logLines;
  std::vector<std::pair<int, int>> m_progressRanges;
  std::vector<int> m_progressPositions;
  int m_progressPosition = 0;
  std::vector<std::string> m_currentVersionTexts;
  std::vector<std::string> m_targetVersionTexts;
  std::vector<MessageBoxRecord> m_messageBoxes;
  std::vector<TickRecord> m_ticks;
  std::vector<std::string> m_journal;
  int m_closeCount = 0;

  std::deque<int> m_answers;
  std::function<int(const MessageBoxRecord&)> m_handler;
  bool m_holdNext = false;
  bool m_boxHeld = false;
  std::optional<int> m_heldAnswer;

  std::uint64_t m_now = 0;
  std::optional<std::uint64_t> m_deadline;
  unsigned m_period = 0;
};
