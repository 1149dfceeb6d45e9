// Tests of phase 0: the CRC-16, finding the firmware file by name, padding and the handling of
// files that cannot become an image.
#include "update/firmware_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "crc16_reference.h"
#include "fake_update_view.h"
#include "sequence_harness.h"
#include "update/update_controller.h"
#include "update/update_protocol.h"
#include "update/update_state.h"

namespace {

std::vector<std::uint8_t> PatternBytes(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

TEST(Crc16Test, TableEntries) {
  // One byte b from 0xFFFF gives 0xFF00 ^ table[0xFF ^ b], which exposes the table entries.
  const std::uint16_t expected[] = {0x0000, 0x1021, 0x2042, 0x3063};
  for (std::uint8_t i = 0; i < 4; ++i) {
    const std::uint8_t byte = 0xFF ^ i;
    EXPECT_EQ(Crc16(&byte, 1) ^ 0xFF00, expected[i]) << "entry " << int(i);
  }
}

TEST(FirmwareVersionTextTest, TakesWhatFollowsThePrefixLessFourCharacters) {
  EXPECT_EQ(FirmwareVersionText("SC5_Firmware_v1.10.bin"), "1.10");
  EXPECT_EQ(FirmwareVersionText("copy_SC5_Firmware_v1.2.bin.old"), "1.2.bin");
  EXPECT_EQ(FirmwareVersionText("SC5_Firmware_vSC5_Firmware_v3.4.bin"), "SC5_Firmware_v3.4");
}

// Each test runs in a fresh working folder with a fake view as the UpdateContext's view.
class FirmwareImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    firmwareImage = FirmwareImage{};
    transferCursor = TransferCursor{7, 5};
    ConnectionPollCount = 99;
  }
  void TearDown() override {
    SetImageAllocationHookForTesting(nullptr);
    SetFirmwareSource(FirmwareSource{});
  }

  // A successful load that the failing cases must leave in place.
  void LoadEarlierImage() {
    folder.WriteFile("SC5_Firmware_v0.9.bin", {1, 2, 3});
    ASSERT_EQ(LoadFirmwareImage(), 0);
    std::filesystem::remove(folder.path() / "SC5_Firmware_v0.9.bin");
    transferCursor = TransferCursor{7, 5};
    ConnectionPollCount = 99;
  }

  void ExpectEarlierImageKept() {
    EXPECT_EQ(firmwareImage.size, 1024u);
    ASSERT_EQ(firmwareImage.data.size(), 1024u);
    EXPECT_EQ(firmwareImage.data[0], 1);
    EXPECT_EQ(transferCursor.nextBlock, 7u);
  }

  void ExpectCountersReset() {
    EXPECT_EQ(transferCursor.retryCount, 0u);
    EXPECT_EQ(ConnectionPollCount, 0u);
  }

  std::string LastMessage() {
    const auto boxes = view.MessageBoxes();
    return boxes.empty() ? std::string("<no box>") : boxes.back().text;
  }

  ScopedWorkingFolder folder;
  FakeUpdateView view;
  ScopedUpdateContext context{view, nullptr};
};

TEST_F(FirmwareImageTest, PadsWithFFToWholeKilobytesAndCountsWholeBlocks) {
  struct Case {
    std::size_t length;
    std::uint32_t size;
    std::uint32_t blockCount;
  };
  for (const Case& c : {Case{1, 1024, 0}, Case{1024, 1024, 0}, Case{40000, 40960, 1},
                        Case{524288, 524288, 16}, Case{1025, 2048, 0}}) {
    SCOPED_TRACE(c.length);
    const auto bytes = PatternBytes(c.length);
    const auto file = folder.WriteFile("SC5_Firmware_v1.10.bin", bytes);
    transferCursor = TransferCursor{7, 5};
    ConnectionPollCount = 99;

    ASSERT_EQ(LoadFirmwareImage(), 0);
    EXPECT_EQ(firmwareImage.size, c.size);
    EXPECT_EQ(firmwareImage.blockCount, c.blockCount);
    ASSERT_EQ(firmwareImage.data.size(), c.size);
    std::vector<std::uint8_t> expected = bytes;
    expected.resize(c.size, 0xFF);
    EXPECT_EQ(firmwareImage.data, expected);
    EXPECT_EQ(firmwareImage.crc, test_support::BitwiseCrc16(expected.data(), expected.size()));
    EXPECT_EQ(transferCursor.nextBlock, 1u);
    ExpectCountersReset();

    // The file itself is left as it was.
    std::ifstream reread(file, std::ios::binary);
    std::vector<std::uint8_t> after((std::istreambuf_iterator<char>(reread)),
                                    std::istreambuf_iterator<char>());
    EXPECT_EQ(after, bytes);
  }
  EXPECT_TRUE(view.MessageBoxes().empty());
}

