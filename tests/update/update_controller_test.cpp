// Tests of the phase machine on virtual time: timing of the steps, every move for every result
// code on either thread, the end of the application, worker start-up failure and closing.
#include "update/update_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "fake_update_view.h"
#include "sequence_harness.h"
#include "update/update_state.h"

namespace {

using Strings = std::vector<std::string>;

// Scripted results for the six operations; by default every step advances.
struct Script {
  ScriptedResults load{{0}};
  ScriptedResults select{{0}};
  ScriptedResults check{{0}};
  ScriptedResults query{{0}};
  ScriptedResults write{{0}};
  ScriptedResults confirm{{2}};

  PhaseSteps Steps() {
    return {load.Step(), select.Step(), check.Step(), query.Step(), write.Step(), confirm.Step()};
  }
};

std::vector<std::pair<std::uint64_t, std::uint32_t>> TickList(const FakeUpdateView& view) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> list;
  for (const auto& tick : view.Ticks()) list.emplace_back(tick.at, tick.phase);
  return list;
}

// Everything journalled after the first entry equal to marker.
Strings After(const Strings& journal, const std::string& marker) {
  const auto found = std::find(journal.begin(), journal.end(), marker);
  return found == journal.end() ? Strings{"<no " + marker + ">"}
                                : Strings(found + 1, journal.end());
}

class UpdateControllerTest : public ::testing::Test {
 protected:
  void TearDown() override { UpdateController::SetThreadStarterForTesting(nullptr); }
};

TEST_F(UpdateControllerTest, CreationSetsUpContextAndArmsTheFirstStepAt100ms) {
  FakeUpdateView view;
  Script script;
  ScopedPhaseSteps steps(script.Steps());
  UpdatePhase = 5;
  {
    UpdateController controller(view);
    EXPECT_EQ(UpdateController::current, &controller);
    ASSERT_TRUE(controller.OnCreate());
    ASSERT_NE(UpdateContext, nullptr);
    EXPECT_EQ(UpdateContext->view, &view);
    EXPECT_NE(UpdateContext->deviceAgent, nullptr);
    EXPECT_EQ(UpdatePhase, 0u);
    EXPECT_NE(controller.m_workerThreadId, std::thread::id());
    EXPECT_NE(controller.m_workerThreadId, std::this_thread::get_id());
    EXPECT_EQ(view.Journal(), Strings{"arm:100"});

    RunSequence(controller, view, {.until = [&] { return !view.Ticks().empty(); }});
    EXPECT_EQ(TickList(view).front(), std::make_pair(std::uint64_t{100}, std::uint32_t{0}));
    EXPECT_EQ(script.load.Calls(), 1);
  }
  EXPECT_EQ(UpdateController::current, nullptr);
  EXPECT_EQ(UpdateContext, nullptr);
}

TEST_F(UpdateControllerTest, SuccessfulSequenceFollowsTheTimeline) {
  FakeUpdateView view;
  Script script;
  script.check = ScriptedResults({1, 1, 0});
  script.write = ScriptedResults({1, 1, 0});
  std::mutex seenMutex;
  std::vector<std::thread::id> writerThreads;
  std::atomic<int> armedDuringWrite{0};
  PhaseSteps steps = script.Steps();
  steps.writeFirmwareBlocks = [&, write = script.write.Step()] {
    if (view.Deadline()) ++armedDuringWrite;
    std::lock_guard lock(seenMutex);
    writerThreads.push_back(std::this_thread::get_id());
    return write();
  };
  ScopedPhaseSteps scoped(steps);
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());

  ASSERT_EQ(RunSequence(controller, view), RunEnd::Closed);
  using Tick = std::pair<std::uint64_t, std::uint32_t>;
  EXPECT_EQ(TickList(view), (std::vector<Tick>{{100, 0},
                                               {101, 1},
                                               {102, 2},
                                               {1102, 2},
                                               {2102, 2},
                                               {2103, 3},
                                               {2104, 4},
                                               {2105, 4},
                                               {2106, 4},
                                               {2107, 5}}));
  EXPECT_EQ(view.LogTexts(), (Strings{"USB Connecting...", "End Application"}));
  EXPECT_EQ(view.CloseCount(), 1);
  EXPECT_EQ(UpdatePhase, 6u);
  EXPECT_EQ(After(view.Journal(), "tick@2107:5"),
            (Strings{"stop", "stop", "log:End Application", "close"}));
  // The block writes ran on the worker, one per request, with the step timer stopped.
  EXPECT_EQ(writerThreads, std::vector<std::thread::id>(3, controller.m_workerThreadId));
  EXPECT_NE(controller.m_workerThreadId, std::this_thread::get_id());
  EXPECT_EQ(armedDuringWrite.load(), 0);
}

