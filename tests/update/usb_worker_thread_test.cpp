// Tests of the UsbWorkerThread on its own: the start-up handshake, one step per request on the
// worker's thread, dropped messages, closing, and start-up failures.
#include "update/usb_worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/event.h"
#include "update/update_controller.h"
#include "update/update_state.h"

namespace {

std::thread StartStandardThread(std::function<void()> body) {
  return std::thread(std::move(body));
}

// Records the steps and moves the worker makes; the step answers results in turn.
struct Recorder {
  std::mutex mutex;
  std::vector<platform::ThreadId> stepThreads;
  std::vector<int> moves;
  std::vector<int> results{1, 0, -1, 2};
  platform::Event moved;

  std::function<int()> Step() {
    return [this] {
      std::lock_guard lock(mutex);
      stepThreads.push_back(platform::GetCurrentThreadId());
      return results[(stepThreads.size() - 1) % results.size()];
    };
  }
  std::function<void(int)> Move() {
    return [this](int result) {
      std::lock_guard lock(mutex);
      moves.push_back(result);
      moved.Set();
    };
  }
  std::size_t MoveCount() {
    std::lock_guard lock(mutex);
    return moves.size();
  }
};

void WaitForMoves(Recorder& recorder, std::size_t count) {
  for (int i = 0; i < 10000 && recorder.MoveCount() < count; ++i) {
    recorder.moved.WaitFor(std::chrono::milliseconds(1));
    recorder.moved.Reset();
  }
  ASSERT_EQ(recorder.MoveCount(), count);
}

TEST(UsbWorkerThreadTest, OwnsItsQueueOnStartAndRunsOneStepPerRequest) {
  SetUpdateClosing(false);
  Recorder recorder;
  UsbWorkerThread worker(recorder.Step(), recorder.Move());
  EXPECT_EQ(worker.threadId(), 0u);
  EXPECT_FALSE(worker.PostWriteBlocks());
  ASSERT_TRUE(worker.Start(&StartStandardThread));
  const platform::ThreadId id = worker.threadId();
  ASSERT_NE(id, 0u);
  EXPECT_NE(id, platform::GetCurrentThreadId());
  // The handshake: the queue exists by the time Start returns, so a post cannot fail.
  EXPECT_TRUE(platform::HasMessageQueue(id));

  // Other messages are taken off the queue and dropped.
  EXPECT_TRUE(platform::PostThreadMessage(id, WM_UPDATE_STEP, 0, 0));
  EXPECT_TRUE(platform::PostThreadMessage(id, 0x0401, 7, 7));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(worker.PostWriteBlocks());
  WaitForMoves(recorder, 4);
  {
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.moves, (std::vector<int>{1, 0, -1, 2}));
    EXPECT_EQ(recorder.stepThreads, std::vector<platform::ThreadId>(4, id));
  }
  for (int i = 0; i < 100 && worker.BlockWriteInFlight(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(worker.BlockWriteInFlight());

  worker.Stop();
  EXPECT_FALSE(platform::HasMessageQueue(id));
  EXPECT_FALSE(worker.PostWriteBlocks());
  EXPECT_FALSE(worker.BlockWriteInFlight());
  worker.Stop();  // idempotent
}

TEST(UsbWorkerThreadTest, AClosingViewGetsNeitherStepNorMove) {
  Recorder recorder;
  UsbWorkerThread worker(recorder.Step(), recorder.Move());
  ASSERT_TRUE(worker.Start(&StartStandardThread));
  SetUpdateClosing(true);
  EXPECT_TRUE(worker.PostWriteBlocks());
  worker.Stop();
  SetUpdateClosing(false);
  EXPECT_TRUE(recorder.stepThreads.empty());
  EXPECT_TRUE(recorder.moves.empty());
  EXPECT_FALSE(worker.BlockWriteInFlight());
}

TEST(UsbWorkerThreadTest, StartFailsCleanlyWhenNoThreadCanBeHad) {
  Recorder recorder;
  UsbWorkerThread throwing(recorder.Step(), recorder.Move());
  EXPECT_FALSE(throwing.Start([](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }));
  EXPECT_EQ(throwing.threadId(), 0u);
  EXPECT_FALSE(throwing.PostWriteBlocks());

  UsbWorkerThread empty(recorder.Step(), recorder.Move());
  EXPECT_FALSE(empty.Start([](std::function<void()>) { return std::thread(); }));
  EXPECT_FALSE(empty.PostWriteBlocks());
}

TEST(UsbWorkerThreadTest, DestructionJoinsARunningWorker) {
  Recorder recorder;
  platform::ThreadId id = 0;
  {
    UsbWorkerThread worker(recorder.Step(), recorder.Move());
    ASSERT_TRUE(worker.Start(&StartStandardThread));
    id = worker.threadId();
  }
  EXPECT_FALSE(platform::HasMessageQueue(id));
}

}  // namespace
