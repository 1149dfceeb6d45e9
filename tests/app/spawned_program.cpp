// Starting the built program as a child process and watching it end.
#include "spawned_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>

#include "app_test_support.h"

extern char** environ;

std::string ProgramPath() {
#ifdef FWU_PROGRAM_PATH
  return FWU_PROGRAM_PATH;
#else
  return QCoreApplication::applicationDirPath().toStdString() + "/FWUpdater";
#endif
}

SpawnedProgram::SpawnedProgram(const std::string& workingFolder, const std::string& errorFile,
                               const std::map<std::string, std::string>& overrides,
                               const std::vector<std::string>& removed,
                               const std::string& programPath,
                               const std::vector<std::string>& arguments)
    : m_errorFile(errorFile) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const std::string& name : removed) environment.erase(name);
  for (const auto& [name, value] : overrides) environment[name] = value;
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
  std::vector<char*> environmentPointers;
  for (std::string& entry : entries) environmentPointers.push_back(entry.data());
  environmentPointers.push_back(nullptr);

  std::string program = programPath.empty() ? ProgramPath() : programPath;
  std::vector<std::string> argumentTexts = arguments;
  std::vector<char*> argumentPointers{program.data()};
  for (std::string& argument : argumentTexts) argumentPointers.push_back(argument.data());
  argumentPointers.push_back(nullptr);
  const std::string outputFile = errorFile + ".out";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&defaults, signalNumber);
  sigset_t noneBlocked;
  sigemptyset(&noneBlocked);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &noneBlocked);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  if (posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argumentPointers.data(),
                  environmentPointers.data()) != 0) {
    m_pid = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

SpawnedProgram::~SpawnedProgram() {
  if (Running()) {
    ::kill(m_pid, SIGKILL);
    WaitForEnd(30000);
  }
}

bool SpawnedProgram::Running() {
  if (m_pid <= 0 || m_ended) return false;
  int status = 0;
  if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
    m_ended = true;
    m_status = status;
    return false;
  }
  return true;
}

bool SpawnedProgram::WaitForEnd(int timeoutMs) {
  return WaitUntil([this] { return !Running(); }, timeoutMs);
}

bool SpawnedProgram::WaitForOutput(const QString& text, int timeoutMs) {
  WaitUntil([&] { return ErrorOutput().contains(text) || !Running(); }, timeoutMs);
  // Read once more: what it wrote just before it ended still counts.
  return ErrorOutput().contains(text);
}

void SpawnedProgram::Signal(int signalNumber) {
  if (Running()) ::kill(m_pid, signalNumber);
}

bool SpawnedProgram::ExitedNormally() const {
  return m_ended && WIFEXITED(m_status);
}

int SpawnedProgram::ExitCode() const {
  return ExitedNormally() ? WEXITSTATUS(m_status) : -1;
}

int SpawnedProgram::EndingSignal() const {
  return m_ended && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0;
}

QString SpawnedProgram::ErrorOutput() const {
  QFile file(QString::fromStdString(m_errorFile));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString SpawnedProgram::StandardOutput() const {
  QFile file(QString::fromStdString(m_errorFile + ".out"));
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