TEST_F(UpdateControllerTest, RestartLogsEmptyLineAndStartsOverASecondLater) {
  FakeUpdateView view;
  Script script;
  script.check = ScriptedResults({-1, 2});
  ScopedPhaseSteps steps(script.Steps());
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());

  ASSERT_EQ(RunSequence(controller, view), RunEnd::Closed);
  using Tick = std::pair<std::uint64_t, std::uint32_t>;
  EXPECT_EQ(TickList(view),
            (std::vector<Tick>{{100, 0}, {101, 1}, {102, 2}, {1102, 0}, {1103, 1}, {1104, 2}}));
  EXPECT_EQ(view.LogTexts(),
            (Strings{"USB Connecting...", "", "USB Connecting...", "End Application"}));
  EXPECT_EQ(script.load.Calls(), 2);
  // The re-arm is the last act of the move.
  const Strings afterRestart = After(view.Journal(), "tick@102:2");
  EXPECT_EQ(Strings(afterRestart.begin(), afterRestart.begin() + 3),
            (Strings{"stop", "log:", "arm:1000"}));
}

TEST_F(UpdateControllerTest, WaitingConnectionPollsEverySecond) {
  FakeUpdateView view;
  Script script;
  std::vector<int> polls(179, 1);
  polls.push_back(-1);
  script.check = ScriptedResults(polls);
  script.load = ScriptedResults({0, 2});
  ScopedPhaseSteps steps(script.Steps());
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());

  ASSERT_EQ(RunSequence(controller, view), RunEnd::Closed);
  std::vector<std::uint64_t> pollTimes;
  for (const auto& tick : view.Ticks()) {
    if (tick.phase == 2) pollTimes.push_back(tick.at);
  }
  ASSERT_EQ(pollTimes.size(), 180u);
  for (std::size_t i = 1; i < pollTimes.size(); ++i)
    EXPECT_EQ(pollTimes[i] - pollTimes[i - 1], 1000u);
  EXPECT_EQ(view.Ticks().back().at, pollTimes.back() + 1000);
  EXPECT_EQ(view.Ticks().back().phase, 0u);
}

// One result of one phase step on the UI thread, and the move it must cause.
class UiPhaseResultTest : public UpdateControllerTest,
                          public ::testing::WithParamInterface<std::tuple<std::uint32_t, int>> {};

