// The single-instance rule between real processes: the built FWUpdater is started as child
// processes, offscreen and unattended, sharing a guard name of the test's own.
#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "platform/connect_guard.h"
#include "spawned_program.h"

namespace {

class SingleInstanceProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_folder.isValid());
    ASSERT_TRUE(QFileInfo(QString::fromStdString(ProgramPath())).isExecutable()) << ProgramPath();
    QDir(m_folder.path()).mkpath(QStringLiteral("work"));
  }

  void TearDown() override {
    for (const auto& program : m_programs) {
      program->Signal(SIGKILL);
      program->WaitForEnd(30000);
      // In sanitizer builds the copies are checked too.
      const QString errors = program->ErrorOutput();
      EXPECT_FALSE(errors.contains(QStringLiteral("Sanitizer"))) << errors.toStdString();
    }
  }

  // A copy of the program in an empty working folder (no firmware file, so its update keeps
  // waiting and never ends it), answering every box of its own by itself.
  SpawnedProgram& Start() {
    const std::string folder = m_folder.path().toStdString();
    const std::string errorFile = folder + "/stderr-" + std::to_string(m_programs.size());
    m_programs.push_back(std::make_unique<SpawnedProgram>(
        folder + "/work", errorFile,
        std::map<std::string, std::string>{{"QT_QPA_PLATFORM", "offscreen"},
                                           {"FWU_AUTO_ANSWER_BOXES", "1"},
                                           {"FWU_CONNECT_GUARD_NAME", m_name},
                                           {"XDG_CONFIG_HOME", folder + "/config"}}));
    return *m_programs.back();
  }

  bool WaitForGuard(bool held) {
    return WaitUntil([&] { return platform::IsConnectGuardHeld(m_name) == held; }, 60000);
  }

  QTemporaryDir m_folder;
  std::string m_name = UniqueGuardName();
  std::vector<std::unique_ptr<SpawnedProgram>> m_programs;
};

TEST_F(SingleInstanceProcessTest, SecondCopyIsRefusedAndTheFirstGoesOn) {
  SpawnedProgram& first = Start();
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(WaitForGuard(true)) << first.ErrorOutput().toStdString();

  SpawnedProgram& second = Start();
  ASSERT_TRUE(second.started());
  ASSERT_TRUE(second.WaitForEnd(60000)) << "the refused copy must end by itself";
  EXPECT_TRUE(second.ExitedNormally());
  EXPECT_EQ(second.ExitCode(), 1);
  const QString refusal = second.ErrorOutput();
  EXPECT_TRUE(refusal.contains(
      QStringLiteral("[複数起動検知] 他のアプリケーションが起動しているため、SCRIBOLANTE X "
                     "との通信ができません。\n"
                     "終了します。")))
      << refusal.toStdString();

  EXPECT_TRUE(first.Running());
  EXPECT_TRUE(platform::IsConnectGuardHeld(m_name));
}

TEST_F(SingleInstanceProcessTest, StartAfterTheHolderWasKilledSucceeds) {
  SpawnedProgram& first = Start();
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(WaitForGuard(true)) << first.ErrorOutput().toStdString();

  first.Signal(SIGKILL);  // no chance to clean up
  ASSERT_TRUE(first.WaitForEnd(30000));
  EXPECT_FALSE(platform::IsConnectGuardHeld(m_name));

  SpawnedProgram& next = Start();
  ASSERT_TRUE(next.started());
  ASSERT_TRUE(WaitForGuard(true)) << next.ErrorOutput().toStdString();
  EXPECT_TRUE(next.Running());

  next.Signal(SIGTERM);  // closes its window, which ends it normally and drops the guard
  ASSERT_TRUE(next.WaitForEnd(30000));
  EXPECT_TRUE(next.ExitedNormally()) << next.EndingSignal();
  EXPECT_EQ(next.ExitCode(), 2) << "closed without an update";
  EXPECT_TRUE(WaitForGuard(false));
}

}  // namespace
