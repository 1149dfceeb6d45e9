// Firmware files and working folders with odd names (blanks, quotes, line breaks, bytes that
// are not UTF-8): the file is found, its version shown and the update completes; entries named
// like firmware that are not files are reported, never sent as an empty image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "update/firmware_image.h"
#include "update_run_fixture.h"

namespace {

struct OddName {
  const char* name;
  std::string folderPart;
  std::string fileName;
  std::string version;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const OddName& value, std::ostream* out) {
  *out << value.name;
}

class OddNames : public UpdateRunTest, public ::testing::WithParamInterface<OddName> {};

TEST_P(OddNames, TheFileIsFoundShownAndWrittenAndStaysAsItWas) {
  const OddName odd = GetParam();
  MakeWorkingFolder(odd.folderPart);
  ASSERT_NE(m_folder->path().filename().string().find(odd.folderPart), std::string::npos);
  const auto file = PatternedFirmware(2 * FW_BLOCK_SIZE + 3000);
  const auto path = WriteFirmware(odd.fileName, file);
  EXPECT_EQ(FindFirmwareFile(), path.string());
  // The tail beyond the last whole block is covered only by the checksum.
  Start("checksum accept");

  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  EXPECT_EQ(m_view.TargetVersionTexts(), std::vector<std::string>{odd.version});
  ExpectCleanPass(Transfers(), file);
}

INSTANTIATE_TEST_SUITE_P(
    InFolderAndFile, OddNames,
    ::testing::Values(
        OddName{"BlanksAndQuotesInTheFolder", "fw 'my' \"folder\"", "SC5_Firmware_v1.2.bin", "1.2"},
        OddName{"LineBreakInTheFolder", "first\nsecond", "SC5_Firmware_v1.2.bin", "1.2"},
        OddName{"NotUtf8InTheFolder", "\xff\xfe", "SC5_Firmware_v1.2.bin", "1.2"},
        OddName{"FolderNamedLikeOtherFirmware", "SC5_Firmware_v9.9.bin", "SC5_Firmware_v1.2.bin",
                "1.2"},
        OddName{"QuotesAndLineBreakBeforeTheName", "fwu-odd", "my \"fw\"\nSC5_Firmware_v1.2.bin",
                "1.2"},
        OddName{"NotUtf8BeforeTheName", "fwu-odd", "\xffSC5_Firmware_v1.2.bin", "1.2"},
        OddName{"ApostropheAndBlanksBeforeTheName", "fwu-odd", "it's my  SC5_Firmware_v1.2.bin",
                "1.2"},
        OddName{"EverythingAtOnce", "a 'b' \"c\"\n\xff\xfe",
                "x \"y\"\n\xfe\xffSC5_Firmware_v10.20.bin", "10.20"}),
    NameOfRow{});

// Entries named like firmware that cannot be read as a file.
class FirmwareNamedEntry : public UpdateRunTest {
 protected:
  static constexpr const char* kName = "SC5_Firmware_v1.0.bin";

  // Every pass reports the entry by name and starts over a second later; the device is never
  // reached, so no image (not even an empty one) is ever sent.
  void ExpectReportedOnEveryPass() {
    ASSERT_EQ(Run([&] { return TicksInPhase(m_view, 0).size() == 3; }), RunEnd::UntilMet);
    const std::string message = kUnreadableText + "\n" + kName;
    EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>(3, message)));
    const auto boxes = m_view.MessageBoxes();
    const auto passes = TicksInPhase(m_view, 0);
    EXPECT_EQ(passes[1].at, boxes[0].at + 1000);
    EXPECT_EQ(passes[2].at, boxes[1].at + 1000);
    EXPECT_EQ(CountOf(m_view.LogTexts(), "USB Connecting..."), 0u);
    EXPECT_EQ(TraceText(), "") << "the device library was never reached";
    EXPECT_EQ(m_view.CloseCount(), 0);
  }
};

TEST_F(FirmwareNamedEntry, AFolderIsReportedAndItsContentsAreNotSearched) {
  MakeWorkingFolder();
  m_folder->MakeFolder(kName);
  m_folder->WriteFile(std::string(kName) + "/" + kName, PatternedFirmware(FW_BLOCK_SIZE));
  Start("");
  ExpectReportedOnEveryPass();
}

TEST_F(FirmwareNamedEntry, APipeIsReportedWithoutWaitingForAWriter) {
  MakeWorkingFolder();
  ASSERT_EQ(::mkfifo((m_folder->path() / kName).c_str(), 0600), 0);
  Start("");
  ExpectReportedOnEveryPass();
}

// The "nothing is lost" check itself must see what it is there to see.
TEST(FolderSnapshotTest, SeesChangedBytesTimesAndEntries) {
  using test_support::FolderSnapshot;
  ScopedWorkingFolder folder("fwu-snapshot");
  const auto file = folder.WriteFile("SC5_Firmware_v1.0.bin", std::vector<std::uint8_t>{1, 2, 3});
  const auto before = FolderSnapshot::Take(folder.path());
  EXPECT_TRUE(before.DifferencesTo(FolderSnapshot::Take(folder.path())).empty());

  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  timespec times[2] = {status.st_atim, status.st_mtim};
  times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  auto differences = before.DifferencesTo(FolderSnapshot::Take(folder.path()));
  ASSERT_EQ(differences.size(), 2u) << "a nanosecond later";
  EXPECT_NE(differences[0].find("last_write_time"), std::string::npos);
  EXPECT_NE(differences[1].find("st_mtim"), std::string::npos);

  folder.WriteFile("SC5_Firmware_v1.0.bin", std::vector<std::uint8_t>{1, 2, 4});
  times[1] = status.st_mtim;
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  differences = before.DifferencesTo(FolderSnapshot::Take(folder.path()));
  EXPECT_EQ(differences, std::vector<std::string>{"bytes changed: SC5_Firmware_v1.0.bin"});

  folder.WriteFile("SC5_Firmware_v1.0.bin", std::vector<std::uint8_t>{1, 2, 3});
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  folder.WriteFile("new\n\xff", std::vector<std::uint8_t>{});
  differences = before.DifferencesTo(FolderSnapshot::Take(folder.path()));
  EXPECT_EQ(differences, std::vector<std::string>{"appeared: new\\x0a\\xff"});

  std::filesystem::remove(file);
  differences = before.DifferencesTo(FolderSnapshot::Take(folder.path()));
  EXPECT_EQ(differences, (std::vector<std::string>{"removed: SC5_Firmware_v1.0.bin",
                                                   "appeared: new\\x0a\\xff"}));
}

}  // namespace