TEST_P(UiPhaseResultTest, MakesTheMoveOfItsResult) {
  const auto [phase, result] = GetParam();
  FakeUpdateView view;
  Script script;
  ScriptedResults* byPhase[] = {&script.load,  &script.select, &script.check,
                                &script.query, &script.write,  &script.confirm};
  *byPhase[phase] = ScriptedResults({result});
  ScopedPhaseSteps steps(script.Steps());
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());

  ScriptedResults& stepped = *byPhase[phase];
  RunSequence(controller, view, {.until = [&] { return stepped.Calls() == 1; }});
  ASSERT_EQ(byPhase[phase]->Calls(), 1);
  const std::uint64_t now = view.Now();
  const Strings logs = view.LogTexts();
  const Strings afterStep =
      After(view.Journal(), "tick@" + std::to_string(now) + ":" + std::to_string(phase));
  switch (result) {
    case 0:
      EXPECT_EQ(UpdatePhase, phase + 1);
      EXPECT_EQ(view.Deadline(), now + 1);
      EXPECT_EQ(afterStep.back(), "arm:1");
      EXPECT_EQ(std::count(logs.begin(), logs.end(), "USB Connecting..."), phase >= 1 ? 1 : 0);
      break;
    case 1:
      EXPECT_EQ(UpdatePhase, phase);
      if (phase == 2) {
        EXPECT_EQ(view.Deadline(), now + 1000);
      } else {
        EXPECT_EQ(view.Deadline(), std::nullopt);
        EXPECT_EQ(RunSequence(controller, view), RunEnd::Idle);
      }
      break;
    case -1:
      EXPECT_EQ(UpdatePhase, 0u);
      EXPECT_EQ(view.Deadline(), now + 1000);
      EXPECT_EQ(afterStep, (Strings{"stop", "log:", "arm:1000"}));
      break;
    default:
      EXPECT_EQ(UpdatePhase, 6u);
      EXPECT_EQ(view.Deadline(), std::nullopt);
      EXPECT_EQ(afterStep, (Strings{"stop", "stop", "log:End Application", "close"}));
      // No further step, however often the timer is said to tick.
      for (int i = 0; i < 3; ++i) controller.OnTimer(STEP_TIMER_ID);
      EXPECT_EQ(byPhase[phase]->Calls(), 1);
      EXPECT_EQ(view.Journal().back(), "close");
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Phases, UiPhaseResultTest,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u, 3u, 5u),
                                            ::testing::Values(0, 1, -1, 2, 3, -2, INT_MIN,
                                                              INT_MAX)));

// One result of a block-write run on the worker, and the move the worker makes.
class WorkerResultTest : public UpdateControllerTest, public ::testing::WithParamInterface<int> {};

TEST_P(WorkerResultTest, WorkerMakesTheMoveOfItsResult) {
  const int result = GetParam();
  FakeUpdateView view;
  Script script;
  script.write = ScriptedResults({result});
  ScopedPhaseSteps steps(script.Steps());
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());

  const RunEnd end = RunSequence(
      controller, view,
      {.until = [&] { return script.write.Calls() == 1 && !controller.BlockWriteInFlight(); }});
  ASSERT_EQ(script.write.Calls(), 1) << ToString(end);
  const std::uint64_t now = view.Now();
  const auto logs = view.LogLines();
  switch (result) {
    case 1:
      EXPECT_EQ(UpdatePhase, 4u);
      EXPECT_EQ(view.Deadline(), now + 1);
      // The next tick hands the next run to the worker.
      RunSequence(controller, view, {.until = [&] { return script.write.Calls() == 2; }});
      EXPECT_EQ(script.write.Calls(), 2);
      EXPECT_EQ(view.Ticks().back().at, now + 1);
      EXPECT_EQ(view.Ticks().back().phase, 4u);
      break;
    case 0:
      EXPECT_EQ(UpdatePhase, 5u);
      EXPECT_EQ(view.Deadline(), now + 1);
      RunSequence(controller, view);
      EXPECT_EQ(script.confirm.Calls(), 1);
      break;
    case -1:
      EXPECT_EQ(UpdatePhase, 0u);
      EXPECT_EQ(view.Deadline(), now + 1000);
      EXPECT_EQ(logs.back().text, "");
      EXPECT_FALSE(logs.back().fromUiThread);
      break;
    default:
      EXPECT_EQ(end, RunEnd::Closed);
      EXPECT_EQ(UpdatePhase, 6u);
      EXPECT_EQ(view.Deadline(), std::nullopt);
      EXPECT_EQ(logs.back().text, "End Application");
      EXPECT_FALSE(logs.back().fromUiThread);
      EXPECT_EQ(view.Journal().back(), "close");
      for (int i = 0; i < 3; ++i) controller.OnTimer(STEP_TIMER_ID);
      EXPECT_EQ(view.Journal().back(), "close");
      EXPECT_EQ(script.write.Calls() + script.confirm.Calls(), 1);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Results, WorkerResultTest, ::testing::Values(1, 0, -1, 2, 5, -3));

