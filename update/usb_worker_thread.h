// The UsbWorkerThread: a thread with a message queue and no windows that runs the block-write
// steps of phase 4, one per WM_WRITE_BLOCKS request, and makes the move after each.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/event.h"
#include "platform/thread_message_queue.h"

// Owned by the UpdateController and driven from the UI thread (Start, PostWriteBlocks, Stop);
// the thread itself runs only the block-write step and the move that follows it, both given
// to Start. The step and the move are skipped once UpdateClosing() is true.
class UsbWorkerThread {
 public:
  using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

  // step: one block-write run (WriteFirmwareBlocks), returning a phase result.
  // move: what follows a run's result (UpdateController::ApplyResult on the current one).
  UsbWorkerThread(std::function<int()> step, std::function<void(int)> move);
  // Stops and joins the thread if it still runs.
  ~UsbWorkerThread();

  UsbWorkerThread(const UsbWorkerThread&) = delete;
  UsbWorkerThread& operator=(const UsbWorkerThread&) = delete;

  // Creates the thread through starter and returns once it owns its message queue (the
  // "CUE_WAIT" handshake). False when the thread could not be created (the starter threw or
  // gave no joinable thread) or could not make its queue; nothing is left running then.
  bool Start(const ThreadStarter& starter);

  // The worker's thread identifier; 0 until Start has succeeded.
  platform::ThreadId threadId() const { return m_threadId; }

  // Posts one block-write request. False when the worker cannot be reached.
  bool PostWriteBlocks();
  // True from PostWriteBlocks until the worker has finished with that request.
  bool BlockWriteInFlight() const { return m_inFlight.load(std::memory_order_acquire) > 0; }

  // Posts WM_QUIT and joins the thread. The caller sets UpdateClosing() first when the run
  // under way must end early. Idempotent.
  void Stop();

  // The name of the start-up handshake event.
  static constexpr const char* kHandshakeName = "CUE_WAIT";

 private:
  void Run();

  std::function<int()> m_step;
  std::function<void(int)> m_move;
  platform::Event m_handshake{kHandshakeName};
  std::thread m_thread;
  platform::ThreadId m_threadId = 0;  // written by the worker before the handshake
  bool m_queueReady = false;          // likewise
  std::atomic<int> m_inFlight{0};
};
