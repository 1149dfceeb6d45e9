// The single-instance rule between real processes: the built FWUpdater is started as child
// processes, offscreen and unattended, sharing a guard name of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

extern char** environ;

namespace {

std::string ProgramPath() {
#ifdef FWU_PROGRAM_PATH
  return FWU_PROGRAM_PATH;
#else
  return QCoreApplication::applicationDirPath().toStdString() + "/FWUpdater";
#endif
}

// One copy of the program, started with posix_spawn: unlike QProcess, which may start its
// child sharing the parent's memory, it runs no code of ours between fork and exec, which
// keeps ThreadSanitizer builds of this test sound. Standard error goes to a file.
class SpawnedProgram {
 public:
  SpawnedProgram(const std::string& workingFolder, const std::string& errorFile,
                 const std::map<std::string, std::string>& overrides)
      : m_errorFile(errorFile) {
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::size_t equals = text.find('=');
      if (equals != std::string::npos)
        environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : overrides) environment[name] = value;
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> environmentPointers;
    for (std::string& entry : entries) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);

    std::string program = ProgramPath();
    char* argumentPointers[] = {program.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argumentPointers,
                    environmentPointers.data()) != 0) {
      m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }

  ~SpawnedProgram() {
    if (Running()) {
      ::kill(m_pid, SIGKILL);
      WaitForEnd(30000);
    }
  }

  bool started() const { return m_pid > 0; }

  bool Running() {
    if (m_pid <= 0 || m_ended) return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_ended = true;
      m_status = status;
      return false;
    }
    return true;
  }

  // Whether it ended within timeoutMs.
  bool WaitForEnd(int timeoutMs) {
    return WaitUntil([this] { return !Running(); }, timeoutMs);
  }

  void Signal(int signalNumber) {
    if (Running()) ::kill(m_pid, signalNumber);
  }

  bool ExitedNormally() const { return m_ended && WIFEXITED(m_status); }
  int ExitCode() const { return WEXITSTATUS(m_status); }

  QString ErrorOutput() const {
    QFile file(QString::fromStdString(m_errorFile));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  }

 private:
  std::string m_errorFile;
  pid_t m_pid = -1;
  bool m_ended = false;
  int m_status = 0;
};

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
  EXPECT_NE(second.ExitCode(), 0);
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

  next.Signal(SIGTERM);  // ends it as well
  ASSERT_TRUE(next.WaitForEnd(30000));
  EXPECT_TRUE(WaitForGuard(false));
}

}  // namespace
