// The UsbWorkerThread's loop: wait for a request or the stop request, run one block-write step
// per request, and make the move after it.
#include "update/usb_worker_thread.h"

#include <exception>

#include "update/update_state.h"

UsbWorkerThread::UsbWorkerThread(std::function<int()> step, std::function<void(int)> move)
    : m_step(std::move(step)), m_move(std::move(move)) {}

UsbWorkerThread::~UsbWorkerThread() {
  Stop();
}

bool UsbWorkerThread::Start(const ThreadStarter& starter) {
  if (m_thread.joinable()) return true;
  {
    std::lock_guard lock(m_mutex);
    m_pendingRequests = 0;
    m_finished = false;
    m_accepting = true;
  }
  try {
    m_thread = starter([this](std::stop_token stop) { Run(std::move(stop)); });
  } catch (const std::exception&) {
    // std::system_error when the system has no thread for us.
  }
  if (!m_thread.joinable()) {
    std::lock_guard lock(m_mutex);
    m_accepting = false;
    return false;
  }
  m_threadId = m_thread.get_id();
  return true;
}

bool UsbWorkerThread::PostWriteBlocks() {
  std::lock_guard lock(m_mutex);
  if (!m_accepting) return false;
  ++m_pendingRequests;
  m_inFlight.fetch_add(1, std::memory_order_acq_rel);
  m_changed.notify_one();
  return true;
}

bool UsbWorkerThread::StopWithin(std::chrono::milliseconds limit) {
  if (!m_thread.joinable()) return true;
  {
    std::lock_guard lock(m_mutex);
    m_accepting = false;
  }
  // Wakes the loop's wait through the stop token's callback.
  m_thread.request_stop();
  {
    std::unique_lock lock(m_mutex);
    const auto finished = [this] { return m_finished; };
    if (limit == std::chrono::milliseconds::max()) {
      m_changed.wait(lock, finished);
    } else if (!m_changed.wait_for(lock, limit, finished)) {
      return false;
    }
  }
  m_thread.join();
  m_inFlight.store(0, std::memory_order_release);
  return true;
}

void UsbWorkerThread::Stop() {
  StopWithin(std::chrono::milliseconds::max());
}

void UsbWorkerThread::Run(std::stop_token stop) {
  std::unique_lock lock(m_mutex);
  while (m_changed.wait(lock, stop, [this] { return m_pendingRequests > 0; })) {
    --m_pendingRequests;
    lock.unlock();
    // A closing view gets neither a new run nor the move after one: the move would re-arm the
    // timer or close a window that is going away.
    if (!UpdateClosing() && !stop.stop_requested()) {
      const int result = m_step();
      if (!UpdateClosing() && !stop.stop_requested()) m_move(result);
    }
    m_inFlight.fetch_sub(1, std::memory_order_acq_rel);
    lock.lock();
  }
  // Requests still queued are dropped with the loop.
  m_inFlight.fetch_sub(static_cast<int>(m_pendingRequests), std::memory_order_acq_rel);
  m_pendingRequests = 0;
  m_finished = true;
  m_changed.notify_all();
}
