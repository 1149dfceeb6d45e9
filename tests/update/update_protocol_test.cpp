// Phases 3 to 5 one step at a time against the simulated device: the device information and
// the confirmation, the block writes with their retries, restarts and progress, and the
// whole-image checksum, each checked against the transfers the device saw.
#include "update/update_protocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "fake_update_view.h"
#include "sequence_harness.h"
#include "simulated_device_support.h"
#include "update/connection_checks.h"
#include "update/device_protocol.h"
#include "update/firmware_image.h"
#include "update/update_state.h"
#include "usb/hid_std_agent.h"

namespace {

constexpr std::uint16_t kWriteBlockOp = 0xF601;
constexpr std::uint16_t kBlockStatusOp = 0xF602;

// An image of whole blocks plus tailBytes, each block's bytes distinct from its neighbours'.
void LoadImage(std::uint32_t blockCount, std::uint32_t tailBytes = 0) {
  firmwareImage = FirmwareImage{};
  firmwareImage.size = blockCount * FW_BLOCK_SIZE + tailBytes;
  firmwareImage.data.resize(firmwareImage.size);
  for (std::size_t index = 0; index < firmwareImage.data.size(); ++index) {
    firmwareImage.data[index] = static_cast<std::uint8_t>(index * 7 + index / FW_BLOCK_SIZE * 13);
  }
  firmwareImage.crc = Crc16(firmwareImage.data.data(), firmwareImage.size);
  firmwareImage.blockCount = blockCount;
  transferCursor = TransferCursor{};
}

std::vector<std::uint32_t> Concatenate(std::initializer_list<std::vector<std::uint32_t>> parts) {
  std::vector<std::uint32_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The device is connected at position 0 through the real connection checks, as after phase 2.
class UpdateProtocol : public ::testing::Test {
 protected:
  void Connect(const std::string& scenario) {
    m_device.emplace(m_view, scenario);
    SelectDevice();
    ASSERT_EQ(CheckConnection(), kPhaseAdvance) << m_device->scenario.TraceText();
  }
  void TearDown() override {
    SetUpdateClosing(false);
    m_device.reset();
  }

  // Worker runs until one answers other than 1, at most maxRuns.
  std::vector<int> WriteRuns(int maxRuns = 1000) {
    std::vector<int> results;
    while (static_cast<int>(results.size()) < maxRuns) {
      results.push_back(WriteFirmwareBlocks());
      if (results.back() != kPhaseWait) break;
    }
    return results;
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : m_view.MessageBoxes()) texts.push_back(box.text);
    return texts;
  }

  FakeUpdateView m_view;
  ScriptedDeviceList m_list{std::vector<std::string>{}};
  RecordingUrlOpener m_opener;
  ScopedConnectionServices m_services{m_list, m_opener};
  std::optional<SimulatedPhaseContext> m_device;
};

// --- phase 3 -------------------------------------------------------------------------------

TEST_F(UpdateProtocol, DeviceVersionIsShownUnsignedAndYesGoesOn) {
  for (const auto& [major, minor, shown] :
       {std::tuple{1, 10, "1.10"}, std::tuple{255, 0, "255.0"}, std::tuple{0, 255, "0.255"}}) {
    SCOPED_TRACE(shown);
    TearDown();
    m_view.QueueAnswers({IDYES});
    Connect("info version " + std::to_string(major) + " " + std::to_string(minor));
    const std::size_t boxesBefore = m_view.MessageBoxes().size();
    EXPECT_EQ(QueryDeviceInfo(), kPhaseAdvance);
    EXPECT_EQ(m_view.CurrentVersionTexts().back(), shown);
    const auto boxes = m_view.MessageBoxes();
    ASSERT_EQ(boxes.size(), boxesBefore + 1);
    EXPECT_EQ(boxes.back().text, kConfirmUpdateText);
    EXPECT_EQ(boxes.back().caption, std::optional<std::string>("確認"));
    EXPECT_EQ(boxes.back().type, MB_YESNO);
    const auto transfers = m_device->scenario.Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].command, DeviceCommandBlock::ForOp(DeviceOp::DeviceInfo).bytes);
    EXPECT_EQ(transfers[0].direction, 0);
    EXPECT_EQ(transfers[0].length, 16);
  }
}

TEST_F(UpdateProtocol, NoAtTheConfirmationEndsWithoutWriting) {
  m_view.QueueAnswers({IDNO});
  Connect("info version 1 1");
  LoadImage(4);
  EXPECT_EQ(QueryDeviceInfo(), kPhaseEnd);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kConfirmUpdateText, kCancelledText}));
  EXPECT_EQ(m_view.MessageBoxes()[1].caption, std::nullopt);
  EXPECT_TRUE(WrittenBlocks(m_device->scenario.Transfers()).empty());
}

