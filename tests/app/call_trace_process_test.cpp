// --record and the simulated library's replay, end to end: a recorded update replays to the
// same calls, results and exit status; a firmware file changed by one byte is caught at the
// first block; a trace that cannot be written stops nothing; a second copy leaves the running
// copy's trace alone; a call that never returned is on record and its replay stops there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "file_contents.h"
#include "platform/sha256.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

using test_support::FileBytes;

// The call records of a trace without their times, which differ from run to run.
std::vector<std::string> RecordedCalls(const std::string& path) {
  std::vector<std::string> calls = test_support::FileLines(path);
  if (!calls.empty()) calls.erase(calls.begin());  // the header
  for (std::string& line : calls) {
    const std::size_t ms = line.find(",\"ms\":");
    const std::size_t end = line.find_first_of(",}", ms + 1);
    if (ms != std::string::npos && end != std::string::npos) line.erase(ms, end - ms);
  }
  return calls;
}

// The seq of a record.
std::string RecordSeq(const std::string& record) {
  const std::string start = "{\"seq\":";
  if (record.rfind(start, 0) != 0) return {};
  return record.substr(start.size(), record.find(',') - start.size());
}

// The value of a string field in a record.
std::string RecordField(const std::string& record, const std::string& key) {
  const std::string start = "\"" + key + "\":\"";
  const std::size_t at = record.find(start);
  if (at == std::string::npos) return {};
  const std::size_t from = at + start.size();
  return record.substr(from, record.find('"', from) - from);
}

class CallTraceProcessTest : public ProcessTest {
 protected:
  std::string firmwarePath() const { return workFolder().toStdString() + "/SC5_Firmware_v1.3.bin"; }
};

TEST_F(CallTraceProcessTest, ARecordedUpdateReplaysAlikeAndAChangedByteIsCaughtAtTheFirstBlock) {
  WriteFirmware(2);
  const std::string recorded = rootFolder() + "/recorded.jsonl";
  SpawnedProgram& original = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "2"}}, {"--record", recorded});
  ExpectEndsWith(original, 0);
  const std::vector<std::string> calls = RecordedCalls(recorded);
  ASSERT_FALSE(calls.empty());
  // The header names the library the calls went to, loaded.
  std::string header;
  std::getline(std::ifstream(recorded) >> std::ws, header);
  EXPECT_NE(header.find("\"library\":\"/"), std::string::npos) << header;
  EXPECT_NE(header.find("\"libraryLoaded\":true"), std::string::npos) << header;

  // The first block went out as its CRC-16 and SHA-256, never as its bytes.
  const std::string image = FileBytes(firmwarePath());
  std::size_t firstWrite = 0;
  while (firstWrite < calls.size() &&
         calls[firstWrite].find("\"direction\":1") == std::string::npos) {
    ++firstWrite;
  }
  ASSERT_LT(firstWrite, calls.size());
  EXPECT_EQ(RecordField(calls[firstWrite], "sha256"), platform::Sha256Hex(image.data(), 32768));
  EXPECT_LT(FileBytes(recorded).size(), image.size());

  // Replayed (the trace named relative to its scenario), and recorded once more on the way.
  std::ofstream(rootFolder() + "/replay.scenario") << "replay recorded.jsonl\n";
  const std::map<std::string, std::string> replaying = {
      {"GPLUS_SIM_SCENARIO", rootFolder() + "/replay.scenario"},
      {"FWU_AUTO_ANSWER_VIEW_BOXES", "9"}};
  const std::string again = rootFolder() + "/again.jsonl";
  SpawnedProgram& replay = Start(replaying, {"--record", again});
  ExpectEndsWith(replay, 0);
  EXPECT_TRUE(replay.ErrorOutput().contains(QStringLiteral("[log] Update Complete.")));
  EXPECT_FALSE(replay.ErrorOutput().contains(QStringLiteral("replay"))) << "nothing parted";
  EXPECT_EQ(RecordedCalls(again), calls);

  // One byte of block 1 changed: the replay parts at that block's write, and the update fails.
  std::string changed = image;
  changed[1000] = static_cast<char>(changed[1000] ^ 0x01);
  std::ofstream(firmwarePath(), std::ios::binary | std::ios::trunc) << changed;
  SpawnedProgram& differing = Start(replaying);
  ExpectEndsWith(differing, 2);
  const QString seq = QString::fromStdString(RecordSeq(calls[firstWrite]));
  EXPECT_TRUE(differing.ErrorOutput().contains(
      QStringLiteral("call %1 I_GPHidDeviceEx#1::Transfer differs in ").arg(seq)))
      << differing.ErrorOutput().toStdString();
  EXPECT_FALSE(differing.ErrorOutput().contains(QStringLiteral("Update Complete.")));
}

