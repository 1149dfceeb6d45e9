// The progress bar as the worker drives it: a read answers at once with what was last set
// (on either thread), a write is only noted, and the bar takes the latest value a moment later
// or as soon as the UI thread looks at it, with at most one update waiting however fast the
// worker writes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProgressBar>
#include <atomic>
#include <thread>
#include <vector>

#include "view_test_support.h"

namespace {

// A view with its progress bar, and every value the bar has shown.
class WorkerProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(m_bar, nullptr);
    QObject::connect(m_bar, &QProgressBar::valueChanged,
                     [this](int value) { m_shown.push_back(value); });
  }

  std::vector<int> m_shown;
  CFWUpdaterView m_view;
  QProgressBar* const m_bar = m_view.findChild<QProgressBar*>(QStringLiteral("progress1001"));
};

TEST_F(WorkerProgressTest, ReadsNeedNoUiThreadAndWritesArriveInOrder) {
  std::vector<int> read;
  // No event loop runs while the worker works: its reads must not wait for the UI thread.
  std::thread([&] {
    for (int position : {625, 1250, 12000, -5, 9800}) {
      m_view.SetProgressPosition(position);
      read.push_back(m_view.GetProgressPosition());
    }
  }).join();
  EXPECT_EQ(read, (std::vector<int>{625, 1250, 10000, 0, 9800}));

  ASSERT_TRUE(WaitUntil([&] { return m_bar->value() == 9800; }));
  // Writes that came while an update waited are taken together: the bar shows the newest.
  EXPECT_EQ(m_shown, (std::vector<int>{9800}));
  EXPECT_EQ(m_view.GetProgressPosition(), 9800);
}

TEST_F(WorkerProgressTest, AWorkerWritingWithoutPauseNeverFloodsTheUiThread) {
  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::atomic<int> last{0};
  std::thread worker([&] {
    for (int position = 1; !stop.load(); position = position % 9800 + 1) {
      m_view.SetProgressPosition(position);
      last = position;
      ++writes;
    }
  });
  // The event loop keeps coming back, and keeps showing new positions, although the worker
  // never stops writing.
  const bool kept = WaitUntil([&] { return writes.load() > 20000 && m_shown.size() > 3; });
  stop = true;
  worker.join();
  ASSERT_TRUE(kept);
  ASSERT_TRUE(WaitUntil([&] { return m_bar->value() == last.load(); }));
  ASSERT_FALSE(m_shown.empty());
  EXPECT_EQ(m_shown.back(), last.load());
}

TEST_F(WorkerProgressTest, TheUiThreadFindsTheWorkersLatestPositionWithoutWaiting) {
  // No event loop runs in between: a read on the UI thread brings the bar up to date.
  std::thread([&] { m_view.SetProgressPosition(4321); }).join();
  EXPECT_EQ(m_view.GetProgressPosition(), 4321);
  EXPECT_EQ(m_bar->value(), 4321);

  // So does a new range, which then judges the worker's position, not an older one.
  std::thread([&] { m_view.SetProgressPosition(300); }).join();
  m_view.SetProgressRange(500, 10000);
  EXPECT_EQ(m_bar->value(), 500);
  // A position set on the UI thread wins over the worker's earlier one still waiting.
  std::thread([&] { m_view.SetProgressPosition(7000); }).join();
  m_view.SetProgressPosition(9000);
  // Let the worker's waiting update come due: it must not undo the newer position.
  WaitUntil([] { return false; }, 100);
  EXPECT_EQ(m_bar->value(), 9000);
  EXPECT_EQ(m_view.GetProgressPosition(), 9000);
}

TEST_F(WorkerProgressTest, WorkerSeesWhatTheUiThreadSetAndTheNewRange) {
  m_view.SetProgressPosition(700);
  int seen = -1;
  std::thread([&] { seen = m_view.GetProgressPosition(); }).join();
  EXPECT_EQ(seen, 700);

  // A range that leaves the position outside reads its low end, for the worker too.
  m_view.SetProgressRange(1000, 2000);
  std::thread([&] {
    seen = m_view.GetProgressPosition();
    m_view.SetProgressPosition(5000);  // clamped to the new top
  }).join();
  EXPECT_EQ(seen, 1000);
  ASSERT_TRUE(WaitUntil([&] { return m_bar->value() == 2000; }));
  EXPECT_EQ(m_view.GetProgressPosition(), 2000);
}

}  // namespace
