// The history line's fields and escapes, where the history goes, and that it stays a file of
// whole lines, private and bounded, whichever way an attempt ends.
#include "update/update_history.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "file_contents.h"
#include "scoped_environment.h"
#include "temporary_folder.h"

namespace {

using test_support::ScopedEnvironment;

TEST(UpdateHistoryTest, ALineHasSixTabSeparatedFieldsWithControlCharactersEscaped) {
  const ScopedEnvironment zone("TZ", "JST-9");
  const HistoryAttempt attempt{"a\tb\\SC5_Firmware_v1.3.bin", 40000, 0x0A5F, "1.0"};
  // 2026-01-02 03:04:05 UTC is 12:04:05 in Japan.
  const std::time_t when = 1767323045;
  EXPECT_EQ(
      FormatHistoryLine(attempt, "completed", when),
      "2026-01-02T12:04:05+09:00\ta\\x09b\\\\SC5_Firmware_v1.3.bin\t40000\t0A5F\t1.0\tcompleted");
  // A message of several lines is written on one.
  EXPECT_EQ(FormatHistoryLine(attempt, "SCRIBOLANTE X のUpdateに失敗しました。\nもう一度\r", when)
                .substr(71),
            "SCRIBOLANTE X のUpdateに失敗しました。 もう一度\\x0D");
  const ScopedEnvironment west("TZ", "EST+5");
  EXPECT_EQ(FormatHistoryLine(attempt, "closed", when).substr(0, 26),
            "2026-01-01T22:04:05-05:00\t");
}

TEST(UpdateHistoryTest, GoesToTheStateFolderAndNeverToARelativeOne) {
  {
    const ScopedEnvironment state("XDG_STATE_HOME", "/state");
    EXPECT_EQ(HistoryFilePath(), "/state/scribolante-fw-updater/history.log");
  }
  const ScopedEnvironment home("HOME", "/home/user");
  for (const std::optional<std::string>& ignored :
       {std::optional<std::string>("relative/state"), std::optional<std::string>(""),
        std::optional<std::string>()}) {
    const ScopedEnvironment state("XDG_STATE_HOME", ignored);
    EXPECT_EQ(HistoryFilePath(), "/home/user/.local/state/scribolante-fw-updater/history.log");
  }
  const ScopedEnvironment state("XDG_STATE_HOME", std::nullopt);
  const ScopedEnvironment noHome("HOME", std::nullopt);
  EXPECT_EQ(HistoryFilePath(), "");
}

// A history of its own in a fresh state folder, and one attempt to write into it.
class HistoryFileTest : public ::testing::Test {
 protected:
  std::string Read() const { return test_support::FileBytes(m_file); }
  void WriteText(const std::string& text) const {
    std::filesystem::create_directories(m_file.parent_path());
    std::ofstream(m_file, std::ios::binary) << text;
  }
  void OneAttempt(const char* outcome) {
    BeginHistoryAttempt(m_attempt);
    EndHistoryAttempt(outcome);
  }

  test_support::TemporaryFolder m_folder{"fwu-history"};
  ScopedEnvironment m_state{"XDG_STATE_HOME", (m_folder.path() / "state").c_str()};
  std::filesystem::path m_file = m_folder.path() / "state/scribolante-fw-updater/history.log";
  HistoryAttempt m_attempt{"SC5_Firmware_v1.3.bin", 65536, 0x1234, "1.0"};
};

TEST_F(HistoryFileTest, FoldersArePrivateAndALineLeftUnfinishedIsClosedFirst) {
  OneAttempt("declined");
  for (const auto& folder : {m_file.parent_path().parent_path(), m_file.parent_path()}) {
    struct stat status {};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u) << folder;
  }
  WriteText("2026-01-01T00:00:00+09:00\tcut off by a power failure");
  OneAttempt("declined");
  const std::string text = Read();
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            "2026-01-01T00:00:00+09:00\tcut off by a power failure\n");
  EXPECT_TRUE(text.ends_with("\t1.0\tdeclined\n")) << text;
}

TEST_F(HistoryFileTest, AShortWriteLeavesNoPartOfItsLine) {
  OneAttempt("declined");
  const std::string before = Read();
  // Room for ten more bytes only: the line is cut short and must be taken back.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*const savedHandler)(int) = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = before.size() + 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  OneAttempt("closed");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, savedHandler);
  EXPECT_EQ(Read(), before);
  OneAttempt("completed");
  EXPECT_EQ(Read().substr(0, before.size()), before);
  EXPECT_TRUE(Read().ends_with("\tcompleted\n"));
}

TEST_F(HistoryFileTest, KeepsTheNewestAttemptsOnly) {
  std::string old;
  for (std::size_t index = 0; index < kHistoryLinesKept; ++index) {
    old += "2026-01-01T00:00:00+09:00\tSC5_Firmware_v1.0.bin\t" + std::to_string(index) + "\n";
  }
  WriteText(old);
  OneAttempt("completed");
  const std::vector<std::string> lines = test_support::FileLines(m_file);
  ASSERT_EQ(lines.size(), kHistoryLinesKept);
  EXPECT_TRUE(lines.front().ends_with("\t1")) << lines.front();
  EXPECT_TRUE(lines.back().ends_with("\tcompleted"));
}

// The ending that can only make system calls writes the line prepared at the attempt's start,
// with its own time in the same form, and only once.
TEST_F(HistoryFileTest, TheEndingWithoutOrdinaryCodeWritesThePreparedLineOnce) {
  const ScopedEnvironment zone("TZ", "EST+5");
  const std::time_t before = std::time(nullptr);
  BeginHistoryAttempt(m_attempt);
  EndHistoryAttemptNow();
  const std::time_t after = std::time(nullptr);
  EXPECT_FALSE(HistoryAttemptOpen());
  EndHistoryAttempt("completed");
  const std::string text = Read();
  bool matched = false;
  for (std::time_t when = before; when <= after; ++when) {
    matched = matched || text == FormatHistoryLine(m_attempt, "closed", when) + "\n";
  }
  EXPECT_TRUE(matched) << text;
}

}  // namespace