TEST_F(UpdateProtocol, ADeviceNotInUpdateModeStartsOverWithoutAsking) {
  for (int status : {1, 0x80, 0xFF}) {
    SCOPED_TRACE(status);
    TearDown();
    Connect("info status " + std::to_string(status));
    const std::size_t boxesBefore = m_view.MessageBoxes().size();
    EXPECT_EQ(QueryDeviceInfo(), kPhaseRestart);
    ASSERT_EQ(m_view.MessageBoxes().size(), boxesBefore + 1);
    EXPECT_EQ(m_view.MessageBoxes().back().text, kNotUpdateModeText);
    EXPECT_TRUE(m_view.CurrentVersionTexts().empty());
  }
}

TEST_F(UpdateProtocol, DeviceInformationThatFailsOrNeverArrivesIsNotTrusted) {
  Connect("fail transfer 1");
  EXPECT_EQ(QueryDeviceInfo(), kPhaseRestart);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCommunicationText});

  // A reply that writes nothing leaves the status unknown: not taken as update mode.
  TearDown();
  Connect("short-reply 1 0");
  EXPECT_EQ(QueryDeviceInfo(), kPhaseRestart);
  EXPECT_EQ(BoxTexts().back(), kNotUpdateModeText);
  EXPECT_TRUE(m_view.CurrentVersionTexts().empty());
}

// --- phase 4 -------------------------------------------------------------------------------

TEST_F(UpdateProtocol, RunsYieldAtEveryMultipleOf32) {
  struct Case {
    std::uint32_t blockCount;
    std::vector<int> results;
  };
  for (const Case& run : {Case{0, {0}}, Case{31, {1, 0}}, Case{64, {1, 1, 0}}}) {
    SCOPED_TRACE(run.blockCount);
    TearDown();
    Connect("");
    LoadImage(run.blockCount);
    EXPECT_EQ(WriteRuns(), run.results);
    const auto blocks = WrittenBlocks(m_device->scenario.Transfers());
    EXPECT_EQ(blocks,
              run.blockCount == 0 ? std::vector<std::uint32_t>{} : BlockRange(1, run.blockCount));
  }
}

TEST_F(UpdateProtocol, EveryBlockCarriesItsNumberCountAndCrcFollowedByAStatusRead) {
  Connect("");
  LoadImage(64, 5000);
  EXPECT_EQ(WriteRuns(), (std::vector<int>{1, 1, 0}));
  const auto transfers = m_device->scenario.Transfers();
  ASSERT_EQ(transfers.size(), 128u);
  for (std::uint32_t block = 1; block <= 64; ++block) {
    SCOPED_TRACE(block);
    const TraceTransfer& write = transfers[2 * (block - 1)];
    const TraceTransfer& status = transfers[2 * (block - 1) + 1];
    const std::uint16_t crc =
        Crc16(firmwareImage.data.data() + (block - 1) * FW_BLOCK_SIZE, FW_BLOCK_SIZE);
    EXPECT_EQ(write.command, DeviceCommandBlock::WriteBlock(64, block, crc).bytes);
    EXPECT_EQ(write.direction, 1);
    EXPECT_EQ(write.length, static_cast<int>(FW_BLOCK_SIZE));
    EXPECT_EQ(write.crc, crc);
    EXPECT_EQ(write.result, 0);
    EXPECT_EQ(status.command, DeviceCommandBlock::ForOp(DeviceOp::BlockStatus).bytes);
    EXPECT_EQ(status.direction, 0);
    EXPECT_EQ(status.length, 16);
  }
}

TEST_F(UpdateProtocol, ProgressClimbsPerAcceptedBlockAndStopsAt9800) {
  Connect("");
  LoadImage(16);
  // The bar already shows the first block's position: that one is not set again.
  m_view.SetProgressPosition(625);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
  std::vector<int> expected{625};
  for (int block = 2; block <= 15; ++block) expected.push_back(block * 625);
  expected.push_back(9800);
  EXPECT_EQ(m_view.ProgressPositions(), expected);
}

