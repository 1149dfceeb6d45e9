// A fixture for tests that run the built program as a child process: a private folder with
// the working folder, the settings, a scenario for the simulated device with its trace, and
// a present-device list, and the checks every such run shares.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "spawned_program.h"

// How long a program may take to end once asked before the test calls it hung.
inline constexpr int kHangTimeoutMs = 30000;

// The lines the program echoes (FWU_ECHO_UI) as it shows the update question and the
// completion message.
inline const QString kConfirmationBox =
    QStringLiteral("[message box] SCRIBOLANTE X をUpdateしますか？");
inline const QString kCompletionBox =
    QStringLiteral("[message box] SCRIBOLANTE X のUpdateが完了しました。 アプリを終了します。");

// Fails the test if standard error holds a sanitizer's report.
void ExpectNoSanitizerReport(const std::string& errors);

// How long a whole update of a few blocks may take, in a sanitizer build too.
inline constexpr int kUpdateRunTimeoutMs = 90000;

// Waits for the program's end, then checks that it ended by itself with status and without a
// sanitizer's report; a program that does not end fails the test instead of hanging it.
void ExpectEndsWith(SpawnedProgram& program, int status, int timeoutMs = kUpdateRunTimeoutMs);

class ProcessTest : public testing::Test {
 protected:
  void SetUp() override;

  // The program in the working folder, offscreen, echoing its log lines and boxes to standard
  // error, with a guard name, settings, scenario and device list of this test's own, and with
  // every box shown (no automatic answers). extra adds or overrides variables, removed takes
  // them out; arguments follow the program's name.
  SpawnedProgram& Start(const std::map<std::string, std::string>& extra = {},
                        const std::vector<std::string>& arguments = {},
                        const std::vector<std::string>& removed = {});

  // Runs a copy of the program from a folder of its own, without the vendor library beside
  // it, in later starts.
  void UseProgramWithoutLibrary();
  // Runs another program of this build (beside the vendor library) in later starts.
  void UseProgram(const std::string& path) { m_program = path; }

  // A firmware file of whole 32 KiB blocks in the working folder, of varied bytes, dated in
  // the past so that any rewrite would show in its modification time.
  void WriteFirmware(int blocks);
  // The scenario of the simulated device (see simdevice/SCENARIOS.md); a trace line is added.
  void WriteScenario(const std::string& settings);
  // The present-device list shows the device in its normal mode.
  void MakeNormalModeDeviceList();
  // Trace lines of the simulated library that contain text.
  int TraceLines(const std::string& text) const;
  // Waits until the simulated library has traced at least count lines that contain text, or
  // the program has ended; false if neither has come by timeoutMs.
  bool WaitForTraceLines(SpawnedProgram& program, const std::string& text, int count,
                         int timeoutMs = kUpdateRunTimeoutMs) const;

  QString workFolder() const { return m_root.filePath(QStringLiteral("work")); }
  // Where the programs of this test keep their update history.
  std::string historyFile() const {
    return rootFolder() + "/state/scribolante-fw-updater/history.log";
  }
  std::string rootFolder() const { return m_root.path().toStdString(); }

 private:
  QTemporaryDir m_root;
  std::string m_guardName;
  std::string m_program;  // empty: ProgramPath()
  std::vector<std::unique_ptr<SpawnedProgram>> m_programs;
};
