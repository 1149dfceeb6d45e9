// Carries the view's operations from the UsbWorkerThread to the UI thread: a call runs there
// while the worker waits for it, a post is queued; once the view closes, both return at once.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Owned by the view and created on the UI thread; it must outlive every caller on another
// thread (the view joins the worker before it destroys the relay).
//
// Everything the two threads hand over passes through one mutex, the work included: the UI
// thread learns of new work from a queued meta-call that carries no data, so each access is
// ordered by that lock rather than by the event queue's internals. The shared state also
// outlives the relay, so work that is still running when the relay goes away (a box whose
// nested event loop saw the view deleted) finishes without touching freed memory.
//
// Threads: Call and Post from any thread (on the UI thread they run the work at once);
// Close from the UI thread.
class UiThreadRelay : public QObject {
  Q_OBJECT

 public:
  UiThreadRelay();
  ~UiThreadRelay() override;

  // True on the thread that created the relay.
  bool OnUiThread() const { return std::this_thread::get_id() == m_uiThread; }

  // Runs work on the UI thread and returns its result. From another thread the caller waits
  // until the work has run; if the relay is closed first (or already was), the caller gets
  // fallback at once, and work that has not started never runs.
  template <class Result>
  Result Call(std::function<Result()> work, Result fallback);
  void Call(std::function<void()> work);

  // Queues work to the UI thread without waiting (on the UI thread: runs it at once). Dropped
  // once the relay is closed. Calls and posts from one thread run in the order made.
  void Post(std::function<void()> work);

  // From now on no queued work runs, waiting callers return their fallback and new requests
  // return at once. Work already running on the UI thread runs to its end. Idempotent.
  void Close();
  bool closed() const;

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    std::deque<std::function<void()>> pending;
  };

  // Queues work and wakes the UI thread; false once closed.
  bool Enqueue(std::function<void()> work);
  // Waits until done() holds or the relay is closed; done is checked under the lock.
  void Wait(const std::function<bool()>& done);

  Q_INVOKABLE void RunPending();

  const std::thread::id m_uiThread;
  const std::shared_ptr<State> m_state;
};

template <class Result>
Result UiThreadRelay::Call(std::function<Result()> work, Result fallback) {
  if (OnUiThread()) return work();
  struct Answer {
    bool finished = false;
    Result value{};
  };
  auto answer = std::make_shared<Answer>();
  const bool queued = Enqueue([state = m_state, answer, work = std::move(work)] {
    Result value = work();
    std::lock_guard lock(state->mutex);
    answer->value = std::move(value);
    answer->finished = true;
    state->changed.notify_all();
  });
  if (!queued) return fallback;
  Wait([&answer] { return answer->finished; });
  std::lock_guard lock(m_state->mutex);
  return answer->finished ? answer->value : fallback;
}
