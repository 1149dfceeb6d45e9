// The real controller inside the real view with real timers, its phase steps scripted: the
// worker's steps reach the window through the view, the end closes the window, and closing
// the window while the worker writes or waits in a box neither deadlocks nor runs on.
#include <gtest/gtest.h>

#include <QListWidget>

#include "update/update_state.h"
#include "view_test_support.h"

namespace {

QStringList LogLines(CFWUpdaterView& view) {
  QStringList lines;
  auto* log = view.findChild<QListWidget*>(QStringLiteral("operationLog1009"));
  for (int row = 0; log && row < log->count(); ++row) lines << log->item(row)->text();
  return lines;
}

class ScriptedSequenceTest : public testing::Test {
 protected:
  void SetUp() override {
    steps.loadFirmwareImage = [] { return kPhaseAdvance; };
    steps.selectDevice = [] { return kPhaseAdvance; };
    steps.checkConnection = [] { return kPhaseAdvance; };
    steps.queryDeviceInfo = [] { return kPhaseAdvance; };
    steps.confirmImageChecksum = [this] {
      ++checksumRuns;
      return kPhaseEnd;
    };
  }
  void TearDown() override { ResetPhaseStepsForTesting(); }

  // Starts the sequence in a shown view.
  void Start() {
    SetPhaseStepsForTesting(steps);
    view = std::make_unique<CFWUpdaterView>();
    view->show();
    ASSERT_TRUE(view->OnCreate());
  }

  PhaseSteps steps;
  std::atomic<int> workerRuns{0};
  std::atomic<int> checksumRuns{0};
  std::atomic<bool> stepOffUiThread{true};
  std::unique_ptr<CFWUpdaterView> view;
  const std::thread::id uiThread = std::this_thread::get_id();
};

TEST_F(ScriptedSequenceTest, WorkerYieldsThenFinishesAndTheEndClosesTheWindow) {
  steps.writeFirmwareBlocks = [this] {
    if (std::this_thread::get_id() == uiThread) stepOffUiThread = false;
    const int run = ++workerRuns;
    UpdateContext->view->SetProgressPosition(run * 3000);
    UpdateContext->view->AddLogLine("run " + std::to_string(run), true);
    return run < 3 ? kPhaseWait : kPhaseAdvance;  // two yields, then all blocks written
  };
  Start();
  ASSERT_TRUE(WaitUntil([&] { return !view->isVisible(); }));
  EXPECT_EQ(workerRuns.load(), 3);
  EXPECT_EQ(checksumRuns.load(), 1);
  EXPECT_TRUE(stepOffUiThread.load());
  EXPECT_EQ(view->GetProgressPosition(), 9000);
  EXPECT_EQ(LogLines(*view),
            (QStringList{"USB Connecting...", "run 1", "run 2", "run 3", "End Application"}));
  EXPECT_EQ(UpdatePhase, 6u);
}

TEST_F(ScriptedSequenceTest, ClosingWhileTheWorkerWaitsInABoxDismissesItAndJoins) {
  std::atomic<int> boxAnswer{0};
  steps.writeFirmwareBlocks = [this, &boxAnswer] {
    ++workerRuns;
    boxAnswer = UpdateContext->view->ShowMessageBox("block rejected", nullptr, MB_OKCANCEL);
    return kPhaseAdvance;
  };
  Start();
  bool closedInsideTheBox = false;
  BoxDriver driver([&](QMessageBox&) {
    view->close();  // the user closes the window while the box is up
    closedInsideTheBox = boxAnswer.load() != 0;
  });
  ASSERT_TRUE(WaitUntil([&] { return !view->isVisible() && driver.seen().size() == 1; }));
  EXPECT_TRUE(closedInsideTheBox) << "the worker was released before the box's loop ended";
  EXPECT_EQ(boxAnswer.load(), IDCANCEL);
  EXPECT_EQ(workerRuns.load(), 1);
  // The worker's step ended, but with the view closing it made no move.
  QCoreApplication::processEvents();
  EXPECT_EQ(checksumRuns.load(), 0);
  EXPECT_FALSE(LogLines(*view).contains("End Application"));
  view.reset();
}

TEST_F(ScriptedSequenceTest, ClosingWhileABlockWriteStepRunsStopsItAndJoins) {
  std::atomic<int> updates{0};
  std::atomic<bool> stepEnded{false};
  steps.writeFirmwareBlocks = [this, &updates, &stepEnded] {
    ++workerRuns;
    // Like a long write: moves the bar until the view closes.
    while (!UpdateClosing()) {
      const int position = ++updates % 9800;
      UpdateContext->view->SetProgressPosition(position);
      UpdateContext->view->GetProgressPosition();
    }
    stepEnded = true;
    return kPhaseAdvance;
  };
  Start();
  ASSERT_TRUE(WaitUntil([&] { return updates.load() > 20; }));
  view->close();
  // BeginClose has joined the worker before close() returned.
  EXPECT_TRUE(stepEnded.load());
  EXPECT_FALSE(view->isVisible());
  const int after = updates.load();
  QCoreApplication::processEvents();
  EXPECT_EQ(updates.load(), after);
  EXPECT_EQ(checksumRuns.load(), 0);
  view.reset();
}

TEST_F(ScriptedSequenceTest, DestroyingTheViewMidWriteTearsDownCleanly) {
  std::atomic<bool> writing{false};
  steps.writeFirmwareBlocks = [&writing] {
    writing = true;
    while (!UpdateClosing()) UpdateContext->view->AddLogLine("block", false);
    return kPhaseAdvance;
  };
  Start();
  ASSERT_TRUE(WaitUntil([&] { return writing.load(); }));
  view.reset();  // no close event at all: the destructor does the teardown
  SUCCEED();
}

}  // namespace
