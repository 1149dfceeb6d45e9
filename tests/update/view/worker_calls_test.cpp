// Calls into the view from another thread: they run on the UI thread while the caller waits,
// the step timer armed from there ticks on the UI thread, and closing the view releases a
// caller that waits, even inside an open box, without a deadlock.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QListWidget>
#include <QProgressBar>
#include <future>

#include "view_test_support.h"

namespace {

TEST(WorkerCallsTest, RunOnTheUiThreadWhileTheCallerWaits) {
  CFWUpdaterView view;
  auto* log = view.findChild<QListWidget*>(QStringLiteral("operationLog1009"));
  ASSERT_NE(log, nullptr);
  const std::thread::id uiThread = std::this_thread::get_id();
  std::atomic<bool> workerReturned{false};
  std::vector<bool> insertedOnUiBeforeReturn;
  QObject::connect(log->model(), &QAbstractItemModel::rowsInserted, [&] {
    insertedOnUiBeforeReturn.push_back(std::this_thread::get_id() == uiThread &&
                                       !workerReturned.load());
  });

  std::promise<int> position;
  std::thread worker([&] {
    view.AddLogLine("from the worker", true);
    workerReturned = true;
    view.SetProgressRange(0, 10000);
    view.SetProgressPosition(1234);
    // A read after a write sees it: each call has run before the next is made.
    position.set_value(view.GetProgressPosition());
  });
  std::future<int> answer = position.get_future();
  ASSERT_TRUE(WaitUntil(
      [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  worker.join();
  EXPECT_EQ(answer.get(), 1234);
  ASSERT_EQ(log->count(), 1);
  EXPECT_EQ(log->item(0)->text(), QStringLiteral("from the worker"));
  EXPECT_EQ(insertedOnUiBeforeReturn, std::vector<bool>{true});
}

TEST(WorkerCallsTest, MessageBoxFromTheWorkerIsAnsweredOnTheUiThread) {
  CFWUpdaterView view;
  view.show();
  const std::thread::id uiThread = std::this_thread::get_id();
  bool shownOnUiThread = false;
  BoxDriver driver([&](QMessageBox& box) {
    shownOnUiThread = std::this_thread::get_id() == uiThread;
    ClickButton(box, QString::fromUtf8("いいえ"));
  });
  std::atomic<int> answer{0};
  std::thread worker([&] { answer = view.ShowMessageBox("write?", "確認", MB_YESNO); });
  ASSERT_TRUE(WaitUntil([&] { return answer.load() != 0; }));
  worker.join();
  EXPECT_EQ(answer.load(), IDNO);
  EXPECT_TRUE(shownOnUiThread);
  ASSERT_EQ(driver.seen().size(), 1u);
  EXPECT_EQ(driver.seen()[0].title, QString::fromUtf8("確認"));
}

TEST(StepTimerTest, ArmedFromAnotherThreadTicksOnTheUiThread) {
  TickCountingView view;
  auto* timer = view.findChild<QTimer*>(QStringLiteral("stepTimer"));
  ASSERT_NE(timer, nullptr);
  std::thread([&] { view.ArmStepTimer(1); }).join();
  ASSERT_TRUE(WaitUntil([&] { return view.ticks >= 2; }));  // repeats until stopped
  EXPECT_FALSE(view.offUiThreadTick);
  EXPECT_EQ(timer->interval(), 1);

  ASSERT_TRUE(RunOnOtherThread([&] {
    view.StopStepTimer();
    // Calls keep their order: once this call has run, so has the stop. (The progress read
    // is no round trip, so a call that is one serves as the barrier.)
    view.SetTargetVersionText("");
  }));
  EXPECT_FALSE(timer->isActive());

  ASSERT_TRUE(RunOnOtherThread([&] {
    view.ArmStepTimer(5000);
    view.ArmStepTimer(1000);  // arming again replaces the earlier arming
    view.SetTargetVersionText("");
  }));
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 1000);
}

TEST(CloseMainWindowTest, ClosesTheWindowLaterNeverInsideTheStep) {
  CFWUpdaterView view;
  view.show();
  ASSERT_TRUE(WaitUntil([&] { return view.isVisible(); }));
  view.CloseMainWindow();
  EXPECT_TRUE(view.isVisible()) << "closed inside the caller";
  ASSERT_TRUE(WaitUntil([&] { return !view.isVisible(); }));
  // The close went through BeginClose: the worker's calls now return at once.
  EXPECT_EQ(view.ShowMessageBox("late", nullptr, MB_YESNO), IDNO);
}

TEST(CloseMainWindowTest, FromTheWorkerClosesTheWindowOnTheUiThread) {
  CFWUpdaterView view;
  view.show();
  ASSERT_TRUE(WaitUntil([&] { return view.isVisible(); }));
  std::thread([&] { view.CloseMainWindow(); }).join();
  ASSERT_TRUE(WaitUntil([&] { return !view.isVisible(); }));
}

TEST(BeginCloseTest, ReleasesAWorkerWaitingInsideAnOpenBox) {
  auto view = std::make_unique<CFWUpdaterView>();
  view->show();
  std::promise<int> answerPromise;
  std::future<int> answer = answerPromise.get_future();
  bool workerAnsweredWhileBoxLoopRan = false;
  BoxDriver driver([&](QMessageBox&) {
    // Still inside the box's own event loop: the UI thread cannot serve the worker now.
    view->BeginClose();
    workerAnsweredWhileBoxLoopRan =
        answer.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  });
  std::thread worker(
      [&] { answerPromise.set_value(view->ShowMessageBox("update?", "確認", MB_YESNO)); });
  ASSERT_TRUE(WaitUntil(
      [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  worker.join();
  EXPECT_EQ(driver.seen().size(), 1u);
  EXPECT_TRUE(workerAnsweredWhileBoxLoopRan);
  EXPECT_EQ(answer.get(), IDNO);  // dismissed: nothing goes ahead
  EXPECT_TRUE(view->findChildren<QMessageBox*>().isEmpty());
  view.reset();
}

TEST(BeginCloseTest, LaterWorkerCallsReturnAtOnceAndDoNothing) {
  CFWUpdaterView view;
  auto* log = view.findChild<QListWidget*>(QStringLiteral("operationLog1009"));
  auto* progress = view.findChild<QProgressBar*>(QStringLiteral("progress1001"));
  ASSERT_TRUE(log && progress);
  view.SetProgressPosition(700);
  view.BeginClose();
  view.BeginClose();  // idempotent

  int yesNo = 0, okCancel = 0, ok = 0, relabelled = 0, position = -1;
  // No event loop runs while the worker asks: every answer must come without the UI thread.
  std::thread([&] {
    yesNo = view.ShowMessageBox("q", nullptr, MB_YESNO);
    okCancel = view.ShowMessageBox("q", nullptr, MB_OKCANCEL);
    ok = view.ShowMessageBox("q", nullptr, MB_OK | MB_ICONERROR);
    relabelled = view.ShowRelabelledMessageBox("q", "", MB_OKCANCEL);
    position = view.GetProgressPosition();
    view.AddLogLine("late", true);
    view.SetProgressPosition(9000);
    view.ArmStepTimer(1);
  }).join();
  EXPECT_EQ(yesNo, IDNO);
  EXPECT_EQ(okCancel, IDCANCEL);
  EXPECT_EQ(ok, IDOK);
  EXPECT_EQ(relabelled, IDCANCEL);
  EXPECT_EQ(position, 0);

  QCoreApplication::processEvents();
  EXPECT_EQ(log->count(), 0);
  EXPECT_EQ(progress->value(), 700);
  EXPECT_FALSE(view.findChild<QTimer*>(QStringLiteral("stepTimer"))->isActive());
  EXPECT_TRUE(view.findChildren<QMessageBox*>().isEmpty());
  // The UI thread itself gets no new box either.
  EXPECT_EQ(view.ShowMessageBox("q", nullptr, MB_YESNO), IDNO);
}

TEST(BeginCloseTest, DropsARequestThatHasNotRunYet) {
  CFWUpdaterView view;
  std::atomic<bool> asking{false};
  std::atomic<int> answer{0};
  std::thread worker([&] {
    asking = true;
    answer = view.ShowMessageBox("q", nullptr, MB_OKCANCEL);
  });
  // No event loop runs here, so the request waits in the queue (or is not yet made).
  while (!asking) std::this_thread::yield();
  view.BeginClose();
  worker.join();
  EXPECT_EQ(answer.load(), IDCANCEL);
  QCoreApplication::processEvents();
  EXPECT_TRUE(view.findChildren<QMessageBox*>().isEmpty()) << "a dropped request ran later";
}

}  // namespace