TEST_F(UpdateControllerTest, TicksOfOtherTimersRunNothing) {
  FakeUpdateView view;
  Script script;
  ScopedPhaseSteps steps(script.Steps());
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());
  for (unsigned id : {1u, 2u, 0x8001u, 0xFFFFFFFFu}) controller.OnTimer(id);
  EXPECT_EQ(script.load.Calls(), 0);
  EXPECT_EQ(view.Journal(), Strings{"arm:100"});
  controller.OnTimer(STEP_TIMER_ID);
  EXPECT_EQ(script.load.Calls(), 1);
}

TEST_F(UpdateControllerTest, ATickDuringAWorkerRunRunsNothing) {
  FakeUpdateView view;
  std::atomic<bool> entered{false}, release{false};
  Script script;
  PhaseSteps steps = script.Steps();
  steps.writeFirmwareBlocks = [&] {
    entered = true;
    release.wait(false);
    return 0;
  };
  ScopedPhaseSteps scoped(steps);
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());
  RunSequence(controller, view, {.until = [&] { return entered.load(); }});
  ASSERT_TRUE(entered.load());
  const Strings before = view.Journal();
  controller.OnTimer(STEP_TIMER_ID);  // as if a stale tick arrived
  EXPECT_EQ(view.Journal(), before);
  release = true;
  release.notify_all();
  EXPECT_EQ(RunSequence(controller, view), RunEnd::Closed);
  EXPECT_EQ(script.confirm.Calls(), 1);
}

std::jthread FailToStart(std::function<void(std::stop_token)>) {
  throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

TEST_F(UpdateControllerTest, WorkerThatCannotBeCreatedEndsTheApplication) {
  for (const UpdateController::ThreadStarter& starter :
       {UpdateController::ThreadStarter(&FailToStart),
        UpdateController::ThreadStarter(
            [](std::function<void(std::stop_token)>) { return std::jthread(); })}) {
    FakeUpdateView view;
    Script script;
    ScopedPhaseSteps steps(script.Steps());
    UpdateController::SetThreadStarterForTesting(starter);
    UpdateController controller(view);
    EXPECT_FALSE(controller.OnCreate());
    EXPECT_EQ(controller.m_workerThreadId, std::thread::id());
    const auto boxes = view.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "作業用スレッドを作成できませんでした。\nアプリを終了します。");
    EXPECT_FALSE(boxes[0].caption.has_value());
    EXPECT_EQ(boxes[0].type, MB_OK);
    EXPECT_EQ(
        view.Journal(),
        (Strings{"arm:100", "box:作業用スレッドを作成できませんでした。\nアプリを終了します。",
                 "stop", "log:End Application", "close"}));
    EXPECT_EQ(UpdatePhase, 6u);
    controller.OnTimer(STEP_TIMER_ID);
    EXPECT_EQ(script.load.Calls(), 0);
    EXPECT_EQ(RunSequence(controller, view), RunEnd::Closed);
  }
}

TEST_F(UpdateControllerTest, BlockWriteWithoutWorkerEndsInsteadOfStalling) {
  FakeUpdateView view;
  UpdateController controller(view);  // never created, so it has no worker
  UpdatePhase = 4;
  controller.OnTimer(STEP_TIMER_ID);
  EXPECT_EQ(view.Journal(),
            (Strings{"stop", "box:作業用スレッドと通信できませんでした。\nアプリを終了します。",
                     "stop", "log:End Application", "close"}));
  EXPECT_EQ(UpdatePhase, 6u);
}

