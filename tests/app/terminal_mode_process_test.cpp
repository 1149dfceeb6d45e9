// The real program with --cli: the update without a display or a platform plugin, its lines on
// standard error, JSON Lines alone on standard output, the question answered only by --yes or
// a terminal, one attempt, and the same guard, history and statuses as the window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <filesystem>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "file_contents.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

using test_support::FileLines;

class TerminalModeProcessTest : public ProcessTest {
 protected:
  // The terminal run with no display at all: X11 asked for, none named, so any attempt to
  // open a platform would end the program, and Qt's plugin loader says what it loads.
  SpawnedProgram& StartInTerminal(const std::vector<std::string>& arguments) {
    return Start({{"QT_QPA_PLATFORM", "xcb"}, {"QT_DEBUG_PLUGINS", "1"}}, arguments,
                 {"DISPLAY", "WAYLAND_DISPLAY", "FWU_ECHO_UI"});
  }

  // Ends as ExpectEndsWith checks, and never looked for a platform plugin: with
  // QT_DEBUG_PLUGINS, each plugin folder Qt looks into is a "qt.core.plugin" line.
  void ExpectEndsWithoutPlatform(SpawnedProgram& program, int status) {
    ExpectEndsWith(program, status);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(program.ErrorOutput().contains(QStringLiteral("qt.core.plugin")))
        << program.ErrorOutput().toStdString();
  }

  // Every line of standard output as a JSON object; a line that is not one fails the test.
  static std::vector<QJsonObject> Events(const SpawnedProgram& program) {
    std::vector<QJsonObject> events;
    const QByteArray output = program.StandardOutput().toUtf8();
    EXPECT_TRUE(output.isEmpty() || output.endsWith('\n')) << output.toStdString();
    for (const QByteArray& line : output.split('\n')) {
      if (line.isEmpty()) continue;
      QJsonParseError error{};
      const QJsonDocument document = QJsonDocument::fromJson(line, &error);
      EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
      EXPECT_TRUE(document.isObject()) << line.toStdString();
      events.push_back(document.object());
    }
    return events;
  }

  static void ExpectEnd(const std::vector<QJsonObject>& events, const char* outcome, int status) {
    ASSERT_FALSE(events.empty());
    const QJsonObject& end = events.back();
    EXPECT_EQ(end.value(QStringLiteral("event")).toString(), QStringLiteral("end"));
    EXPECT_EQ(end.value(QStringLiteral("outcome")).toString(), QString::fromUtf8(outcome));
    EXPECT_EQ(end.value(QStringLiteral("status")).toInt(-1), status);
  }
};

TEST_F(TerminalModeProcessTest, YesCompletesWithoutADisplayAndTheJsonTellsEveryStep) {
  WriteFirmware(3);
  const std::string trace = rootFolder() + "/terminal.jsonl";
  SpawnedProgram& program = StartInTerminal({"--cli", "--yes", "--json", "--record", trace});
  ExpectEndsWithoutPlatform(program, 0);
  // --record works here as in the window: the trace starts once the guard is held.
  const std::string traceText = test_support::FileBytes(trace);
  EXPECT_NE(traceText.find("\"libraryLoaded\":true"), std::string::npos)
      << traceText.substr(0, 400);
  EXPECT_NE(traceText.find("Transfer"), std::string::npos);
  // The device got every block and confirmed the image.
  EXPECT_EQ(TraceLines("command=f601"), 3);
  EXPECT_EQ(TraceLines("command=f603"), 1);
  const auto history = FileLines(historyFile());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_TRUE(history[0].ends_with("\t1.0\tcompleted")) << history[0];

  const std::vector<QJsonObject> events = Events(program);
  ExpectEnd(events, "completed", 0);
  const QJsonObject file = events.front();
  EXPECT_EQ(file.value(QStringLiteral("event")).toString(), QStringLiteral("file"));
  EXPECT_EQ(file.value(QStringLiteral("name")).toString(), QStringLiteral("SC5_Firmware_v1.3.bin"));
  EXPECT_EQ(file.value(QStringLiteral("version")).toString(), QStringLiteral("1.3"));
  EXPECT_EQ(file.value(QStringLiteral("bytes")).toInteger(), 3 * 32768);
  int lastPercent = -1;
  qint64 lastBytes = -1;
  bool deviceSeen = false;
  for (const QJsonObject& event : events) {
    const QString kind = event.value(QStringLiteral("event")).toString();
    if (kind == QStringLiteral("device")) {
      deviceSeen = true;
      EXPECT_EQ(event.value(QStringLiteral("version")).toString(), QStringLiteral("1.0"));
    }
    if (kind != QStringLiteral("progress")) continue;
    const int percent = event.value(QStringLiteral("percent")).toInt(-1);
    const qint64 bytes = event.value(QStringLiteral("bytes")).toInteger(-1);
    EXPECT_GT(percent, lastPercent) << "one event per whole percent, never going back";
    EXPECT_GE(bytes, lastBytes);
    lastPercent = percent;
    lastBytes = bytes;
  }
  EXPECT_TRUE(deviceSeen);
  EXPECT_EQ(lastPercent, 100);
  EXPECT_EQ(lastBytes, 3 * 32768);
  // Boxes and log lines went to standard error, each on one line.
  const QString errors = program.ErrorOutput();
  EXPECT_TRUE(errors.contains(
      QStringLiteral("\nSCRIBOLANTE X のUpdateが完了しました。 アプリを終了します。\n")))
      << errors.toStdString();
  EXPECT_TRUE(errors.contains(QStringLiteral("[log] Update Complete.\n")));
}

