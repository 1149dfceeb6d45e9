// The controller of the update: runs one phase per tick of the view's step timer, turns each
// phase result into the next move, and owns the UsbWorkerThread that writes the blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class UpdateView;
class UsbWorkerThread;

inline constexpr unsigned STEP_TIMER_ID = 0;

// Adds a line at the end of the operation log and scrolls it into view.
void AppendLogLine(const std::string& line);

// Runs the step of the current UpdatePhase and returns its phase result.
int RunPhase();

class UpdateController {
 public:
  // Becomes the current controller, through which the worker re-arms the step timer.
  explicit UpdateController(UpdateView& view);
  // Shuts the worker down (see Shutdown) and stops being the current controller.
  ~UpdateController();

  UpdateController(const UpdateController&) = delete;
  UpdateController& operator=(const UpdateController&) = delete;

  // The view's window was created: creates the UpdateContext with a new device agent, sets
  // phase 0, arms the step timer at 100 ms and starts the UsbWorkerThread, returning once the
  // worker owns its message queue. If the worker cannot be created, shows a message, ends the
  // application (phase 6, main window closed) and returns false.
  bool OnCreate();

  // A tick of a view timer; only STEP_TIMER_ID runs a step.
  void OnTimer(unsigned timerId);
  // One step: stop the timer, run the phase, act on its result.
  void OnUpdateStep();
  // The move that follows a phase result; the worker uses it after a block-write step.
  void ApplyResult(int result);

  // The view is closing: the worker ends its current step early, leaves its loop and its
  // thread is joined. Idempotent; called from the UI thread.
  void Shutdown();

  UpdateView& view() { return m_view; }
  std::uint32_t m_workerThreadId = 0;

  // The controller of the live view, or null.
  static UpdateController* current;

 private:
  UpdateView& m_view;
  std::unique_ptr<UsbWorkerThread> m_worker;
};
