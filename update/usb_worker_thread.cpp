// The UsbWorkerThread's loop: own a queue, signal the handshake, then run one block-write step
// per WM_WRITE_BLOCKS until WM_QUIT.
#include "update/usb_worker_thread.h"

#include <exception>

#include "update/update_controller.h"
#include "update/update_state.h"

UsbWorkerThread::UsbWorkerThread(std::function<int()> step, std::function<void(int)> move)
    : m_step(std::move(step)), m_move(std::move(move)) {}

UsbWorkerThread::~UsbWorkerThread() {
  Stop();
}

bool UsbWorkerThread::Start(const ThreadStarter& starter) {
  if (m_thread.joinable()) return m_queueReady;
  try {
    m_thread = starter([this] { Run(); });
  } catch (const std::exception&) {
    return false;  // std::system_error when the system has no thread for us
  }
  if (!m_thread.joinable()) return false;
  m_handshake.Wait();
  if (!m_queueReady) {
    m_thread.join();
    return false;
  }
  return true;
}

bool UsbWorkerThread::PostWriteBlocks() {
  if (m_threadId == 0) return false;
  m_inFlight.fetch_add(1, std::memory_order_acq_rel);
  if (!platform::PostThreadMessage(m_threadId, WM_WRITE_BLOCKS, 0, 0)) {
    m_inFlight.fetch_sub(1, std::memory_order_acq_rel);
    return false;
  }
  return true;
}

void UsbWorkerThread::Stop() {
  if (!m_thread.joinable()) return;
  if (!platform::PostThreadMessage(m_threadId, platform::WM_QUIT, 0, 0)) {
    // Only a worker that never made its queue cannot be told; it has already left.
  }
  m_thread.join();
  m_inFlight.store(0, std::memory_order_release);
}

void UsbWorkerThread::Run() {
  platform::ThreadMessage message;
  platform::PeekMessage(&message, platform::PM_NOREMOVE);
  m_threadId = platform::GetCurrentThreadId();
  m_queueReady = platform::HasMessageQueue(m_threadId);
  m_handshake.Set();
  if (!m_queueReady) return;

  while (platform::GetMessage(&message) > 0) {
    if (message.message != WM_WRITE_BLOCKS) continue;  // the worker dispatches nothing else
    // A closing view gets neither a new run nor the move after one: the move would re-arm the
    // timer or close a window that is going away.
    if (!UpdateClosing()) {
      const int result = m_step();
      if (!UpdateClosing()) m_move(result);
    }
    m_inFlight.fetch_sub(1, std::memory_order_acq_rel);
  }
}
