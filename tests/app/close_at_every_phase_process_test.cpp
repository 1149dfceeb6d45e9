// The real program asked to end (SIGTERM, as a desktop session ending does) at every phase of
// the update, with and without a box open, even with a vendor call that never returns: it
// closes without asking (also while the device is being written) and exits with status 2 (no
// update; 0 only once the device has confirmed it), without a sanitizer report, and leaves its
// working folder and the firmware file exactly as they were.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QString>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "file_contents.h"
#include "folder_snapshot.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

using test_support::FolderSnapshot;

// Echoed lines that mark the phases.
const QString kNotFoundBox =
    QStringLiteral("[message box] バイナリファイルが見つかりませんでした。");
const QString kConnecting = QStringLiteral("[log] USB Connecting...");
const QString kNormalModeBox =
    QStringLiteral("[message box] 本体のバージョンが最新でないため接続ができません。");
const QString kCommunicationBox =
    QStringLiteral("[message box] SCRIBOLANTE X との通信に異常が発生しました。");
const QString kConfirmingChecksum = QStringLiteral("[log] Confirming checksum.");

// Reaching a phase may take the normal-mode box's thirty one-second polls, in a sanitizer
// build; still within the test runner's limit, so that a failure is reported as one.
constexpr int kPhaseTimeoutMs = 90000;

constexpr int kNoUpdateStatus = 2;

class CloseAtEveryPhaseTest : public ProcessTest {
 protected:
  // Sends the signals, waits for the end and checks the orderly exit and the untouched folder.
  // The measured close time is recorded, never judged.
  void CloseAndCheck(SpawnedProgram& program, const char* phase,
                     std::initializer_list<int> signalNumbers = {SIGTERM},
                     int expectedStatus = kNoUpdateStatus) {
    ASSERT_TRUE(program.Running()) << "ended before it was asked to\n"
                                   << program.ErrorOutput().toStdString();
    const auto start = std::chrono::steady_clock::now();
    for (const int signalNumber : signalNumbers) program.Signal(signalNumber);
    const bool ended = program.WaitForEnd(kHangTimeoutMs);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (!ended) {
      program.Signal(SIGKILL);
      program.WaitForEnd(kHangTimeoutMs);
      FAIL() << phase << ": hung after the termination request\n"
             << program.ErrorOutput().toStdString();
    }
    RecordProperty(std::string("close_ms_") + phase, std::to_string(elapsed.count()));
    std::printf("[ close time ] %s: %lld ms\n", phase, static_cast<long long>(elapsed.count()));

    const std::string errors = program.ErrorOutput().toStdString();
    EXPECT_TRUE(program.ExitedNormally())
        << phase << ": ended by signal " << program.EndingSignal() << "\n"
        << errors;
    EXPECT_EQ(program.ExitCode(), expectedStatus) << phase << "\n" << errors;
    ExpectNoSanitizerReport(errors);
    EXPECT_THAT(m_workBefore.DifferencesTo(FolderSnapshot::Take(workFolder().toStdString())),
                ::testing::IsEmpty())
        << phase;
  }

  // Starts the program once the working folder holds what the test put there.
  SpawnedProgram& StartProgram(const std::map<std::string, std::string>& extra = {}) {
    m_workBefore = FolderSnapshot::Take(workFolder().toStdString());
    return Start(extra);
  }

  // The history holds one line, of an attempt that ended so.
  bool HistoryEndsWith(const std::string& outcome) const {
    const std::vector<std::string> lines = test_support::FileLines(historyFile());
    EXPECT_EQ(lines.size(), 1u);
    return lines.size() == 1 && lines[0].ends_with(outcome);
  }

  test_support::FolderSnapshot m_workBefore;
};