TEST_F(CallTraceProcessTest, ATraceThatCannotBeWrittenStopsNothing) {
  WriteFirmware(2);
  const std::string image = FileBytes(firmwarePath());
  // A name the firmware search would take, a file that is not a trace, a device, and a FIFO
  // held open by a reader that never reads (as `--record /dev/stdout | head` once head is done).
  const std::string notes = rootFolder() + "/notes.txt";
  std::ofstream(notes) << "not a trace\n";
  const std::string fifo = rootFolder() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  for (const std::string& trace : {firmwarePath(), notes, std::string("/dev/full"), fifo}) {
    SpawnedProgram& program = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "2"}}, {"--record", trace});
    ExpectEndsWith(program, 0);
    const QString errors = program.ErrorOutput();
    EXPECT_EQ(errors.count(QStringLiteral("scribolante-fw-updater: ")), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("the update goes on"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("[log] Update Complete.")));
  }
  char byte = 0;
  EXPECT_EQ(::read(reader, &byte, 1), 0) << "nothing went into the pipe";
  ::close(reader);
  EXPECT_EQ(FileBytes(firmwarePath()), image);
  EXPECT_EQ(FileBytes(notes), "not a trace\n");
}

TEST_F(CallTraceProcessTest, ASecondCopyLeavesTheRunningCopysTraceAlone) {
  WriteFirmware(2);
  const std::string trace = rootFolder() + "/session.jsonl";
  SpawnedProgram& first = Start({}, {"--record", trace});
  ASSERT_TRUE(first.WaitForOutput(kConfirmationBox, kUpdateRunTimeoutMs))
      << first.ErrorOutput().toStdString();
  const std::string before = FileBytes(trace);
  ASSERT_EQ(before.rfind("{\"format\":\"scribolante-fw-updater-trace\"", 0), 0u);

  SpawnedProgram& second = Start({{"FWU_AUTO_ANSWER_BOXES", "1"}}, {"--record", trace});
  ASSERT_TRUE(second.WaitForEnd(kHangTimeoutMs));
  EXPECT_EQ(second.ExitCode(), 1) << second.ErrorOutput().toStdString();
  EXPECT_EQ(FileBytes(trace), before) << "neither emptied nor written by the second copy";

  first.Signal(SIGTERM);
  ASSERT_TRUE(first.WaitForEnd(kHangTimeoutMs));
  ExpectNoSanitizerReport(first.ErrorOutput().toStdString());
  const std::string after = FileBytes(trace);
  EXPECT_EQ(after.rfind(before, 0), 0u) << "the first copy went on where it was";
  EXPECT_EQ(after.find('\0'), std::string::npos);
}

TEST_F(CallTraceProcessTest, TheCallTheDeviceNeverAnsweredIsOnRecordAndItsReplayStopsThere) {
  WriteFirmware(4);
  // Exchange 4 is the transfer of block 2.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nhang 4\n");
  const std::string trace = rootFolder() + "/stuck.jsonl";
  const std::map<std::string, std::string> answering = {{"FWU_AUTO_ANSWER_VIEW_BOXES", "1"}};
  SpawnedProgram& original = Start(answering, {"--record", trace});
  ASSERT_TRUE(WaitForTraceLines(original, "command=f601", 2));
  original.Signal(SIGTERM);
  ASSERT_TRUE(original.WaitForEnd(kHangTimeoutMs));
  const std::vector<std::string> calls = RecordedCalls(trace);
  ASSERT_FALSE(calls.empty());
  const std::string& last = calls.back();
  EXPECT_NE(last.find("\"op\":\"Transfer\""), std::string::npos) << last;
  EXPECT_NE(last.find("\"direction\":1"), std::string::npos) << last;
  EXPECT_EQ(last.find("\"result\""), std::string::npos) << "it never returned: " << last;

  std::ofstream(rootFolder() + "/replay.scenario") << "replay stuck.jsonl\n";
  std::map<std::string, std::string> replaying = answering;
  replaying["GPLUS_SIM_SCENARIO"] = rootFolder() + "/replay.scenario";
  SpawnedProgram& replay = Start(replaying);
  const QString stuck = QStringLiteral(
                            "call %1 I_GPHidDeviceEx#1::Transfer: the recorded device "
                            "never answered this call")
                            .arg(QString::fromStdString(RecordSeq(last)));
  ASSERT_TRUE(replay.WaitForOutput(stuck, kUpdateRunTimeoutMs))
      << replay.ErrorOutput().toStdString();
  EXPECT_TRUE(replay.Running()) << "held in the call, as the device held the original";
  replay.Signal(SIGTERM);
  ASSERT_TRUE(replay.WaitForEnd(kHangTimeoutMs));
  ExpectNoSanitizerReport(replay.ErrorOutput().toStdString());
  EXPECT_FALSE(replay.ErrorOutput().contains(QStringLiteral("beyond the end of the trace")));
}

}  // namespace
