// The hand-over of view operations from the UsbWorkerThread to the UI thread.
#include "update/view/ui_thread_relay.h"

#include <QMetaObject>

UiThreadRelay::UiThreadRelay()
    : m_uiThread(std::this_thread::get_id()), m_state(std::make_shared<State>()) {}

UiThreadRelay::~UiThreadRelay() {
  Close();
}

void UiThreadRelay::Call(std::function<void()> work) {
  if (OnUiThread()) {
    work();
    return;
  }
  auto finished = std::make_shared<bool>(false);
  const bool queued = Enqueue([state = m_state, finished, work = std::move(work)] {
    work();
    std::lock_guard lock(state->mutex);
    *finished = true;
    state->changed.notify_all();
  });
  if (queued) Wait([&finished] { return *finished; });
}

void UiThreadRelay::Post(std::function<void()> work) {
  if (OnUiThread()) {
    if (!closed()) work();
    return;
  }
  Enqueue(std::move(work));
}

void UiThreadRelay::Close() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard lock(m_state->mutex);
  m_state->closed = true;
  dropped.swap(m_state->pending);
  m_state->changed.notify_all();
  // The lock is released before the dropped work (and what it captured) is destroyed.
}

bool UiThreadRelay::closed() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->closed;
}

bool UiThreadRelay::Enqueue(std::function<void()> work) {
  {
    std::lock_guard lock(m_state->mutex);
    if (m_state->closed) return false;
    m_state->pending.push_back(std::move(work));
  }
  // A wake-up without data, bound to this object: Qt drops it if the relay is gone by then.
  QMetaObject::invokeMethod(this, "RunPending", Qt::QueuedConnection);
  return true;
}

void UiThreadRelay::Wait(const std::function<bool()>& done) {
  std::unique_lock lock(m_state->mutex);
  m_state->changed.wait(lock, [this, &done] { return m_state->closed || done(); });
}

void UiThreadRelay::RunPending() {
  // A copy: the work may end in a nested event loop during which the relay is destroyed.
  const std::shared_ptr<State> state = m_state;
  // Only the work queued so far: whatever comes while it runs has its own wake-up behind it,
  // so a worker that keeps queueing cannot keep the UI thread inside this call for ever.
  std::size_t budget = 0;
  {
    std::lock_guard lock(state->mutex);
    budget = state->pending.size();
  }
  for (; budget > 0; --budget) {
    std::function<void()> work;
    {
      std::lock_guard lock(state->mutex);
      if (state->closed || state->pending.empty()) return;
      work = std::move(state->pending.front());
      state->pending.pop_front();
    }
    // Runs without the lock: a message box spins a nested event loop here.
    work();
  }
}