TEST_F(CloseAtEveryPhaseTest, Phase0WithTheFirmwareNotFoundBoxOpen) {
  SpawnedProgram& program = StartProgram();
  ASSERT_TRUE(program.WaitForOutput(kNotFoundBox, kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  CloseAndCheck(program, "phase0-firmware-not-found-box");
  EXPECT_TRUE(QDir(workFolder()).isEmpty());
}

TEST_F(CloseAtEveryPhaseTest, Phase2PollingWithNoDevice) {
  WriteFirmware(4);
  WriteScenario("list 1\n");
  SpawnedProgram& program = StartProgram();
  ASSERT_TRUE(program.WaitForOutput(kConnecting, kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  // Polling for real: the library is loaded and has been asked twice.
  ASSERT_TRUE(WaitUntil([&] { return TraceLines("enumerate ") >= 2; }, kPhaseTimeoutMs));
  CloseAndCheck(program, "phase2-polling");
  EXPECT_FALSE(program.ErrorOutput().contains(QStringLiteral("[message box]")));
}

// The warning box has no owner window: closing the frame alone would leave it, and with it
// the program, running.
TEST_F(CloseAtEveryPhaseTest, Phase2WithTheLibraryWarningOpen) {
  UseProgramWithoutLibrary();
  WriteFirmware(4);
  SpawnedProgram& program = StartProgram();
  // The loader reports the failed load just before it shows the box.
  ASSERT_TRUE(program.WaitForOutput(QStringLiteral("GPlusUSBLibEx: "), kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  CloseAndCheck(program, "phase2-library-warning-box");
}

TEST_F(CloseAtEveryPhaseTest, Phase2WithTheNormalModeBoxOpen) {
  WriteFirmware(4);
  WriteScenario("list 1\n");
  MakeNormalModeDeviceList();
  SpawnedProgram& program = StartProgram();
  ASSERT_TRUE(program.WaitForOutput(kNormalModeBox, kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  CloseAndCheck(program, "phase2-normal-mode-box");
}

TEST_F(CloseAtEveryPhaseTest, Phase3WithTheConfirmationBoxOpen) {
  WriteFirmware(4);
  WriteScenario("list 1 SCRIBOLANTE-X-1\n");
  SpawnedProgram& program = StartProgram();
  ASSERT_TRUE(program.WaitForOutput(kConfirmationBox, kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  CloseAndCheck(program, "phase3-confirmation-box");
  EXPECT_EQ(TraceLines("command=f601"), 0) << "the dismissed question wrote nothing";
  EXPECT_TRUE(HistoryEndsWith("\tclosed"));
}

TEST_F(CloseAtEveryPhaseTest, Phase4InMidWrite) {
  WriteFirmware(16);
  // A quarter of a second per block: the writes take seconds.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nrate 131072\n");
  SpawnedProgram& program = StartProgram({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}});
  ASSERT_TRUE(WaitForTraceLines(program, "command=f601", 2, kPhaseTimeoutMs));
  CloseAndCheck(program, "phase4-mid-write");
  EXPECT_FALSE(program.ErrorOutput().contains(kConfirmingChecksum)) << "it was not mid-write";
  EXPECT_TRUE(HistoryEndsWith("\tclosed"));
  EXPECT_LT(TraceLines("command=f601"), 16);
}

TEST_F(CloseAtEveryPhaseTest, Phase4RepeatedRequestsWhileClosingChangeNothing) {
  WriteFirmware(16);
  WriteScenario("list 1 SCRIBOLANTE-X-1\nrate 131072\n");
  SpawnedProgram& program = StartProgram({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}});
  ASSERT_TRUE(WaitForTraceLines(program, "command=f601", 2, kPhaseTimeoutMs));
  // Ctrl+C pressed again and again while the worker finishes its transfer, then the session.
  CloseAndCheck(program, "phase4-repeated-requests", {SIGINT, SIGINT, SIGTERM, SIGHUP});
  EXPECT_FALSE(program.ErrorOutput().contains(kConfirmingChecksum));
}

TEST_F(CloseAtEveryPhaseTest, Phase4WithTheWorkersMessageBoxOpen) {
  WriteFirmware(4);
  // Exchange 1 is the device information, 2 and 3 block 1 and its status: 4 is block 2.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nfail transfer 4\n");
  SpawnedProgram& program = StartProgram({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}});
  ASSERT_TRUE(program.WaitForOutput(kCommunicationBox, kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  CloseAndCheck(program, "phase4-worker-box");
  EXPECT_EQ(TraceLines("command=f601"), 2) << "block 1, then block 2 that failed; no restart";
}

// A block transfer that never returns: the close cannot wait for the worker, and the program
// ends anyway, a few seconds later, as any close would.
TEST_F(CloseAtEveryPhaseTest, Phase4WithATransferThatNeverReturns) {
  WriteFirmware(4);
  // Exchange 4 is the transfer of block 2.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nhang 4\n");
  SpawnedProgram& program = StartProgram({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}});
  ASSERT_TRUE(WaitForTraceLines(program, "command=f601", 2, kPhaseTimeoutMs));
  CloseAndCheck(program, "phase4-stuck-transfer");
  EXPECT_TRUE(program.ErrorOutput().contains(QStringLiteral("did not answer")));
  EXPECT_EQ(TraceLines("command=f601"), 2);
}

// The device information read of phase 3 runs on the UI thread: stuck there, the program
// cannot even see the request, and still ends.
TEST_F(CloseAtEveryPhaseTest, Phase3WithADeviceReadThatNeverReturns) {
  WriteFirmware(4);
  WriteScenario("list 1 SCRIBOLANTE-X-1\nhang 1\n");
  SpawnedProgram& program = StartProgram();
  ASSERT_TRUE(WaitForTraceLines(program, "command=f600", 1, kPhaseTimeoutMs));
  CloseAndCheck(program, "phase3-stuck-device-read");
  EXPECT_FALSE(program.ErrorOutput().contains(kConfirmationBox));
}

// The checksum read of phase 5 runs on the UI thread: stuck there after the device was written,
// the program ends at the deadline with the attempt on record, and holds the guard until then.
TEST_F(CloseAtEveryPhaseTest, Phase5WithAChecksumReadThatNeverReturns) {
  WriteFirmware(2);
  // Exchange 1 is the device information, 2 to 5 the two blocks and their status: 6 the checksum.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nhang 6\n");
  SpawnedProgram& program = StartProgram({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}});
  ASSERT_TRUE(WaitForTraceLines(program, "command=f603", 1, kPhaseTimeoutMs));
  program.Signal(SIGTERM);
  // A second copy started while the first is still stuck in the device is refused.
  SpawnedProgram& second = Start({{"FWU_AUTO_ANSWER_BOXES", "1"}});
  ASSERT_TRUE(second.WaitForEnd(kHangTimeoutMs));
  EXPECT_EQ(second.ExitCode(), 1) << second.ErrorOutput().toStdString();
  EXPECT_TRUE(second.ErrorOutput().contains(QStringLiteral("[複数起動検知]")));
  CloseAndCheck(program, "phase5-stuck-checksum-read", {});
  EXPECT_TRUE(HistoryEndsWith("\tclosed"));
  EXPECT_FALSE(program.ErrorOutput().contains(kCompletionBox));
}

TEST_F(CloseAtEveryPhaseTest, Phase5WithTheCompletionBoxOpen) {
  WriteFirmware(2);
  WriteScenario("list 1 SCRIBOLANTE-X-1\n");
  SpawnedProgram& program = StartProgram({{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}});
  ASSERT_TRUE(program.WaitForOutput(kCompletionBox, kPhaseTimeoutMs))
      << program.ErrorOutput().toStdString();
  // The device has confirmed the update before the box: closing it now is a success.
  CloseAndCheck(program, "phase5-completion-box", {SIGTERM}, 0);
  EXPECT_TRUE(HistoryEndsWith("\tcompleted"));
}

}  // namespace
