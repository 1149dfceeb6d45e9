// A device that keeps rejecting blocks: ten rejections in a row are tolerated, the eleventh
// fails the update and starts over, and an accepted block clears the count, also when the
// rejections span several worker runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/firmware_image.h"
#include "update_run_fixture.h"

namespace {

std::vector<std::uint32_t> Blocks(
    std::initializer_list<std::pair<std::uint32_t, std::size_t>> runs) {
  std::vector<std::uint32_t> blocks;
  for (const auto& [block, times] : runs) blocks.insert(blocks.end(), times, block);
  return blocks;
}

std::vector<std::uint32_t> Joined(std::vector<std::uint32_t> first,
                                  const std::vector<std::uint32_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class RejectionStorm : public UpdateRunTest {
 protected:
  std::vector<std::uint8_t> WriteFirmwareOf(std::uint32_t blocks) {
    auto file = PatternedFirmware(blocks * FW_BLOCK_SIZE);
    WriteFirmware("SC5_Firmware_v4.0.bin", file);
    return file;
  }
  std::size_t Restarts() const { return TicksInPhase(m_view, 0).size() - 1; }
};

TEST_F(RejectionStorm, TheEleventhRejectionInARowFailsTheUpdateAndStartsOver) {
  WriteFirmwareOf(3);
  Start("reject-all");

  ASSERT_EQ(Run([&] { return Restarts() == 1; }), RunEnd::UntilMet) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kUpdateErrorText}));
  // Eleven writes of block 1, each with its status read, and nothing after the eleventh.
  auto transfers = Transfers();
  EXPECT_EQ(WrittenBlocks(transfers), Blocks({{1, 11}}));
  ASSERT_EQ(transfers.size(), 1u + 2 * 11);
  EXPECT_EQ(transfers.back().Op(), 0xF602);
  const auto box = m_view.MessageBoxes().back();
  EXPECT_FALSE(box.fromUiThread) << "the worker's own message";
  EXPECT_EQ(TicksInPhase(m_view, 0).back().at, box.at + 1000);
  const auto log = m_view.LogTexts();
  EXPECT_EQ(log, (std::vector<std::string>{"Startup FW updater.", "USB Connecting...",
                                           "USB Connected.", "", "Startup FW updater."}));
  EXPECT_TRUE(m_view.ProgressPositions().empty()) << "a rejection never moves the bar";

  // Phase 0 clears the count: the next pass again tolerates ten and fails at the eleventh.
  ASSERT_EQ(Run([&] { return Restarts() == 2; }), RunEnd::UntilMet) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kUpdateErrorText,
                                                        kConfirmUpdateText, kUpdateErrorText}));
  transfers = Transfers();
  EXPECT_EQ(WrittenBlocks(transfers), Blocks({{1, 22}}));
  EXPECT_EQ(transfers.size(), 2u * (1 + 2 * 11));
  EXPECT_EQ(m_view.CloseCount(), 0);
}

TEST_F(RejectionStorm, TenRejectionsAnAcceptAndTenMoreDoNotFail) {
  WriteFirmwareOf(3);
  Start("reject 1 times 10\nreject 2 times 10");

  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  EXPECT_EQ(Restarts(), 0u);
  const auto transfers = Transfers();
  EXPECT_EQ(WrittenBlocks(transfers), Blocks({{1, 11}, {2, 11}, {3, 1}}));
  EXPECT_EQ(m_view.ProgressPositions(), (std::vector<int>{3333, 6666, 9800, 10000}));
}

// Block 32 ends a worker run, so every rejection of it ends a run too: the count must carry
// over from run to run.
TEST_F(RejectionStorm, RejectionsSpanningWorkerRunsAreCountedTogether) {
  WriteFirmwareOf(33);
  Start("reject 32 times 10");
  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  EXPECT_EQ(WrittenBlocks(Transfers()), Joined(BlockRange(1, 31), Blocks({{32, 11}, {33, 1}})));
  EXPECT_EQ(TicksInPhase(m_view, 4).size(), 1u + 10 + 1);
}

TEST_F(RejectionStorm, TheEleventhRejectionFailsEvenWhenEachEndsAWorkerRun) {
  WriteFirmwareOf(33);
  Start("reject 32 times 11");
  ASSERT_EQ(Run([&] { return Restarts() == 1; }), RunEnd::UntilMet) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kUpdateErrorText}));
  EXPECT_EQ(WrittenBlocks(Transfers()), Joined(BlockRange(1, 31), Blocks({{32, 11}})));
  EXPECT_EQ(TicksInPhase(m_view, 4).size(), 1u + 10 + 1);
}

}  // namespace