TEST_F(UpdateProtocol, ARejectionNamingTheSameBlockWritesItAgain) {
  Connect("reject 5 times 2 names same");
  LoadImage(16);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()),
            Concatenate({BlockRange(1, 5), {5, 5}, BlockRange(6, 16)}));
  // The rewritten block's bytes and CRC are those of the first attempt.
  const auto transfers = m_device->scenario.Transfers();
  EXPECT_EQ(transfers[8].command, transfers[10].command);
  EXPECT_EQ(transfers[8].crc, transfers[10].crc);
  EXPECT_EQ(m_view.ProgressPositions().size(), 16u);
  EXPECT_EQ(transferCursor.retryCount, 0u);
  EXPECT_TRUE(m_view.MessageBoxes().empty());
}

TEST_F(UpdateProtocol, ARejectedBlock32EndsEveryAttemptsRun) {
  Connect("reject 32 times 2 names same");
  LoadImage(64);
  EXPECT_EQ(WriteRuns(), (std::vector<int>{1, 1, 1, 1, 0}));
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()),
            Concatenate({BlockRange(1, 31), {32, 32}, BlockRange(32, 64)}));
}

TEST_F(UpdateProtocol, ARejectionNamingAnotherBlockStartsAgainFromBlock1) {
  for (const std::string naming : {"zero", "2", "beyond", "4294967295"}) {
    SCOPED_TRACE(naming);
    TearDown();
    Connect("reject 5 names " + naming);
    LoadImage(16);
    const std::size_t positionsBefore = m_view.ProgressPositions().size();
    m_view.SetProgressPosition(0);
    EXPECT_EQ(WriteRuns(), std::vector<int>{0});
    EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()),
              Concatenate({BlockRange(1, 5), BlockRange(1, 16)}));
    // The bar holds 2500 through the rejection, then moves back with block 1.
    std::vector<int> positions = m_view.ProgressPositions();
    positions.erase(positions.begin(), positions.begin() + positionsBefore + 1);
    std::vector<int> expected{625, 1250, 1875, 2500};
    for (int block = 1; block <= 15; ++block) expected.push_back(block * 625);
    expected.push_back(9800);
    EXPECT_EQ(positions, expected);
  }
}

TEST_F(UpdateProtocol, TenRejectionsInARowAreToleratedTheEleventhFails) {
  Connect("reject 3 times 10");
  LoadImage(4);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()).size(), 14u);

  TearDown();
  Connect("reject 3 times 11");
  LoadImage(4);
  const std::size_t positionsBefore = m_view.ProgressPositions().size();
  EXPECT_EQ(WriteRuns(), std::vector<int>{kPhaseRestart});
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()),
            Concatenate({{1, 2}, std::vector<std::uint32_t>(11, 3)}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kUpdateErrorText});
  EXPECT_EQ(m_view.MessageBoxes()[0].caption, std::nullopt);
  EXPECT_EQ(m_view.ProgressPositions().size(), positionsBefore + 2);
  EXPECT_EQ(transferCursor.retryCount, FW_RETRY_LIMIT + 1);
}

TEST_F(UpdateProtocol, TheRejectionCountSpansRunsAndRestarts) {
  // At block 32 every rejection also ends the run.
  Connect("reject 32 times 11");
  LoadImage(40);
  std::vector<int> expected(11, kPhaseWait);
  expected.push_back(kPhaseRestart);
  EXPECT_EQ(WriteRuns(), expected);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kUpdateErrorText});

  // Block 1 rejected with another number: each rejection restarts, none clears the count.
  TearDown();
  Connect("reject 1 times 11 names zero");
  LoadImage(2);
  EXPECT_EQ(WriteRuns(), std::vector<int>{kPhaseRestart});
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()), std::vector<std::uint32_t>(11, 1));

  TearDown();
  Connect("reject 1 times 10 names beyond");
  LoadImage(2);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
}

TEST_F(UpdateProtocol, AnAcceptedBlockClearsTheRejectionCount) {
  Connect("reject 3 times 10\nreject 4 times 10");
  LoadImage(5);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
  EXPECT_TRUE(m_view.MessageBoxes().empty());
  EXPECT_EQ(transferCursor.retryCount, 0u);
}

TEST_F(UpdateProtocol, AStatusReplyThatWritesNothingIsARejection) {
  // Exchange 4 is the status read of block 2.
  Connect("short-reply 4 0");
  LoadImage(3);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()),
            (std::vector<std::uint32_t>{1, 2, 1, 2, 3}));
}

