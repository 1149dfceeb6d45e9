// The real program on private buses while it writes: logind's inhibitor lock (python-dbusmock's
// logind) held from the yes until the writes stop, and the dock's progress signals, which rise
// and end hidden. Never the machine's own buses.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "private_bus.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

constexpr int kBusWaitMs = 20000;

const QString kProgramName = QStringLiteral("SCRIBOLANTE X FW Updater");
const QString kDesktopEntry = QStringLiteral("application://FWUpdater.AppID.NoVersion.desktop");
const QString kFailureBox =
    QStringLiteral("[message box] SCRIBOLANTE X との通信に異常が発生しました。");

class DesktopBusProcessTest : public ProcessTest {
 protected:
  void SetUp() override {
    ProcessTest::SetUp();
    if (!PrivateBusToolsPresent()) GTEST_SKIP() << "dbus-daemon or python3-dbusmock not installed";
    ASSERT_TRUE(m_system.Start()) << m_system.failure();
    ASSERT_TRUE(m_session.Start()) << m_session.failure();
    ASSERT_TRUE(m_system.StartMockLogind()) << m_system.failure();
  }

  SpawnedProgram& StartOnPrivateBuses(int answeredBoxes) {
    return Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", std::to_string(answeredBoxes)},
                  {"DBUS_SYSTEM_BUS_ADDRESS", m_system.address().toStdString()},
                  {"DBUS_SESSION_BUS_ADDRESS", m_session.address().toStdString()}});
  }

  // Our locks as logind lists them.
  std::vector<ListedInhibitor> OurLocks() {
    std::vector<ListedInhibitor> ours;
    for (const ListedInhibitor& lock : m_system.ListInhibitors()) {
      if (lock.who == kProgramName) ours.push_back(lock);
    }
    return ours;
  }
  bool WaitForLock(bool held, const std::function<bool()>& giveUp = {}) {
    return PrivateBus::WaitFor([&] { return OurLocks().empty() != held || (giveUp && giveUp()); },
                               kBusWaitMs) &&
           OurLocks().empty() != held;
  }

  // The dock's updates: every one for our desktop entry; shown ones rise; the last one hides.
  void ExpectRisingProgressThatEndsHidden() {
    ASSERT_TRUE(PrivateBus::WaitFor(
        [&] {
          const auto& updates = m_session.LauncherEntryUpdates();
          return !updates.empty() && !updates.back().progressVisible;
        },
        kBusWaitMs))
        << m_session.LauncherEntryUpdates().size() << " updates, the last one not hiding";
    const auto& updates = m_session.LauncherEntryUpdates();
    ASSERT_GE(updates.size(), 3u);
    double last = -1;
    for (std::size_t index = 0; index + 1 < updates.size(); ++index) {
      EXPECT_EQ(updates[index].application, kDesktopEntry);
      EXPECT_TRUE(updates[index].progressVisible) << index;
      EXPECT_GT(updates[index].progress, last) << index;
      EXPECT_LE(updates[index].progress, 1.0);
      last = updates[index].progress;
    }
    EXPECT_EQ(updates.front().progress, 0.0);
    // At most one signal per whole percent.
    EXPECT_LE(updates.size(), 102u);
  }

  // A 32-block update at a device's pace (about four seconds of writing) whose question is
  // answered and whose completion box stays open, so the program is still there after it: waits
  // for our one lock while blocks are written, checks what it blocks and its mode, and hands
  // back the running program. Null (with a failure recorded) where the lock never came.
  SpawnedProgram* StartAndExpectOneLockWhileWriting(const char* what) {
    WriteFirmware(32);
    WriteScenario("list 1 SCRIBOLANTE-X-1\nrate 262144\n");
    SpawnedProgram& program = StartOnPrivateBuses(1);
    if (!WaitForLock(true)) {
      ADD_FAILURE() << "no lock while writing\n" << program.ErrorOutput().toStdString();
      return nullptr;
    }
    const std::vector<ListedInhibitor> locks = OurLocks();
    EXPECT_EQ(locks.size(), 1u);
    if (locks.empty()) return nullptr;
    EXPECT_EQ(locks[0].what, QString::fromUtf8(what));
    EXPECT_EQ(locks[0].why, QStringLiteral("SCRIBOLANTE X のファームウェアを更新しています"));
    EXPECT_EQ(locks[0].mode, QStringLiteral("block"));
    EXPECT_FALSE(program.ErrorOutput().contains(kCompletionBox))
        << "the lock came after the writes";
    return &program;
  }

  PrivateBus m_system{rootFolder(), "system"};
  PrivateBus m_session{rootFolder(), "session"};
};

TEST_F(DesktopBusProcessTest, TheLockIsHeldWhileBlocksAreWrittenAndReleasedAtCompletion) {
  SpawnedProgram* started = StartAndExpectOneLockWhileWriting("sleep:idle:handle-lid-switch");
  ASSERT_NE(started, nullptr);
  SpawnedProgram& program = *started;

  ASSERT_TRUE(program.WaitForOutput(kCompletionBox, kUpdateRunTimeoutMs))
      << program.ErrorOutput().toStdString();
  // Released while the completion message waits for the user.
  EXPECT_TRUE(WaitForLock(false));
  EXPECT_TRUE(program.Running());
  ExpectRisingProgressThatEndsHidden();
  EXPECT_EQ(
      m_session.LauncherEntryUpdates().at(m_session.LauncherEntryUpdates().size() - 2).progress,
      1.0);

  program.Signal(SIGTERM);
  ASSERT_TRUE(program.WaitForEnd(kHangTimeoutMs));
  EXPECT_EQ(program.ExitCode(), 0);
  ExpectNoSanitizerReport(program.ErrorOutput().toStdString());
}

