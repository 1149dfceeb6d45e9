// Tests of the UsbWorkerThread on its own: its queue is ready from Start, one step per request
// on the worker's thread, requests dropped by a stop, closing, a step that never returns, and
// start-up failures.
#include "update/usb_worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <system_error>
#include <vector>

#include "update/update_state.h"

namespace {

std::jthread StartStandardThread(std::function<void(std::stop_token)> body) {
  return std::jthread(std::move(body));
}

// Records the steps and moves the worker makes; the step answers results in turn.
struct Recorder {
  std::mutex mutex;
  std::vector<std::thread::id> stepThreads;
  std::vector<int> moves;
  std::vector<int> results{1, 0, -1, 2};
  std::atomic<int> moveCount{0};

  std::function<int()> Step() {
    return [this] {
      std::lock_guard lock(mutex);
      stepThreads.push_back(std::this_thread::get_id());
      return results[(stepThreads.size() - 1) % results.size()];
    };
  }
  std::function<void(int)> Move() {
    return [this](int result) {
      {
        std::lock_guard lock(mutex);
        moves.push_back(result);
      }
      moveCount.fetch_add(1);
      moveCount.notify_all();
    };
  }
};

void WaitForMoves(Recorder& recorder, int count) {
  for (int seen = recorder.moveCount.load(); seen < count; seen = recorder.moveCount.load()) {
    recorder.moveCount.wait(seen);
  }
}

// A step that stays inside until released, as a vendor call that does not return would.
struct HeldStep {
  std::atomic<bool> entered{false};
  std::atomic<bool> released{false};

  std::function<int()> Step() {
    return [this] {
      entered = true;
      entered.notify_all();
      released.wait(false);
      return 1;
    };
  }
  void WaitUntilEntered() { entered.wait(false); }
  void Release() {
    released = true;
    released.notify_all();
  }
};

TEST(UsbWorkerThreadTest, RunsOneStepPerRequestOnItsOwnThreadFromTheMomentItStarts) {
  SetUpdateClosing(false);
  Recorder recorder;
  UsbWorkerThread worker(recorder.Step(), recorder.Move());
  EXPECT_EQ(worker.threadId(), std::thread::id());
  EXPECT_FALSE(worker.PostWriteBlocks()) << "no worker to serve it yet";
  ASSERT_TRUE(worker.Start(&StartStandardThread));
  const std::thread::id id = worker.threadId();
  ASSERT_NE(id, std::thread::id());
  EXPECT_NE(id, std::this_thread::get_id());

  // Posted at once after Start, before the thread has necessarily reached its wait.
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(worker.PostWriteBlocks());
  WaitForMoves(recorder, 4);
  {
    std::lock_guard lock(recorder.mutex);
    EXPECT_EQ(recorder.moves, (std::vector<int>{1, 0, -1, 2}));
    EXPECT_EQ(recorder.stepThreads, std::vector<std::thread::id>(4, id));
  }
  worker.Stop();
  EXPECT_FALSE(worker.PostWriteBlocks());
  EXPECT_FALSE(worker.BlockWriteInFlight());
  EXPECT_TRUE(worker.StopWithin(std::chrono::milliseconds(0)));  // idempotent
  std::lock_guard lock(recorder.mutex);
  EXPECT_EQ(recorder.moves.size(), 4u);
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

// A step stuck in a call: the bounded stop gives up and leaves the thread asked to stop; the
// requests behind it are dropped, the stuck step makes no move once it returns, and a later
// stop joins it.
TEST(UsbWorkerThreadTest, ABoundedStopGivesUpOnAStuckStepAndDropsTheRequestsBehindIt) {
  SetUpdateClosing(false);
  HeldStep held;
  std::atomic<int> steps{0};
  Recorder recorder;
  UsbWorkerThread worker(
      [&, step = held.Step()] {
        ++steps;
        return step();
      },
      recorder.Move());
  ASSERT_TRUE(worker.Start(&StartStandardThread));
  ASSERT_TRUE(worker.PostWriteBlocks());
  held.WaitUntilEntered();
  ASSERT_TRUE(worker.PostWriteBlocks());
  ASSERT_TRUE(worker.PostWriteBlocks());

  EXPECT_FALSE(worker.StopWithin(std::chrono::milliseconds(20)));
  EXPECT_TRUE(worker.BlockWriteInFlight());
  EXPECT_FALSE(worker.PostWriteBlocks()) << "asked to stop: takes no more requests";

  held.Release();
  EXPECT_TRUE(worker.StopWithin(std::chrono::minutes(5)));
  EXPECT_EQ(steps.load(), 1);
  EXPECT_EQ(recorder.moveCount.load(), 0);
  EXPECT_FALSE(worker.BlockWriteInFlight());
}

TEST(UsbWorkerThreadTest, StartFailsCleanlyWhenNoThreadCanBeHad) {
  Recorder recorder;
  UsbWorkerThread throwing(recorder.Step(), recorder.Move());
  EXPECT_FALSE(throwing.Start([](std::function<void(std::stop_token)>) -> std::jthread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }));
  EXPECT_EQ(throwing.threadId(), std::thread::id());
  EXPECT_FALSE(throwing.PostWriteBlocks());

  UsbWorkerThread empty(recorder.Step(), recorder.Move());
  EXPECT_FALSE(empty.Start([](std::function<void(std::stop_token)>) { return std::jthread(); }));
  EXPECT_FALSE(empty.PostWriteBlocks());
}

TEST(UsbWorkerThreadTest, DestructionStopsAndJoinsAWaitingWorker) {
  Recorder recorder;
  std::thread::id id;
  {
    UsbWorkerThread worker(recorder.Step(), recorder.Move());
    ASSERT_TRUE(worker.Start(&StartStandardThread));
    id = worker.threadId();
  }
  EXPECT_NE(id, std::thread::id());
  EXPECT_TRUE(recorder.stepThreads.empty());
}

}  // namespace