TEST_F(FirmwareImageTest, ShowsRangeStartupLineAndVersionInOrder) {
  folder.WriteFile("SC5_Firmware_v1.10.bin", 10, 0);
  ASSERT_EQ(LoadFirmwareImage(), 0);
  EXPECT_EQ(view.Journal(),
            (std::vector<std::string>{"range:0..10000", "log-noscroll:Startup FW updater.",
                                      "target:1.10"}));
}

TEST_F(FirmwareImageTest, EmptyFileLoadsAsEmptyImage) {
  LoadEarlierImage();
  folder.WriteFile("SC5_Firmware_v2.0.bin", {});
  ASSERT_EQ(LoadFirmwareImage(), 0);
  EXPECT_EQ(firmwareImage.size, 0u);
  EXPECT_TRUE(firmwareImage.data.empty());
  EXPECT_EQ(firmwareImage.crc, 0xFFFF);
  EXPECT_EQ(firmwareImage.blockCount, 0u);
  EXPECT_EQ(transferCursor.nextBlock, 1u);
  ExpectCountersReset();
}

TEST_F(FirmwareImageTest, NoFileShowsMessageAndKeepsEarlierImage) {
  LoadEarlierImage();
  folder.WriteFile("readme.txt", 5, 'x');
  EXPECT_EQ(LoadFirmwareImage(), -1);
  const auto boxes = view.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "バイナリファイルが見つかりませんでした。");
  EXPECT_FALSE(boxes[0].caption.has_value());
  EXPECT_EQ(boxes[0].type, MB_OK);
  ExpectEarlierImageKept();
  ExpectCountersReset();
  EXPECT_EQ(view.LogTexts().back(), "Startup FW updater.");
}

TEST_F(FirmwareImageTest, NameRules) {
  struct Case {
    std::vector<std::string> names;
    std::string chosen;  // "" when none qualifies
    std::string version;
  };
  const Case cases[] = {
      {{"sc5_firmware_v1.0.bin", "SC5_Firmware_v1.0.BIN", "SC5_FIRMWARE_V1.0.bin"}, "", ""},
      {{"SC5_Firmware_v1.bin", "SC5_Firmware_v.1.bin", "SC5_Firmware_v1..bin",
        "SC5_Firmware_v1.0bin"},
       "",
       ""},
      {{"copy_SC5_Firmware_v1.2.bin.old"}, "copy_SC5_Firmware_v1.2.bin.old", "1.2.bin"},
      {{"SC5_Firmware_v12.345.bin"}, "SC5_Firmware_v12.345.bin", "12.345"},
      {{"note.txt", "SC5_Firmware_v1.2.binary"}, "SC5_Firmware_v1.2.binary", "1.2.bi"},
  };
  for (const Case& c : cases) {
    ScopedWorkingFolder caseFolder;
    for (const auto& name : c.names) caseFolder.WriteFile(name, 3, 0);
    SCOPED_TRACE(c.names.front());
    const std::string found = FindFirmwareFile();
    if (c.chosen.empty()) {
      EXPECT_EQ(found, "");
    } else {
      EXPECT_EQ(found, (caseFolder.path() / c.chosen).string());
      EXPECT_EQ(FirmwareVersionText(std::filesystem::path(found).filename().string()), c.version);
    }
  }
}

TEST_F(FirmwareImageTest, TwoQualifyingFilesTakeTheFirstListed) {
  folder.WriteFile("SC5_Firmware_v1.0.bin", 1, 0x10);
  folder.WriteFile("SC5_Firmware_v2.0.bin", 1, 0x20);
  folder.WriteFile("SC5_Firmware_v3.0.bin", 1, 0x30);
  const auto first = std::filesystem::directory_iterator(folder.path())->path();
  EXPECT_EQ(FindFirmwareFile(), first.string());
  ASSERT_EQ(LoadFirmwareImage(), 0);
  std::ifstream stream(first, std::ios::binary);
  EXPECT_EQ(firmwareImage.data[0], stream.get());
}

