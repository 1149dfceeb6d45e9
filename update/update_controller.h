// The controller of the update: runs one phase per tick of the view's step timer, turns each
// phase result into the next move, and owns the UsbWorkerThread that writes the blocks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>

#include "update/message_text.h"

class UpdateView;
class UsbWorkerThread;
class C_GPUSBHIDStdAgentEx;
struct UpdateContextRecord;

inline constexpr unsigned STEP_TIMER_ID = 0;

// How long a closing view waits for the worker to leave its step. A step ends within one
// block transfer once the view closes; a worker still busy after this is stuck in a vendor
// call that may never return.
inline constexpr std::chrono::milliseconds kWorkerStopLimit{3000};

// Step timer intervals of the sequence, in milliseconds.
inline constexpr unsigned kFirstStepDelayMs = 100;
inline constexpr unsigned kNextStepDelayMs = 1;
inline constexpr unsigned kPollIntervalMs = 1000;
inline constexpr unsigned kRestartDelayMs = 1000;

// The controller's own log lines and messages.
inline constexpr const char* kConnectingLogLine = "USB Connecting...";
inline constexpr const char* kEndApplicationLogLine = "End Application";
inline constexpr const char* kWorkerThreadFailedMessage =
    QT_TRANSLATE_NOOP("Messages", "作業用スレッドを作成できませんでした。\nアプリを終了します。");
inline constexpr const char* kWorkerThreadLostMessage =
    QT_TRANSLATE_NOOP("Messages", "作業用スレッドと通信できませんでした。\nアプリを終了します。");
inline constexpr const char* kOutOfMemoryMessage =
    QT_TRANSLATE_NOOP("Messages", "メモリを確保できませんでした。\nアプリを終了します。");

// Adds a line at the end of the operation log (UpdateContext's view) and scrolls it into view.
void AppendLogLine(const std::string& line);

// Runs the step of the current UpdatePhase and returns its phase result: 0 load the image,
// 1 select the device, 2 poll the connection (an answer 1 re-arms the step timer at 1000 ms
// here), 3 device information and confirmation, 4 post a block-write request to the worker
// (1), 5 whole-image checksum, 6 nothing (1, so that nothing happens). UI thread only.
int RunPhase();

// The operations RunPhase and the worker call. An empty member means the real operation
// (LoadFirmwareImage, SelectDevice, CheckConnection, QueryDeviceInfo, WriteFirmwareBlocks,
// ConfirmImageChecksum). Tests script phase results with it; set it only while no worker run
// is under way (before OnCreate, or while the sequence is idle).
struct PhaseSteps {
  std::function<int()> loadFirmwareImage;
  std::function<int()> selectDevice;
  std::function<int()> checkConnection;
  std::function<int()> queryDeviceInfo;
  std::function<int()> writeFirmwareBlocks;
  std::function<int()> confirmImageChecksum;
};
void SetPhaseStepsForTesting(const PhaseSteps& steps);
void ResetPhaseStepsForTesting();

// Who does what, and on which thread:
// - The view's owner constructs the controller, calls OnCreate when its window exists and
//   OnTimer for every timer tick, all on the UI thread.
// - The UsbWorkerThread runs the block-write steps and then, unless the view is closing, makes
//   the move of ApplyResult itself, through UpdateController::current.
// - The view's teardown first makes its worker-side calls return at once (see UpdateView),
//   then calls Shutdown (or destroys the controller), which joins the worker.
class UpdateController {
 public:
  // Becomes the current controller, through which the worker re-arms the step timer.
  explicit UpdateController(UpdateView& view);
  // Shuts the worker down (see Shutdown), releases the UpdateContext and its device agent it
  // created, and stops being the current controller.
  ~UpdateController();

  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  // The view's window was created: creates the UpdateContext with a new device agent, sets
  // phase 0, arms the step timer at 100 ms and starts the UsbWorkerThread, whose request
  // queue is ready from then on. If the worker cannot be created, shows a message, ends the
  // application (phase 6, main window closed) and returns false.
  bool OnCreate();

  // A tick of a view timer; only STEP_TIMER_ID runs a step, and none once the application
  // has ended, while the view is closing, or while a block-write run is in flight.
  void OnTimer(unsigned timerId);
  // One step: stop the timer, run the phase, act on its result (a result 1 does nothing).
  void OnUpdateStep();
  // The move that follows a result: 0 next phase after 1 ms ("USB Connecting..." on entering
  // phase 2); 1 the same phase again after 1 ms (the worker's yield); -1 empty log line and
  // phase 0 after 1000 ms; anything else the end ("End Application", main window closed).
  // The re-arm is the last act of every move. Nothing happens once the end has been made.
  void ApplyResult(int result);

  // The view is closing: the worker ends its current step early, leaves its loop and its
  // thread is joined; no further step runs. Idempotent; called from the UI thread.
  void Shutdown();
  // Shutdown that waits at most limit for the worker. False when the worker is still inside
  // its step (stuck in a vendor call): no further step runs, but the thread is left running
  // over the shared state, and the controller's destruction would wait for it.
  bool ShutdownWithin(std::chrono::milliseconds limit);

  // True while the sequence is writing the device: phase 4 (block writes) or 5 (checksum
  // confirmation), until the end. Any thread.
  bool UpdateBeingWritten() const;
  // True once the end outcome has been made (phase 6, main window asked to close). Any thread.
  bool Ended() const { return m_ended.load(); }

  // True from the post of a block-write request until the worker has made its move (or
  // dropped it). Tests use it to tell a busy worker from an idle sequence.
  bool BlockWriteInFlight() const;

  // Replaces how the worker's thread is created (the default starts a std::jthread running
  // body). A starter that throws, or returns a thread that is not joinable, makes OnCreate
  // fail. Null restores the default. For tests.
  using ThreadStarter = std::function<std::jthread(std::function<void(std::stop_token)> body)>;
  static void SetThreadStarterForTesting(ThreadStarter starter);

  UpdateView& view() { return m_view; }
  // The worker's thread; a default identifier while there is none.
  std::thread::id m_workerThreadId;

  // The controller of the live view, or null.
  static UpdateController* current;

 private:
  friend int RunPhase();
  // Phase 4: hands one block-write run to the worker; 1, or 2 when it cannot be reached.
  int PostBlockWrite();
  // The end outcome: stop the timer, phase 6, "End Application", close the main window.
  void EndApplication();
  // Sets UpdatePhase and the copy that other threads may read.
  void SetPhase(std::uint32_t phase);

  UpdateView& m_view;
  std::unique_ptr<UsbWorkerThread> m_worker;
  std::unique_ptr<C_GPUSBHIDStdAgentEx> m_deviceAgent;
  std::unique_ptr<UpdateContextRecord> m_context;
  // Set by the end outcome on whichever thread makes it; read by the next tick.
  std::atomic<bool> m_ended{false};
  // UpdatePhase as last set through the controller, for readers outside the step hand-overs.
  std::atomic<std::uint32_t> m_phase{0};
  bool m_shutDown = false;  // UI thread only
};
