// The vendor library conformance check run as a porter runs it, against the simulated library
// beside it: healthy scenarios pass, each misbehaving one fails exactly the check that names its
// fault (a call that never returns included), and no run ever carries data to a device or asks
// it to confirm a checksum.
#include <QRegularExpression>
#include <QStringList>

#include "process_test_support.h"

namespace {

struct LibraryCheckCase {
  const char* label;
  const char* scenario;
  const char* library;  // the argument; nullptr: none, the library beside the check
  int exitCode;
  const char* failedLine;  // the one "not ok" line expected; nullptr when none fails
  const char* note;        // a text the output holds; nullptr for none
  const char* callLimitSeconds = nullptr;  // the check's limit on a call; nullptr: its own
};

void PrintTo(const LibraryCheckCase& check, std::ostream* out) {
  *out << check.label;
}

class LibraryCheckRun : public ProcessTest, public testing::WithParamInterface<LibraryCheckCase> {};

TEST_P(LibraryCheckRun, FailsOnlyTheFaultyCheckAndNeverWrites) {
  const LibraryCheckCase& check = GetParam();
  UseProgram(FWU_CHECK_LIBRARY_PATH);
  WriteScenario(check.scenario);
  std::vector<std::string> arguments;
  if (check.library != nullptr) arguments.emplace_back(check.library);
  std::map<std::string, std::string> environment;
  if (check.callLimitSeconds != nullptr)
    environment["FWU_CHECK_CALL_LIMIT_SECONDS"] = check.callLimitSeconds;
  SpawnedProgram& program = Start(environment, arguments);
  ASSERT_TRUE(program.WaitForEnd(kHangTimeoutMs));
  const QString output = program.StandardOutput();
  ExpectNoSanitizerReport(program.ErrorOutput().toStdString());
  EXPECT_EQ(program.ExitCode(), check.exitCode) << output.toStdString();

  const QStringList failed =
      output.split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^not ok ")));
  EXPECT_EQ(failed,
            check.failedLine ? QStringList{QString::fromUtf8(check.failedLine)} : QStringList{})
      << output.toStdString();
  if (check.note != nullptr) {
    EXPECT_TRUE(output.contains(QString::fromUtf8(check.note))) << output.toStdString();
  }
  EXPECT_EQ(TraceLines("direction=1"), 0);
  EXPECT_EQ(TraceLines("command=f603"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, LibraryCheckRun,
    testing::Values(
        LibraryCheckCase{"no device", "list 1\n", nullptr, 0, nullptr,
                         "# 14 checks: 10 passed, 4 skipped"},
        LibraryCheckCase{"one device", "list 1 SCRIBOLANTE-X-1\ninfo status 1\ninfo version 1 10\n",
                         nullptr, 0, nullptr,
                         "device state 1 (not in firmware update mode), firmware version 1.10"},
        LibraryCheckCase{"two devices", "devices 1 2\n", nullptr, 0, nullptr,
                         "more than one device listed"},
        // Positions 64 on are not examined, yet the out-of-range probes ask past the whole list.
        LibraryCheckCase{"seventy devices", "devices 1 70\n", nullptr, 0, nullptr,
                         "  # 70 device(s) listed\n"},
        // The device-information read never returns: the check ends, naming it.
        LibraryCheckCase{"read never returns", "list 1 SCRIBOLANTE-X-1\nhang 1\n", nullptr, 1,
                         "not ok 13 - the device-information read answers 0 and fills 16 bytes",
                         "  # the call did not return within 2 seconds\nBail out! ", "2"},
        LibraryCheckCase{"unstable names", "list 1 SCRIBOLANTE-X-1\nunstable-names\n", nullptr, 1,
                         "not ok 8 - the names stay the same across two more rebuilds",
                         "rebuild 1: SCRIBOLANTE-X-1@2"},
        LibraryCheckCase{"factory without agent", "fail factory null\n", nullptr, 1,
                         "not ok 3 - the factory answers 0 with an agent", "gave no agent"},
        LibraryCheckCase{"short read", "list 1 SCRIBOLANTE-X-1\nshort-reply 1 4\n", nullptr, 1,
                         "not ok 13 - the device-information read answers 0 and fills 16 bytes",
                         "left byte 4 unwritten"},
        LibraryCheckCase{"no factory", "list 1 SCRIBOLANTE-X-1\n", FWU_LIBRARY_WITHOUT_FACTORY, 1,
                         "not ok 2 - it exports GPAPI_CreateGPUsbDeviceAgent with C linkage",
                         nullptr},
        LibraryCheckCase{"no file", "list 1 SCRIBOLANTE-X-1\n", "/nonexistent/GPlusUSBLibEx.so", 2,
                         nullptr, "Bail out! no library file at /nonexistent/GPlusUSBLibEx.so"}));

}  // namespace