TEST(NamedFirmwareVersionTest, TheNameHoldsTheVersionAndEndsInBin) {
  EXPECT_EQ(NamedFirmwareVersion("SC5_Firmware_v1.3 (1).bin"), "1.3");
  EXPECT_EQ(NamedFirmwareVersion("copy of SC5_Firmware_v12.345-beta.bin"), "12.345");
  for (const char* name : {"SC5_Firmware_v1.2.bin.old", "SC5_Firmware_v1 (1).bin",
                           "sc5_firmware_v1.3.bin", "SC5_Firmware_v1.3.BIN", "firmware.bin"}) {
    EXPECT_EQ(NamedFirmwareVersion(name), "") << name;
  }
}

// A FOLDER given on the command line replaces the working folder; a FILE is the one candidate,
// never replaced by a neighbour, on any pass.
TEST_F(FirmwareImageTest, ASourceFolderOrANamedFileReplaceTheWorkingFolder) {
  folder.WriteFile("SC5_Firmware_v9.0.bin", 1, 0x90);  // in the working folder: never taken
  const std::filesystem::path elsewhere = folder.MakeFolder("elsewhere");
  for (const char* name : {"SC5_Firmware_v1.2.bin", "SC5_Firmware_v1.3 (1).bin", "notes.bin"}) {
    std::ofstream(elsewhere / name) << name;
  }
  SetFirmwareSource({elsewhere.string(), ""});
  EXPECT_EQ(FindFirmwareFile(), (elsewhere / "SC5_Firmware_v1.2.bin").string());

  SetFirmwareSource({elsewhere.string(), "SC5_Firmware_v1.3 (1).bin"});
  ASSERT_EQ(LoadFirmwareImage(), 0);
  EXPECT_EQ(firmwareImage.fileName, "SC5_Firmware_v1.3 (1).bin");
  EXPECT_EQ(firmwareImage.data[0], 'S');
  EXPECT_EQ(firmwareImage.fileLength, std::string("SC5_Firmware_v1.3 (1).bin").size());
  EXPECT_EQ(view.TargetVersionTexts().back(), "1.3");
  // Gone before the next pass: not found, and the 1.2 file beside it is not taken instead.
  std::filesystem::remove(elsewhere / "SC5_Firmware_v1.3 (1).bin");
  EXPECT_EQ(LoadFirmwareImage(), -1);
  EXPECT_EQ(LastMessage(), "バイナリファイルが見つかりませんでした。");
  EXPECT_EQ(firmwareImage.fileName, "SC5_Firmware_v1.3 (1).bin");
  // A named file whose name does not qualify is never taken, nor anything beside it.
  SetFirmwareSource({elsewhere.string(), "notes.bin"});
  EXPECT_EQ(FindFirmwareFile(), "");
  // A relative folder is taken from the working folder of the moment it is set.
  SetFirmwareSource({"elsewhere", ""});
  EXPECT_EQ(CurrentFirmwareSource().folder, elsewhere.string());
}

TEST_F(FirmwareImageTest, FolderPathDoesNotCountForNameOrVersion) {
  ScopedWorkingFolder named("SC5_Firmware_v9.9.bin");
  EXPECT_EQ(FindFirmwareFile(), "");
  named.WriteFile("SC5_Firmware_v1.3.bin", 4, 0);
  ASSERT_EQ(LoadFirmwareImage(), 0);
  EXPECT_EQ(view.TargetVersionTexts().back(), "1.3");
}