TEST_F(DesktopBusProcessTest, ALogindThatRefusesTheLidSwitchGivesTheLockOnSleepAndIdle) {
  ASSERT_TRUE(m_system.MakeLogindRefuseTheLidSwitch()) << m_system.failure();
  SpawnedProgram* started = StartAndExpectOneLockWhileWriting("sleep:idle");
  ASSERT_NE(started, nullptr);
  SpawnedProgram& program = *started;
  // Asked for with the lid switch first, refused, then asked for again without it.
  const QString log = m_system.MockLog();
  const qsizetype refusal = log.indexOf(QStringLiteral("Inhibit raised"));
  EXPECT_GT(refusal, log.indexOf(QStringLiteral("Inhibit \"sleep:idle:handle-lid-switch\"")))
      << log.toStdString();
  EXPECT_GT(log.indexOf(QStringLiteral("Inhibit \"sleep:idle\""), refusal), refusal)
      << log.toStdString();

  ASSERT_TRUE(program.WaitForOutput(kCompletionBox, kUpdateRunTimeoutMs))
      << program.ErrorOutput().toStdString();
  EXPECT_TRUE(WaitForLock(false));
  EXPECT_TRUE(program.Running());
  EXPECT_FALSE(program.ErrorOutput().contains(QStringLiteral("no logind lock")));

  program.Signal(SIGTERM);
  ASSERT_TRUE(program.WaitForEnd(kHangTimeoutMs));
  EXPECT_EQ(program.ExitCode(), 0);
  ExpectNoSanitizerReport(program.ErrorOutput().toStdString());
}

TEST_F(DesktopBusProcessTest, AFailureThatStartsOverHoldsNoLockInItsPauseAndTakesANewOne) {
  WriteFirmware(16);
  // Exchange 20 is block 10's data: the first pass fails there, the second completes.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nrate 262144\nfail transfer 20\n");
  SpawnedProgram& program = StartOnPrivateBuses(4);

  ASSERT_TRUE(WaitForLock(true)) << program.ErrorOutput().toStdString();
  ASSERT_TRUE(program.WaitForOutput(kFailureBox, kUpdateRunTimeoutMs))
      << program.ErrorOutput().toStdString();
  // Gone before the next question ends the pause.
  const auto secondQuestion = [&] { return program.ErrorOutput().count(kConfirmationBox) >= 2; };
  EXPECT_TRUE(WaitForLock(false, secondQuestion)) << "the lock outlived the failed attempt";
  EXPECT_FALSE(secondQuestion()) << "the pause ended before the lock was released";
  ASSERT_TRUE(WaitForLock(true)) << "the second attempt wrote without a lock";

  ASSERT_TRUE(program.WaitForEnd(kUpdateRunTimeoutMs));
  EXPECT_EQ(program.ExitCode(), 0) << program.ErrorOutput().toStdString();
  EXPECT_TRUE(WaitForLock(false));
}

TEST_F(DesktopBusProcessTest, ALogindThatNeverAnswersDoesNotHoldTheUpdate) {
  ASSERT_TRUE(m_system.MakeLogindSilent()) << m_system.failure();
  WriteFirmware(4);
  SpawnedProgram& program = StartOnPrivateBuses(2);
  // The whole update within the normal wait, while the request is still unanswered.
  ASSERT_TRUE(program.WaitForEnd(kUpdateRunTimeoutMs)) << program.ErrorOutput().toStdString();
  EXPECT_EQ(program.ExitCode(), 0) << program.ErrorOutput().toStdString();
  EXPECT_TRUE(m_system.MockLog().contains(QStringLiteral("Inhibit"))) << "no request was made";
  ExpectNoSanitizerReport(program.ErrorOutput().toStdString());
}

TEST_F(DesktopBusProcessTest, AWindowClosedMidWriteHidesTheDockProgress) {
  WriteFirmware(64);
  WriteScenario("list 1 SCRIBOLANTE-X-1\nrate 131072\n");
  SpawnedProgram& program = StartOnPrivateBuses(1);
  ASSERT_TRUE(
      PrivateBus::WaitFor([&] { return m_session.LauncherEntryUpdates().size() >= 3; }, kBusWaitMs))
      << program.ErrorOutput().toStdString();
  program.Signal(SIGTERM);
  ASSERT_TRUE(program.WaitForEnd(kHangTimeoutMs));
  EXPECT_NE(program.ExitCode(), 0);
  ExpectNoSanitizerReport(program.ErrorOutput().toStdString());
  ExpectRisingProgressThatEndsHidden();
  const auto& updates = m_session.LauncherEntryUpdates();
  EXPECT_LT(updates[updates.size() - 2].progress, 1.0) << "the close came too late";
  // Hidden where it stood.
  EXPECT_EQ(updates.back().progress, updates[updates.size() - 2].progress);
}

}  // namespace
