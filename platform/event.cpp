// The manual-reset event: a flag under a mutex with a condition variable.
#include "platform/event.h"

namespace platform {

Event::Event(std::string name, bool initiallySet) : m_name(std::move(name)), m_set(initiallySet) {}

void Event::Set() {
  std::lock_guard lock(m_mutex);
  m_set = true;
  // Notified under the lock: a waiter released by it may destroy the event right away.
  m_setChanged.notify_all();
}

void Event::Reset() {
  std::lock_guard lock(m_mutex);
  m_set = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(m_mutex);
  return m_set;
}

void Event::Wait() {
  std::unique_lock lock(m_mutex);
  m_setChanged.wait(lock, [this] { return m_set; });
}

bool Event::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  return m_setChanged.wait_for(lock, timeout, [this] { return m_set; });
}

}  // namespace platform