TEST_F(FirmwareImageTest, QualifyingEntriesThatAreNoReadableFileAreReported) {
  LoadEarlierImage();
  folder.MakeFolder("SC5_Firmware_v1.0.bin");
  EXPECT_EQ(LoadFirmwareImage(), -1);
  EXPECT_EQ(LastMessage(), "バイナリファイルを読み込めませんでした。\nSC5_Firmware_v1.0.bin");
  ExpectEarlierImageKept();
  ExpectCountersReset();
  std::filesystem::remove(folder.path() / "SC5_Firmware_v1.0.bin");

  // A pipe of that name must not block the UI thread waiting for a writer.
  ASSERT_EQ(mkfifo((folder.path() / "SC5_Firmware_v1.1.bin").c_str(), 0600), 0);
  EXPECT_EQ(LoadFirmwareImage(), -1);
  EXPECT_EQ(LastMessage(), "バイナリファイルを読み込めませんでした。\nSC5_Firmware_v1.1.bin");
  ExpectEarlierImageKept();
  std::filesystem::remove(folder.path() / "SC5_Firmware_v1.1.bin");

  // A link to nothing cannot be opened.
  std::filesystem::create_symlink(folder.path() / "missing",
                                  folder.path() / "SC5_Firmware_v1.2.bin");
  EXPECT_EQ(LoadFirmwareImage(), -1);
  EXPECT_EQ(LastMessage(), "バイナリファイルを読み込めませんでした。\nSC5_Firmware_v1.2.bin");
  ExpectEarlierImageKept();
  ExpectCountersReset();
}

TEST_F(FirmwareImageTest, FileWithoutReadPermissionIsReported) {
  const auto file = folder.WriteFile("SC5_Firmware_v1.0.bin", 10, 0);
  std::filesystem::permissions(file, std::filesystem::perms::none);
  if (access(file.c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not apply to this user";
  EXPECT_EQ(LoadFirmwareImage(), -1);
  EXPECT_EQ(LastMessage(), "バイナリファイルを読み込めませんでした。\nSC5_Firmware_v1.0.bin");
}

TEST_F(FirmwareImageTest, UnreadableWorkingFolderCountsAsNoFile) {
  ScopedWorkingFolder gone;
  gone.WriteFile("SC5_Firmware_v1.0.bin", 10, 0);
  std::filesystem::remove_all(gone.path());
  EXPECT_EQ(FindFirmwareFile(), "");
  EXPECT_EQ(LoadFirmwareImage(), -1);
  EXPECT_EQ(LastMessage(), "バイナリファイルが見つかりませんでした。");
}

std::vector<std::size_t> allocationRequests;
void RecordAllocation(std::size_t size) {
  allocationRequests.push_back(size);
}
void FailAllocation(std::size_t size) {
  allocationRequests.push_back(size);
  throw std::bad_alloc();
}

TEST_F(FirmwareImageTest, FilesBeyondTheThirtyTwoBitSizeAreRefusedWithoutAllocating) {
  LoadEarlierImage();
  allocationRequests.clear();
  SetImageAllocationHookForTesting(&RecordAllocation);
  // Sparse files: only their length matters, nothing is read.
  for (std::uint64_t length : {std::uint64_t{0x1'0000'0000}, kMaxFirmwareFileLength + 1}) {
    SCOPED_TRACE(length);
    const auto file = folder.WriteFile("SC5_Firmware_v1.0.bin", {});
    std::filesystem::resize_file(file, length);
    EXPECT_EQ(LoadFirmwareImage(), -1);
    EXPECT_EQ(LastMessage(),
              "バイナリファイルが大きすぎるため読み込めませんでした。\nSC5_Firmware_v1.0.bin");
    ExpectEarlierImageKept();
  }
  EXPECT_TRUE(allocationRequests.empty());

  // The largest length that fits pads to 0xFFFFFC00 and gets as far as the allocation.
  SetImageAllocationHookForTesting(&FailAllocation);
  std::filesystem::resize_file(folder.path() / "SC5_Firmware_v1.0.bin", kMaxFirmwareFileLength - 5);
  EXPECT_EQ(LoadFirmwareImage(), 2);
  ASSERT_EQ(allocationRequests.size(), 1u);
  EXPECT_EQ(allocationRequests[0], 0xFFFFFC00u);
}

TEST_F(FirmwareImageTest, AllocationFailureEndsTheApplication) {
  LoadEarlierImage();
  folder.WriteFile("SC5_Firmware_v1.0.bin", 5000, 1);
  SetImageAllocationHookForTesting(&FailAllocation);
  EXPECT_EQ(LoadFirmwareImage(), 2);
  EXPECT_EQ(LastMessage(), "メモリを確保できませんでした。\nアプリを終了します。");
  ExpectEarlierImageKept();
  ExpectCountersReset();
}

}  // namespace
