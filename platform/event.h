// A small manual-reset event for hand-overs between threads, in place of the system's event
// objects: Set wakes every waiter and stays set until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace platform {

// Thread-safe; any thread may set, reset or wait. Set and Reset synchronise with the waits
// they release, so what a thread wrote before Set is visible to a thread after its Wait.
class Event {
 public:
  // name only labels the event for readers and debuggers (events are not shared by name).
  explicit Event(std::string name = {}, bool initiallySet = false);

  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Blocks until the event is set.
  void Wait();
  // Blocks until the event is set or the timeout has passed; true when it is set.
  bool WaitFor(std::chrono::milliseconds timeout);

  const std::string& name() const { return m_name; }

 private:
  const std::string m_name;
  mutable std::mutex m_mutex;
  std::condition_variable m_setChanged;
  bool m_set;
};

}  // namespace platform
