// The built FWUpdater started as a child process for process-level tests: its environment,
// working folder and standard error chosen by the test, its end and exit status observed.
#pragma once

#include <sys/types.h>

#include <QString>
#include <map>
#include <string>
#include <vector>

// The program under test: the FWUpdater of this build folder (a sanitizer build's own in a
// sanitizer build folder), or the one beside the test program.
std::string ProgramPath();

// One copy of the program, started with posix_spawn: unlike QProcess, which may start its
// child sharing the parent's memory, it runs no code of ours between fork and exec, which
// keeps ThreadSanitizer builds of the tests sound. Standard input is /dev/null, standard error
// goes to a file and standard output to another beside it (the same name with ".out"). The termination signals start with their default effect and
// unblocked, whatever the test process does with them. Used on the test's main thread.
class SpawnedProgram {
 public:
  // The test process's environment with overrides set and the names in removed taken out.
  // program: ProgramPath() when empty. arguments follow the program's name.
  SpawnedProgram(const std::string& workingFolder, const std::string& errorFile,
                 const std::map<std::string, std::string>& overrides,
                 const std::vector<std::string>& removed = {}, const std::string& program = {},
                 const std::vector<std::string>& arguments = {});
  // Kills (SIGKILL) a copy that still runs, and reaps it.
  ~SpawnedProgram();

  SpawnedProgram(const SpawnedProgram&) = delete;
  SpawnedProgram& operator=(const SpawnedProgram&) = delete;

  bool started() const { return m_pid > 0; }
  pid_t pid() const { return m_pid; }

  // Reaps the child if it has ended; true while it runs.
  bool Running();
  // Whether it ended within timeoutMs (a guard against a hang, not a measure of speed).
  bool WaitForEnd(int timeoutMs);
  // Whether standard error holds text within timeoutMs; false at once when the program ends
  // without having written it.
  bool WaitForOutput(const QString& text, int timeoutMs);

  // Sends a signal while the program runs.
  void Signal(int signalNumber);

  // After the end: exited by itself (not by a signal), and with what status.
  bool ExitedNormally() const;
  int ExitCode() const;
  // The signal that ended it, 0 if none.
  int EndingSignal() const;

  QString ErrorOutput() const;
  QString StandardOutput() const;

 private:
  std::string m_errorFile;
  pid_t m_pid = -1;
  bool m_ended = false;
  int m_status = 0;
};
