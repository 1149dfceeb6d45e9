// --record and the simulated library's replay, end to end: a recorded update replays to the
// same calls, results and exit status; a firmware file changed by one byte is caught at the
// first block; a trace that cannot be written stops nothing.
#include <gtest/gtest.h>

#include <QString>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sha256.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

// A whole update of two blocks, in a sanitizer build too.
constexpr int kTraceRunTimeoutMs = 90000;

std::string BytesOfFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The call records of a trace without their times, which differ from run to run.
std::vector<std::string> RecordedCalls(const std::string& path) {
  std::ifstream trace(path);
  std::vector<std::string> calls;
  std::string line;
  std::getline(trace, line);  // the header
  while (std::getline(trace, line)) {
    const std::size_t ms = line.find(",\"ms\":");
    const std::size_t end = line.find(',', ms + 1);
    if (ms != std::string::npos && end != std::string::npos) line.erase(ms, end - ms);
    calls.push_back(line);
  }
  return calls;
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
  void ExpectEnd(SpawnedProgram& program, int status) {
    ASSERT_TRUE(program.WaitForEnd(kTraceRunTimeoutMs)) << program.ErrorOutput().toStdString();
    const std::string errors = program.ErrorOutput().toStdString();
    EXPECT_TRUE(program.ExitedNormally()) << errors;
    EXPECT_EQ(program.ExitCode(), status) << errors;
    ExpectNoSanitizerReport(errors);
  }
  std::string firmwarePath() const { return workFolder().toStdString() + "/SC5_Firmware_v1.3.bin"; }
};

TEST_F(CallTraceProcessTest, ARecordedUpdateReplaysAlikeAndAChangedByteIsCaughtAtTheFirstBlock) {
  WriteFirmware(2);
  const std::string recorded = rootFolder() + "/recorded.jsonl";
  SpawnedProgram& original = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "2"}}, {"--record", recorded});
  ExpectEnd(original, 0);
  const std::vector<std::string> calls = RecordedCalls(recorded);
  ASSERT_FALSE(calls.empty());

  // The first block went out as its CRC-16 and SHA-256, never as its bytes.
  const std::string image = BytesOfFile(firmwarePath());
  std::size_t firstWrite = 0;
  while (firstWrite < calls.size() &&
         calls[firstWrite].find("\"direction\":1") == std::string::npos) {
    ++firstWrite;
  }
  ASSERT_LT(firstWrite, calls.size());
  EXPECT_EQ(RecordField(calls[firstWrite], "sha256"), platform::Sha256Hex(image.data(), 32768));
  EXPECT_LT(BytesOfFile(recorded).size(), image.size());

  // Replayed (the trace named relative to its scenario), and recorded once more on the way.
  std::ofstream(rootFolder() + "/replay.scenario") << "replay recorded.jsonl\n";
  const std::map<std::string, std::string> replaying = {
      {"GPLUS_SIM_SCENARIO", rootFolder() + "/replay.scenario"},
      {"FWU_AUTO_ANSWER_VIEW_BOXES", "9"}};
  const std::string again = rootFolder() + "/again.jsonl";
  SpawnedProgram& replay = Start(replaying, {"--record", again});
  ExpectEnd(replay, 0);
  EXPECT_TRUE(replay.ErrorOutput().contains(QStringLiteral("[log] Update Complete.")));
  EXPECT_FALSE(replay.ErrorOutput().contains(QStringLiteral("replay"))) << "nothing parted";
  EXPECT_EQ(RecordedCalls(again), calls);

  // One byte of block 1 changed: the replay parts at that block's write, and the update fails.
  std::string changed = image;
  changed[1000] = static_cast<char>(changed[1000] ^ 0x01);
  std::ofstream(firmwarePath(), std::ios::binary | std::ios::trunc) << changed;
  SpawnedProgram& differing = Start(replaying);
  ExpectEnd(differing, 2);
  const QString seq = QString::number(firstWrite + 1);
  EXPECT_TRUE(differing.ErrorOutput().contains(
      QStringLiteral("call %1 I_GPHidDeviceEx#1::Transfer differs in ").arg(seq)))
      << differing.ErrorOutput().toStdString();
  EXPECT_FALSE(differing.ErrorOutput().contains(QStringLiteral("Update Complete.")));
}

TEST_F(CallTraceProcessTest, ATraceThatCannotBeWrittenStopsNothing) {
  WriteFirmware(2);
  const std::string image = BytesOfFile(firmwarePath());
  // A name the firmware search would take, a file that is not a trace, and a full disk.
  const std::string notes = rootFolder() + "/notes.txt";
  std::ofstream(notes) << "not a trace\n";
  for (const std::string& trace : {firmwarePath(), notes, std::string("/dev/full")}) {
    SpawnedProgram& program = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "2"}}, {"--record", trace});
    ExpectEnd(program, 0);
    const QString errors = program.ErrorOutput();
    EXPECT_EQ(errors.count(QStringLiteral("scribolante-fw-updater: ")), 1) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("the update goes on"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("[log] Update Complete.")));
  }
  EXPECT_EQ(BytesOfFile(firmwarePath()), image);
  EXPECT_EQ(BytesOfFile(notes), "not a trace\n");
}

}  // namespace
