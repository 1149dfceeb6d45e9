// The UsbWorkerThread: a thread without windows that runs the block-write steps of phase 4,
// one per request in its own queue, and makes the move after each.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

// Owned by the UpdateController and driven from the UI thread (Start, PostWriteBlocks, Stop);
// the thread itself runs only the block-write step and the move that follows it, both given
// to Start. The step and the move are skipped once UpdateClosing() is true or the thread has
// been asked to stop.
//
// The request queue belongs to this object and exists before the thread does, so a request
// posted right after Start always finds it. The queue's mutex orders everything the UI thread
// hands over with a request (the shared update state) before the step that serves it.
class UsbWorkerThread {
 public:
  // Creates the thread that runs body; body returns when its stop token is asked to stop.
  using ThreadStarter = std::function<std::jthread(std::function<void(std::stop_token)> body)>;

  // step: one block-write run (WriteFirmwareBlocks), returning a phase result.
  // move: what follows a run's result (UpdateController::ApplyResult on the current one).
  UsbWorkerThread(std::function<int()> step, std::function<void(int)> move);
  // Stops and joins the thread if it still runs (without a time limit: see StopWithin).
  ~UsbWorkerThread();

  UsbWorkerThread(const UsbWorkerThread&) = delete;
  UsbWorkerThread& operator=(const UsbWorkerThread&) = delete;

  // Creates the thread through starter. False when the thread could not be created (the
  // starter threw or gave no joinable thread); nothing is left running then.
  bool Start(const ThreadStarter& starter);

  // The worker's thread identifier; a default identifier until Start has succeeded.
  std::thread::id threadId() const { return m_threadId; }

  // Queues one block-write request. False when the worker is not running (never started, or
  // stopped).
  bool PostWriteBlocks();
  // True from PostWriteBlocks until the worker has finished with that request.
  bool BlockWriteInFlight() const { return m_inFlight.load(std::memory_order_acquire) > 0; }

  // Asks the thread to stop (requests still queued are dropped) and waits at most limit for it
  // to leave its loop. True when it has left and been joined; false when it is still inside a
  // step (a vendor call that does not return): the thread is then left running, asked to stop,
  // and a later Stop or the destructor joins it. The caller sets UpdateClosing() first when the
  // run under way must end early. Idempotent once it has answered true.
  bool StopWithin(std::chrono::milliseconds limit);
  // StopWithin without a time limit.
  void Stop();

 private:
  void Run(std::stop_token stop);

  std::function<int()> m_step;
  std::function<void(int)> m_move;

  std::mutex m_mutex;
  std::condition_variable_any m_changed;
  std::size_t m_pendingRequests = 0;  // guarded by m_mutex
  bool m_accepting = false;           // guarded by m_mutex: between Start and the stop request
  bool m_finished = false;            // guarded by m_mutex: the thread has left its loop
  std::atomic<int> m_inFlight{0};
  std::thread::id m_threadId;  // UI thread only
  std::jthread m_thread;
};