TEST_F(TerminalModeProcessTest, WithoutATerminalAndWithoutYesNothingIsWritten) {
  WriteFirmware(2);
  SpawnedProgram& program = StartInTerminal({"--cli", "--json"});
  ExpectEndsWithoutPlatform(program, 2);
  EXPECT_EQ(TraceLines("command=f601"), 0);
  const auto history = FileLines(historyFile());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_TRUE(history[0].ends_with("\tdeclined")) << history[0];
  ExpectEnd(Events(program), "declined", 2);
  EXPECT_TRUE(program.ErrorOutput().contains(
      QStringLiteral("SCRIBOLANTE X のUpdateを中止します。 アプリを終了します。\n")));
}

TEST_F(TerminalModeProcessTest, TwoDevicesEndWithTheirMessageAndTwo) {
  WriteFirmware(2);
  WriteScenario("list 1 SCRIBOLANTE-X-1 SCRIBOLANTE-X-2\n");
  SpawnedProgram& program = StartInTerminal({"--cli", "--yes", "--json"});
  ExpectEndsWithoutPlatform(program, 2);
  const std::vector<QJsonObject> events = Events(program);
  ExpectEnd(events, "failed", 2);
  ASSERT_GE(events.size(), 2u);
  EXPECT_TRUE(events[events.size() - 2]
                  .value(QStringLiteral("text"))
                  .toString()
                  .startsWith(QStringLiteral("SCRIBOLANTE X が2台以上接続されています。 ")));
  EXPECT_FALSE(std::filesystem::exists(historyFile())) << "no question was asked";
}

TEST_F(TerminalModeProcessTest, WhereTheWindowStartsOverTheTerminalEndsAfterTheMessage) {
  // No firmware file: the window says so and looks again a second later, for ever.
  SpawnedProgram& program = StartInTerminal({"--cli", "--json"});
  ExpectEndsWithoutPlatform(program, 2);
  const QString errors = program.ErrorOutput();
  EXPECT_EQ(errors.count(QStringLiteral("バイナリファイルが見つかりませんでした。")), 1)
      << errors.toStdString();
  ExpectEnd(Events(program), "failed", 2);
}

TEST_F(TerminalModeProcessTest, TheFirstSignalMidWriteWarnsAndTheSecondEndsAsClosed) {
  WriteFirmware(24);
  // About six seconds of writing: time for two signals between the first and the last block.
  WriteScenario("list 1 SCRIBOLANTE-X-1\nrate 131072\n");
  SpawnedProgram& program = StartInTerminal({"--cli", "--yes", "--json"});
  ASSERT_TRUE(WaitForTraceLines(program, "command=f601", 2));
  ASSERT_TRUE(program.Running()) << program.ErrorOutput().toStdString();
  program.Signal(SIGINT);
  ASSERT_TRUE(program.WaitForOutput(QStringLiteral("書き込み中です"), kHangTimeoutMs))
      << program.ErrorOutput().toStdString();
  EXPECT_TRUE(program.Running()) << "the first signal only warns";
  program.Signal(SIGTERM);
  ExpectEndsWithoutPlatform(program, 2);
  EXPECT_LT(TraceLines("command=f601"), 24);
  EXPECT_EQ(TraceLines("command=f603"), 0);
  const auto history = FileLines(historyFile());
  ASSERT_EQ(history.size(), 1u);
  EXPECT_TRUE(history[0].ends_with("\tclosed")) << history[0];
  ExpectEnd(Events(program), "closed", 2);
}

TEST_F(TerminalModeProcessTest, ASecondCopyIsRefusedWithTheMultipleStartMessageAndOne) {
  WriteFirmware(2);
  WriteScenario("list 1\n");  // no device: the first copy waits, holding the guard
  SpawnedProgram& first = StartInTerminal({"--cli"});
  ASSERT_TRUE(first.WaitForOutput(QStringLiteral("[log] USB Connecting..."), kHangTimeoutMs));
  SpawnedProgram& second = StartInTerminal({"--cli", "--yes", "--json"});
  ExpectEndsWithoutPlatform(second, 1);
  EXPECT_EQ(second.ErrorOutput(),
            QStringLiteral("他のアプリケーションが起動しているため、SCRIBOLANTE X との通信が"
                           "できません。 終了します。\n"));
  ExpectEnd(Events(second), "failed", 1);
  // Outside the writes one signal ends the waiting copy, as it ends the window.
  first.Signal(SIGTERM);
  ExpectEndsWithoutPlatform(first, 2);
}

}  // namespace