// The view closes while the worker is in the middle of a run: the run ends early, the worker
// makes no move, the thread is joined and the view can go at once.
TEST_F(UpdateControllerTest, ClosingDuringABlockWriteRunJoinsWithoutTouchingTheView) {
  auto view = std::make_unique<FakeUpdateView>();
  std::atomic<bool> entered{false};
  std::atomic<bool> sawClosing{false};
  Script script;
  PhaseSteps steps = script.Steps();
  steps.writeFirmwareBlocks = [&] {
    entered = true;
    // Like a run between two blocks: it looks at the flag after each one.
    for (int block = 0; block < 10000 && !UpdateClosing(); ++block) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sawClosing = UpdateClosing();
    return 1;
  };
  ScopedPhaseSteps scoped(steps);
  UpdateController controller(*view);
  ASSERT_TRUE(controller.OnCreate());
  RunSequence(controller, *view, {.until = [&] { return entered.load(); }});
  ASSERT_TRUE(entered.load());

  view->BeginClosing();
  controller.Shutdown();
  EXPECT_TRUE(sawClosing.load());
  EXPECT_FALSE(controller.BlockWriteInFlight());
  EXPECT_EQ(UpdatePhase, 4u);  // no move after the run
  EXPECT_EQ(After(view->Journal(), "closing"), Strings{});
  view.reset();  // the window is gone; nothing may reach it any more
  controller.OnTimer(STEP_TIMER_ID);
  controller.Shutdown();
}

// The view closes while the worker shows a message box: the box counts as dismissed, nothing
// more reaches the view and the worker is joined.
TEST_F(UpdateControllerTest, ClosingWhileTheWorkerWaitsInAMessageBox) {
  auto view = std::make_unique<FakeUpdateView>();
  std::atomic<int> answer{0};
  Script script;
  PhaseSteps steps = script.Steps();
  steps.writeFirmwareBlocks = [&] {
    answer = UpdateContext->view->ShowMessageBox("SCRIBOLANTE X との通信に異常が発生しました。",
                                                 nullptr, MB_YESNO);
    return -1;
  };
  ScopedPhaseSteps scoped(steps);
  UpdateController controller(*view);
  ASSERT_TRUE(controller.OnCreate());
  view->HoldNextMessageBox();
  RunSequence(controller, *view, {.until = [&] { return controller.BlockWriteInFlight(); }});
  ASSERT_TRUE(view->WaitForHeldBox());

  view->BeginClosing();
  controller.Shutdown();
  EXPECT_EQ(answer.load(), IDNO);
  const auto boxes = view->MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].dismissedByClosing);
  EXPECT_FALSE(boxes[0].fromUiThread);
  // Between the view's closing and Shutdown the worker may still make its move; the closing
  // view turns every such call away.
  for (const auto& entry : After(view->Journal(), "closing")) {
    EXPECT_EQ(entry.rfind("ignored:", 0), 0u) << entry;
  }
  EXPECT_FALSE(controller.BlockWriteInFlight());
  view.reset();
  controller.OnTimer(STEP_TIMER_ID);
}

TEST_F(UpdateControllerTest, ClosingWhileIdleStopsFurtherSteps) {
  FakeUpdateView view;
  Script script;
  script.check = ScriptedResults({1});
  ScopedPhaseSteps steps(script.Steps());
  UpdateController controller(view);
  ASSERT_TRUE(controller.OnCreate());
  RunSequence(controller, view, {.until = [&] { return script.check.Calls() == 2; }});

  view.BeginClosing();
  controller.Shutdown();
  EXPECT_FALSE(controller.BlockWriteInFlight());
  controller.OnTimer(STEP_TIMER_ID);
  EXPECT_EQ(script.check.Calls(), 2);
}

}  // namespace

namespace {

TEST(DismissedAnswerTest, NothingGoesAheadByDefault) {
  EXPECT_EQ(DismissedAnswer(MB_OK), IDOK);
  EXPECT_EQ(DismissedAnswer(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(DismissedAnswer(MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(DismissedAnswer(MB_YESNO), IDNO);
  EXPECT_EQ(DismissedAnswer(MB_YESNO | MB_ICONEXCLAMATION), IDNO);
}

}  // namespace