TEST_F(UpdateProtocol, AFailedTransferEndsTheRunWithTheCommunicationMessage) {
  // 1: block 1's data, 2: its status read, 9: block 5's data, 10: its status read.
  for (int exchange : {1, 2, 9, 10}) {
    SCOPED_TRACE(exchange);
    TearDown();
    Connect("fail transfer " + std::to_string(exchange));
    LoadImage(8);
    const std::size_t boxesBefore = m_view.MessageBoxes().size();
    EXPECT_EQ(WriteRuns(), std::vector<int>{kPhaseRestart});
    ASSERT_EQ(m_view.MessageBoxes().size(), boxesBefore + 1);
    EXPECT_EQ(m_view.MessageBoxes().back().text, kCommunicationText);
    // Nothing is repeated within the run.
    EXPECT_EQ(m_device->scenario.Transfers().size(), static_cast<std::size_t>(exchange));
  }
}

TEST_F(UpdateProtocol, AClosingViewGetsNoMoreBlocks) {
  Connect("");
  LoadImage(8);
  SetUpdateClosing(true);
  EXPECT_EQ(WriteFirmwareBlocks(), kPhaseWait);
  EXPECT_TRUE(m_device->scenario.Transfers().empty());
  EXPECT_TRUE(m_view.MessageBoxes().empty());
  EXPECT_EQ(transferCursor.nextBlock, 1u);
}

// The window begins closing while block 3's progress is being shown.
class ClosingAtBlock3View : public FakeUpdateView {
 public:
  void SetProgressPosition(int position) override {
    FakeUpdateView::SetProgressPosition(position);
    if (position == 3 * 10000 / 8) SetUpdateClosing(true);
  }
};

TEST_F(UpdateProtocol, AWindowClosingMidRunEndsItAtTheNextBlock) {
  ClosingAtBlock3View view;
  Connect("");
  ScopedUpdateContext context(view, &m_device->agent);
  LoadImage(8);
  EXPECT_EQ(WriteFirmwareBlocks(), kPhaseWait);
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()), BlockRange(1, 3));
  EXPECT_EQ(transferCursor.nextBlock, 4u);
  EXPECT_TRUE(view.MessageBoxes().empty());
}

TEST_F(UpdateProtocol, AnImageShorterThanItsBlockCountIsNeverReadPast) {
  Connect("");
  LoadImage(2);
  firmwareImage.blockCount = 3;
  EXPECT_EQ(WriteRuns(), std::vector<int>{kPhaseRestart});
  EXPECT_EQ(WrittenBlocks(m_device->scenario.Transfers()), (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCommunicationText});
}

// --- phase 5 -------------------------------------------------------------------------------

TEST_F(UpdateProtocol, AConfirmedChecksumCompletesTheBarAndEnds) {
  Connect("");
  LoadImage(3);
  ASSERT_EQ(WriteRuns(), std::vector<int>{0});
  EXPECT_EQ(ConfirmImageChecksum(), kPhaseEnd);
  EXPECT_EQ(m_view.ProgressPosition(), 10000);
  EXPECT_EQ(m_view.LogTexts(), (std::vector<std::string>{"USB Connected.", "Confirming checksum.",
                                                         "Update Complete."}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCompleteText});
  const TraceTransfer confirm = m_device->scenario.Transfers().back();
  EXPECT_EQ(confirm.command, DeviceCommandBlock::ConfirmChecksum(firmwareImage.crc).bytes);
  EXPECT_EQ(confirm.direction, 0);
  EXPECT_EQ(confirm.length, 16);
}

TEST_F(UpdateProtocol, WithNoBlocksTheImageCrcIsStillSent) {
  Connect("checksum accept");
  LoadImage(0, 1024);
  EXPECT_EQ(WriteRuns(), std::vector<int>{0});
  EXPECT_EQ(ConfirmImageChecksum(), kPhaseEnd);
  const auto transfers = m_device->scenario.Transfers();
  ASSERT_EQ(transfers.size(), 1u);
  EXPECT_EQ(transfers[0].Parameter16(2), firmwareImage.crc);
}

TEST_F(UpdateProtocol, ARefusedOrUnansweredChecksumFails) {
  for (const std::string scenario : {"checksum refuse", "short-reply 1 0", "fail transfer 1"}) {
    SCOPED_TRACE(scenario);
    TearDown();
    Connect(scenario);
    LoadImage(0, 2048);
    m_view.SetProgressPosition(9800);
    const std::size_t boxesBefore = m_view.MessageBoxes().size();
    EXPECT_EQ(ConfirmImageChecksum(), kPhaseRestart);
    ASSERT_EQ(m_view.MessageBoxes().size(), boxesBefore + 1);
    EXPECT_EQ(m_view.MessageBoxes().back().text,
              scenario == "fail transfer 1" ? kCommunicationText : kUpdateFailedText);
    EXPECT_EQ(m_view.ProgressPosition(), 9800);
    EXPECT_EQ(m_view.LogTexts().back(), "Confirming checksum.");
  }
}

}  // namespace
