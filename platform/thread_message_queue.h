// Per-thread message queues in place of the system's thread messages: post a message to a
// thread by its identifier, and let that thread peek at or wait for its messages.
#pragma once

#include <cstdint>

namespace platform {

// Identifies a thread of this process; never 0, never reused while the process runs.
using ThreadId = std::uint32_t;

inline constexpr unsigned WM_QUIT = 0x0012;
inline constexpr unsigned WM_APP = 0x8000;

// PeekMessage options.
inline constexpr unsigned PM_NOREMOVE = 0x0000;
inline constexpr unsigned PM_REMOVE = 0x0001;

struct ThreadMessage {
  unsigned message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// The calling thread's identifier, assigned at its first use.
ThreadId GetCurrentThreadId();

// Appends a message to the queue of a thread. False when that thread has no queue (it never
// called PeekMessage or GetMessage, or it has ended) or the message could not be stored.
// Any thread; messages from one thread arrive in the order they were posted.
bool PostThreadMessage(ThreadId thread, unsigned message, std::uintptr_t wParam,
                       std::intptr_t lParam);

// Creates the calling thread's queue if it has none, then reports whether a message is
// waiting, copying the first one into message (if not null). PM_REMOVE also takes it off
// the queue. Never blocks.
bool PeekMessage(ThreadMessage* message, unsigned options);

// Creates the calling thread's queue if it has none, then waits for the first message and
// takes it off the queue. Returns 0 for WM_QUIT, -1 on an error (message null, or no queue
// could be created), and a positive value for every other message.
int GetMessage(ThreadMessage* message);

// True while the thread has a queue. A thread's queue ends with the thread; messages still in
// it are dropped.
bool HasMessageQueue(ThreadId thread);

}  // namespace platform
