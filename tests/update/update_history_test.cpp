// The history line's fields and escapes, and where the history goes.
#include "update/update_history.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets or removes environment variables for a test, restoring them afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : m_name(name) {
    if (const char* saved = std::getenv(name)) m_saved = saved;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (m_saved) {
      setenv(m_name.c_str(), m_saved->c_str(), 1);
    } else {
      unsetenv(m_name.c_str());
    }
  }

 private:
  std::string m_name;
  std::optional<std::string> m_saved;
};

TEST(UpdateHistoryTest, ALineHasSixTabSeparatedFieldsWithControlCharactersEscaped) {
  const ScopedVariable zone("TZ", "JST-9");
  const HistoryAttempt attempt{"a\tb\\SC5_Firmware_v1.3.bin", 40000, 0x0A5F, "1.0"};
  // 2026-01-02 03:04:05 UTC is 12:04:05 in Japan.
  const std::time_t when = 1767323045;
  EXPECT_EQ(FormatHistoryLine(attempt, "completed", when),
            "2026-01-02T12:04:05+09:00\ta\\x09b\\\\SC5_Firmware_v1.3.bin\t40000\t0A5F\t1.0\tcompleted");
  // A message of several lines is written on one.
  EXPECT_EQ(FormatHistoryLine(attempt, "SCRIBOLANTE X のUpdateに失敗しました。\nもう一度\r", when)
                .substr(71),
            "SCRIBOLANTE X のUpdateに失敗しました。 もう一度\\x0D");
  const ScopedVariable west("TZ", "EST+5");
  EXPECT_EQ(FormatHistoryLine(attempt, "closed", when).substr(0, 26), "2026-01-01T22:04:05-05:00\t");
}

TEST(UpdateHistoryTest, GoesToTheStateFolderAndNeverToARelativeOne) {
  {
    const ScopedVariable state("XDG_STATE_HOME", "/state");
    EXPECT_EQ(HistoryFilePath(), "/state/scribolante-fw-updater/history.log");
  }
  const ScopedVariable home("HOME", "/home/user");
  for (const char* ignored : {"relative/state", "", static_cast<const char*>(nullptr)}) {
    const ScopedVariable state("XDG_STATE_HOME", ignored);
    EXPECT_EQ(HistoryFilePath(), "/home/user/.local/state/scribolante-fw-updater/history.log");
  }
  const ScopedVariable state("XDG_STATE_HOME", nullptr);
  const ScopedVariable noHome("HOME", nullptr);
  EXPECT_EQ(HistoryFilePath(), "");
}

}  // namespace
