// The termination-signal layer: each signal reaches the event loop as one emission instead of
// ending the process, from any thread, and the process's previous dispositions come back.
#include "platform/termination_signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "event_loop_wait.h"

namespace {

using platform::TerminationSignals;

std::atomic<int> customHandlerCalls{0};
void CountingHandler(int) {
  customHandlerCalls.fetch_add(1);
}

// Waits as WaitUntil does, then lets the event loop run a little longer, so that an emission
// that must not follow has its chance to show.
bool WaitUntilThenSettle(const std::function<bool()>& condition) {
  if (!WaitUntil(condition)) return false;
  for (int spin = 0; spin < 20; ++spin) QCoreApplication::processEvents();
  return true;
}

void SetDisposition(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(signalNumber, &action, nullptr), 0);
}

void (*Disposition(int signalNumber))(int) {
  struct sigaction action {};
  ::sigaction(signalNumber, nullptr, &action);
  return action.sa_handler;
}

class TerminationSignalsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A test run started in the background of a script may ignore SIGINT; start from the
    // defaults, and give the process's own dispositions back afterwards.
    for (std::size_t index = 0; index < platform::kTerminationSignals.size(); ++index) {
      ::sigaction(platform::kTerminationSignals[index], nullptr, &m_saved[index]);
      SetDisposition(platform::kTerminationSignals[index], SIG_DFL);
    }
    customHandlerCalls.store(0);
    static int argc = 1;
    static char name[] = "platform_tests";
    static char* argv[] = {name, nullptr};
    m_application = std::make_unique<QCoreApplication>(argc, argv);
  }

  void TearDown() override {
    m_application.reset();
    for (std::size_t index = 0; index < platform::kTerminationSignals.size(); ++index) {
      ::sigaction(platform::kTerminationSignals[index], &m_saved[index], nullptr);
    }
  }

  // Records every emission of termination.
  void Record(TerminationSignals& termination) {
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &termination,
                     [this](int signalNumber) { m_received.push_back(signalNumber); });
  }

  std::unique_ptr<QCoreApplication> m_application;
  std::vector<int> m_received;
  struct sigaction m_saved[platform::kTerminationSignals.size()]{};
};

TEST_F(TerminationSignalsTest, EachSignalIsEmittedOnTheEventLoopAndTheProcessGoesOn) {
  TerminationSignals termination;
  ASSERT_TRUE(termination.installed());
  Record(termination);

  ASSERT_EQ(::raise(SIGTERM), 0);
  ASSERT_EQ(::raise(SIGINT), 0);
  ASSERT_EQ(::raise(SIGHUP), 0);
  // Nothing is emitted inside the handler: only the event loop delivers.
  EXPECT_TRUE(m_received.empty());
  ASSERT_TRUE(WaitUntil([&] { return m_received.size() >= 3; }));
  EXPECT_EQ(m_received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));

  // Another burst while the receiver is still busy is delivered too, and nothing more.
  m_received.clear();
  ASSERT_EQ(::raise(SIGINT), 0);
  ASSERT_TRUE(WaitUntilThenSettle([&] { return !m_received.empty(); }));
  EXPECT_EQ(m_received, std::vector<int>{SIGINT});
}

TEST_F(TerminationSignalsTest, SignalTakenOnAnotherThreadIsEmittedOnTheCreatingThread) {
  TerminationSignals termination;
  ASSERT_TRUE(termination.installed());
  std::thread::id emittedOn;
  QObject::connect(&termination, &TerminationSignals::terminationRequested, &termination,
                   [&](int signalNumber) {
                     m_received.push_back(signalNumber);
                     emittedOn = std::this_thread::get_id();
                   });

  // raise() on a thread of its own runs the handler on that thread.
  std::thread other([] { ::raise(SIGTERM); });
  other.join();
  ASSERT_TRUE(WaitUntil([&] { return !m_received.empty(); }));
  EXPECT_EQ(m_received, std::vector<int>{SIGTERM});
  EXPECT_EQ(emittedOn, std::this_thread::get_id());
}

TEST_F(TerminationSignalsTest, ReceiverMayDestroyTheObjectWhileMoreSignalsWait) {
  auto* termination = new TerminationSignals;
  ASSERT_TRUE(termination->installed());
  int emissions = 0;
  QObject::connect(termination, &TerminationSignals::terminationRequested, termination,
                   [&emissions, termination](int) {
                     ++emissions;
                     delete termination;
                   });
  ASSERT_EQ(::raise(SIGTERM), 0);
  ASSERT_EQ(::raise(SIGHUP), 0);
  ASSERT_TRUE(WaitUntilThenSettle([&] { return emissions > 0; }));
  EXPECT_EQ(emissions, 1);
  // The dispositions went back with it: a fresh instance installs again.
  EXPECT_EQ(Disposition(SIGTERM), SIG_DFL);
  TerminationSignals again;
  EXPECT_TRUE(again.installed());
}

TEST_F(TerminationSignalsTest, DestructionGivesBackTheHandlersThatWereThere) {
  SetDisposition(SIGTERM, &CountingHandler);
  {
    TerminationSignals termination;
    ASSERT_TRUE(termination.installed());
    Record(termination);
    EXPECT_NE(Disposition(SIGTERM), &CountingHandler);
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(WaitUntil([&] { return !m_received.empty(); }));
    EXPECT_EQ(customHandlerCalls.load(), 0);
  }
  EXPECT_EQ(Disposition(SIGTERM), &CountingHandler);
  EXPECT_EQ(Disposition(SIGINT), SIG_DFL);
  EXPECT_EQ(Disposition(SIGHUP), SIG_DFL);
  ASSERT_EQ(::raise(SIGTERM), 0);
  EXPECT_EQ(customHandlerCalls.load(), 1);
}

TEST_F(TerminationSignalsTest, SignalIgnoredAtStartStaysIgnored) {
  SetDisposition(SIGHUP, SIG_IGN);
  TerminationSignals termination;
  ASSERT_TRUE(termination.installed());
  Record(termination);
  EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);

  ASSERT_EQ(::raise(SIGHUP), 0);  // ignored: the process goes on, nothing is emitted
  ASSERT_EQ(::raise(SIGTERM), 0);
  ASSERT_TRUE(WaitUntilThenSettle([&] { return !m_received.empty(); }));
  EXPECT_EQ(m_received, std::vector<int>{SIGTERM});
}

TEST_F(TerminationSignalsTest, OnlyOneInstanceHoldsTheSignals) {
  TerminationSignals first;
  ASSERT_TRUE(first.installed());
  Record(first);
  {
    TerminationSignals second;
    EXPECT_FALSE(second.installed());
  }
  // The refused instance took nothing away from the first.
  ASSERT_EQ(::raise(SIGINT), 0);
  ASSERT_TRUE(WaitUntil([&] { return !m_received.empty(); }));
  EXPECT_EQ(m_received, std::vector<int>{SIGINT});
}

}  // namespace
