// Tests of the thread message queues and the manual-reset event that hand work and start-up
// between threads.
#include "platform/thread_message_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/event.h"

namespace platform {
namespace {

TEST(ThreadMessageQueueTest, PostingNeedsTheTargetToOwnAQueue) {
  EXPECT_FALSE(PostThreadMessage(0, WM_APP, 0, 0));
  Event idReady, peeked, done;
  ThreadId target = 0;
  std::thread thread([&] {
    target = GetCurrentThreadId();
    idReady.Set();
    peeked.Wait();
    ThreadMessage message;
    EXPECT_FALSE(PeekMessage(&message, PM_NOREMOVE));  // creates the queue; nothing yet
    done.Set();
    EXPECT_EQ(GetMessage(&message), 1);
    EXPECT_EQ(message.message, WM_APP + 5);
    EXPECT_EQ(GetMessage(&message), 0);
  });
  idReady.Wait();
  EXPECT_NE(target, 0u);
  EXPECT_NE(target, GetCurrentThreadId());
  EXPECT_FALSE(HasMessageQueue(target));
  EXPECT_FALSE(PostThreadMessage(target, WM_APP + 4, 0, 0));
  peeked.Set();
  done.Wait();
  EXPECT_TRUE(HasMessageQueue(target));
  EXPECT_TRUE(PostThreadMessage(target, WM_APP + 5, 0, 0));
  EXPECT_TRUE(PostThreadMessage(target, WM_QUIT, 0, 0));
  thread.join();
  // The queue ends with its thread.
  EXPECT_FALSE(HasMessageQueue(target));
  EXPECT_FALSE(PostThreadMessage(target, WM_APP, 0, 0));
}

TEST(ThreadMessageQueueTest, MessagesArriveInOrderUntilQuit) {
  Event ready;
  ThreadId target = 0;
  std::vector<ThreadMessage> received;
  int quitResult = -2;
  std::thread thread([&] {
    ThreadMessage message;
    PeekMessage(nullptr, PM_NOREMOVE);
    target = GetCurrentThreadId();
    ready.Set();
    int result;
    while ((result = GetMessage(&message)) > 0) received.push_back(message);
    quitResult = result;
    EXPECT_EQ(message.message, WM_QUIT);
  });
  ready.Wait();
  for (unsigned i = 0; i < 200; ++i) {
    ASSERT_TRUE(PostThreadMessage(target, WM_APP + i, i, -static_cast<std::intptr_t>(i)));
  }
  ASSERT_TRUE(PostThreadMessage(target, WM_QUIT, 0, 0));
  ASSERT_TRUE(PostThreadMessage(target, WM_APP, 0, 0));  // after the quit: never read
  thread.join();
  EXPECT_EQ(quitResult, 0);
  ASSERT_EQ(received.size(), 200u);
  for (unsigned i = 0; i < 200; ++i) {
    EXPECT_EQ(received[i].message, WM_APP + i);
    EXPECT_EQ(received[i].wParam, i);
    EXPECT_EQ(received[i].lParam, -static_cast<std::intptr_t>(i));
  }
}

TEST(ThreadMessageQueueTest, PeekLeavesOrRemovesAndGetRejectsNull) {
  ThreadMessage message;
  EXPECT_FALSE(PeekMessage(&message, PM_NOREMOVE));
  ASSERT_TRUE(PostThreadMessage(GetCurrentThreadId(), WM_APP + 1, 1, 2));
  ASSERT_TRUE(PostThreadMessage(GetCurrentThreadId(), WM_APP + 2, 3, 4));
  EXPECT_TRUE(PeekMessage(&message, PM_NOREMOVE));
  EXPECT_EQ(message.message, WM_APP + 1);
  EXPECT_TRUE(PeekMessage(&message, PM_REMOVE));
  EXPECT_EQ(message.message, WM_APP + 1);
  EXPECT_TRUE(PeekMessage(&message, PM_REMOVE));
  EXPECT_EQ(message.message, WM_APP + 2);
  EXPECT_EQ(message.lParam, 4);
  EXPECT_FALSE(PeekMessage(&message, PM_REMOVE));
  EXPECT_EQ(GetMessage(nullptr), -1);
}

TEST(ThreadMessageQueueTest, ThreadIdsAreDistinctAndStable) {
  const ThreadId mine = GetCurrentThreadId();
  EXPECT_EQ(GetCurrentThreadId(), mine);
  ThreadId a = 0, b = 0;
  std::thread first([&] { a = GetCurrentThreadId(); });
  first.join();
  std::thread second([&] { b = GetCurrentThreadId(); });
  second.join();
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_NE(a, mine);
  EXPECT_NE(b, mine);
}

TEST(EventTest, SetReleasesEveryWaiterUntilReset) {
  Event event("CUE_WAIT");
  EXPECT_EQ(event.name(), "CUE_WAIT");
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(std::chrono::milliseconds(1)));
  int written = 0;
  std::vector<std::thread> waiters;
  std::vector<int> seen(3, -1);
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&, i] {
      event.Wait();
      seen[i] = written;  // what was written before Set is visible after Wait
    });
  }
  written = 42;
  event.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(seen, std::vector<int>(3, 42));
  EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds(0)));
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_TRUE(Event("", true).IsSet());
}

}  // namespace
}  // namespace platform
