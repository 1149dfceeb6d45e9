// The terminal report's values: JSON strings that stay valid whatever a name or message holds,
// and the time left from the pace so far.
#include "update/terminal/terminal_report.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;

TEST(TerminalReportTest, AJsonStringReadsBackAsTheTextWhateverItHolds) {
  const std::string texts[] = {
      "SC5_Firmware_v1.3 (1).bin",
      "quote \" backslash \\ slash /",
      std::string("tab\tnew line\ncarriage return\rbell\x07 nul") + '\0' + "delete\x7F",
      "SCRIBOLANTE X をUpdateしますか？",
  };
  for (const std::string& text : texts) {
    const std::string json = "[" + JsonString(text) + "]";
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
    EXPECT_EQ(document.array().at(0).toString().toStdString(), text) << json;
    // One line: a JSON Lines reader splits at line breaks.
    EXPECT_EQ(json.find('\n'), std::string::npos);
  }
}

TEST(TerminalReportTest, TheTimeLeftFollowsThePaceAndWaitsForOne) {
  EXPECT_FALSE(TimeLeft(0, 1000, 5s)) << "nothing written yet: no pace";
  EXPECT_FALSE(TimeLeft(500, 1000, 0s));
  EXPECT_FALSE(TimeLeft(2000, 1000, 5s)) << "more than the whole is no pace to trust";
  EXPECT_EQ(TimeLeft(250, 1000, 10s), std::chrono::seconds(30));
  EXPECT_EQ(TimeLeft(1000, 1000, 10s), std::chrono::seconds(0));
  const QString line = ProgressText(42, 3 * 1024 * 1024 / 2, 3 * 1024 * 1024, 75s);
  EXPECT_EQ(line, QStringLiteral(" 42 %  1.5 / 3.0 MiB  残り約 1:15"));
  EXPECT_EQ(ProgressText(5, 32768, 131072, std::nullopt), QStringLiteral("  5 %  32 / 128 KiB"));
}

}  // namespace
