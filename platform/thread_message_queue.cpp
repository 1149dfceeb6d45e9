// Thread message queues: one queue per thread, made on demand and dropped when the thread
// ends, found by thread identifier through a process-wide table.
#include "platform/thread_message_queue.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>

namespace platform {
namespace {

struct Queue {
  std::mutex mutex;
  std::condition_variable available;
  std::deque<ThreadMessage> messages;
};

struct QueueTable {
  std::mutex mutex;
  std::unordered_map<ThreadId, std::shared_ptr<Queue>> queues;
};

// Never destroyed: threads may end, and unregister, after static destruction has begun.
QueueTable& Table() {
  static QueueTable* table = new QueueTable;
  return *table;
}

std::atomic<ThreadId> nextThreadId{1};

// Owns the calling thread's queue and takes it out of the table when the thread ends.
struct QueueOwner {
  ThreadId thread = 0;
  std::shared_ptr<Queue> queue;

  ~QueueOwner() {
    if (!queue) return;
    QueueTable& table = Table();
    std::lock_guard lock(table.mutex);
    table.queues.erase(thread);
  }
};

thread_local ThreadId currentThreadId = 0;
thread_local QueueOwner queueOwner;

// The calling thread's queue, made if need be; null when it cannot be made.
Queue* OwnQueue() {
  if (queueOwner.queue) return queueOwner.queue.get();
  try {
    auto queue = std::make_shared<Queue>();
    const ThreadId thread = GetCurrentThreadId();
    QueueTable& table = Table();
    {
      std::lock_guard lock(table.mutex);
      table.queues[thread] = queue;
    }
    queueOwner.thread = thread;
    queueOwner.queue = std::move(queue);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return queueOwner.queue.get();
}

}  // namespace

ThreadId GetCurrentThreadId() {
  if (currentThreadId == 0) currentThreadId = nextThreadId.fetch_add(1);
  return currentThreadId;
}

bool PostThreadMessage(ThreadId thread, unsigned message, std::uintptr_t wParam,
                       std::intptr_t lParam) {
  std::shared_ptr<Queue> queue;
  {
    QueueTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto found = table.queues.find(thread);
    if (found == table.queues.end()) return false;
    queue = found->second;
  }
  try {
    std::lock_guard lock(queue->mutex);
    queue->messages.push_back({message, wParam, lParam});
    queue->available.notify_one();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool PeekMessage(ThreadMessage* message, unsigned options) {
  Queue* queue = OwnQueue();
  if (!queue) return false;
  std::lock_guard lock(queue->mutex);
  if (queue->messages.empty()) return false;
  if (message) *message = queue->messages.front();
  if (options & PM_REMOVE) queue->messages.pop_front();
  return true;
}

int GetMessage(ThreadMessage* message) {
  if (!message) return -1;
  Queue* queue = OwnQueue();
  if (!queue) return -1;
  std::unique_lock lock(queue->mutex);
  queue->available.wait(lock, [queue] { return !queue->messages.empty(); });
  *message = queue->messages.front();
  queue->messages.pop_front();
  return message->message == WM_QUIT ? 0 : 1;
}

bool HasMessageQueue(ThreadId thread) {
  QueueTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.queues.count(thread) != 0;
}

}  // namespace platform
