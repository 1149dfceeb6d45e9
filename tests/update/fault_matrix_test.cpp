// Every exchange of a three-block update made to fail in turn, and every read cut short: each
// must end in the right message and a restart (or a resend), never in a reported success.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "update/firmware_image.h"
#include "update/update_state.h"
#include "update_run_fixture.h"

namespace {

constexpr std::uint32_t kBlocks = 3;
// Exchanges of one pass over three blocks: 1 device information, 2n block n, 2n + 1 its
// status, 8 the checksum confirmation.
constexpr int kExchangesPerPass = 2 + 2 * kBlocks;

class FaultMatrix : public UpdateRunTest {
 protected:
  // A whole number of 32 KiB blocks, so the device's own checksum ("checksum auto") can
  // confirm the image.
  std::vector<std::uint8_t> WriteThreeBlockFirmware() {
    std::vector<std::uint8_t> file = PatternedFirmware(kBlocks * FW_BLOCK_SIZE);
    WriteFirmware("SC5_Firmware_v2.7.bin", file);
    return file;
  }

  // One restart after the failure box: an empty log line and phase 0 one second later; then
  // the second pass completes and the application ends.
  void ExpectOneRestartThenCompletion(const std::string& failureBox) {
    const auto boxes = m_view.MessageBoxes();
    const auto failure = std::find_if(boxes.begin(), boxes.end(),
                                      [&](const auto& box) { return box.text == failureBox; });
    ASSERT_NE(failure, boxes.end());
    const auto restarts = TicksInPhase(m_view, 0);
    ASSERT_EQ(restarts.size(), 2u);
    EXPECT_EQ(restarts[1].at, failure->at + 1000);
    const auto log = m_view.LogTexts();
    EXPECT_EQ(CountOf(log, ""), 1u);
    EXPECT_EQ(CountOf(log, "Startup FW updater."), 2u);
    EXPECT_EQ(CountOf(log, "Update Complete."), 1u);
    EXPECT_EQ(log.back(), "End Application");
    EXPECT_EQ(CountOf(BoxTexts(m_view), kCompleteText), 1u);
    EXPECT_EQ(BoxTexts(m_view).back(), kCompleteText);
    EXPECT_EQ(m_view.ProgressPositions().back(), 10000);
    EXPECT_EQ(m_view.CloseCount(), 1);
  }
};

// ---------------------------------------------------------------------------------------
// A failed transfer at every exchange of the pass.

struct Exchange {
  int number;
  const char* name;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const Exchange& value, std::ostream* out) {
  *out << value.name;
}

const Exchange kEveryExchange[] = {
    {1, "DeviceInformation"}, {2, "Block1Write"}, {3, "Block1Status"}, {4, "Block2Write"},
    {5, "Block2Status"},      {6, "Block3Write"}, {7, "Block3Status"}, {8, "Checksum"},
};

class FailedTransfer : public FaultMatrix, public ::testing::WithParamInterface<Exchange> {};

TEST_P(FailedTransfer, ShowsTheCommunicationErrorRestartsAndTheNextPassCompletes) {
  const int failed = GetParam().number;
  const auto file = WriteThreeBlockFirmware();
  Start("fail transfer " + std::to_string(failed));

  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  std::vector<std::string> expected;
  if (failed > 1) expected.push_back(kConfirmUpdateText);
  expected.insert(expected.end(), {kCommunicationText, kConfirmUpdateText, kCompleteText});
  EXPECT_EQ(BoxTexts(m_view), expected);
  ExpectOneRestartThenCompletion(kCommunicationText);

  const auto transfers = Transfers();
  ASSERT_EQ(transfers.size(), static_cast<std::size_t>(failed + kExchangesPerPass));
  for (int index = 0; index < failed; ++index) {
    EXPECT_EQ(transfers[index].result, index + 1 == failed ? 31 : 0) << "exchange " << index + 1;
  }
  ExpectCleanPass({transfers.begin() + failed, transfers.end()}, file);
}

INSTANTIATE_TEST_SUITE_P(AtEachExchange, FailedTransfer, ::testing::ValuesIn(kEveryExchange),
                         NameOfRow{});

// ---------------------------------------------------------------------------------------
// A read that reports success but leaves the deciding bytes unwritten is never a success.

TEST_F(FaultMatrix, AnEmptyDeviceInformationIsNotAnUpdateModeDevice) {
  const auto file = WriteThreeBlockFirmware();
  Start("short-reply 1 0");
  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view),
            (std::vector<std::string>{kNotUpdateModeText, kConfirmUpdateText, kCompleteText}));
  ExpectOneRestartThenCompletion(kNotUpdateModeText);
  EXPECT_EQ(m_view.CurrentVersionTexts(), std::vector<std::string>{"1.0"})
      << "only the full reply's version is shown";
  const auto transfers = Transfers();
  ASSERT_EQ(transfers.size(), 1u + kExchangesPerPass);
  EXPECT_EQ(transfers[0].crc, 0xFFFF) << "no reply byte crossed";
  ExpectCleanPass({transfers.begin() + 1, transfers.end()}, file);
}

TEST_F(FaultMatrix, AnEmptyChecksumReplyIsARefusal) {
  const auto file = WriteThreeBlockFirmware();
  Start("short-reply " + std::to_string(kExchangesPerPass) + " 0");
  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kUpdateFailedText,
                                                        kConfirmUpdateText, kCompleteText}));
  ExpectOneRestartThenCompletion(kUpdateFailedText);
  EXPECT_EQ(CountOf(m_view.LogTexts(), "Confirming checksum."), 2u);
  const auto transfers = Transfers();
  ASSERT_EQ(transfers.size(), 2u * kExchangesPerPass);
  EXPECT_EQ(transfers[kExchangesPerPass - 1].crc, 0xFFFF) << "no reply byte crossed";
  ExpectCleanPass({transfers.begin() + kExchangesPerPass, transfers.end()}, file);
}

struct ShortStatus {
  int exchange;  // 2n + 1: the status read of block n
  int bytes;     // how many reply bytes the device writes
  std::vector<int> progress;
  const char* name;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const ShortStatus& value, std::ostream* out) {
  *out << value.name;
}

class ShortStatusReply : public FaultMatrix, public ::testing::WithParamInterface<ShortStatus> {};

// A status without its verdict byte counts as a rejection that names no block just written:
// the transfer begins again at block 1, with no message and no restart.
TEST_P(ShortStatusReply, CountsAsARejectionAndTheTransferBeginsAgain) {
  const ShortStatus reply = GetParam();
  const auto file = WriteThreeBlockFirmware();
  Start("short-reply " + std::to_string(reply.exchange) + " " + std::to_string(reply.bytes));
  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  EXPECT_EQ(TicksInPhase(m_view, 0).size(), 1u) << "no restart";

  const auto shortBlock = static_cast<std::uint32_t>(reply.exchange - 1) / 2;
  std::vector<std::uint32_t> blocks;
  for (std::uint32_t block = 1; block <= shortBlock; ++block) blocks.push_back(block);
  for (std::uint32_t block = 1; block <= kBlocks; ++block) blocks.push_back(block);
  const auto transfers = Transfers();
  EXPECT_EQ(WrittenBlocks(transfers), blocks);
  ASSERT_EQ(transfers.size(), static_cast<std::size_t>(reply.exchange + kExchangesPerPass - 1));
  // The device information, then the complete second run of blocks and the checksum.
  std::vector<TraceTransfer> pass{transfers.front()};
  pass.insert(pass.end(), transfers.end() - (kExchangesPerPass - 1), transfers.end());
  ExpectCleanPass(pass, file);
  // The bar moves only on accepted blocks; a transfer begun again moves it back.
  EXPECT_EQ(m_view.ProgressPositions(), reply.progress);
}

INSTANTIATE_TEST_SUITE_P(
    AtEachStatusRead, ShortStatusReply,
    ::testing::Values(
        ShortStatus{3, 0, {3333, 6666, 9800, 10000}, "Block1StatusEmpty"},
        ShortStatus{3, 4, {3333, 6666, 9800, 10000}, "Block1StatusWithoutVerdict"},
        ShortStatus{5, 0, {3333, 6666, 9800, 10000}, "Block2StatusEmpty"},
        ShortStatus{5, 4, {3333, 6666, 9800, 10000}, "Block2StatusWithoutVerdict"},
        ShortStatus{7, 0, {3333, 6666, 3333, 6666, 9800, 10000}, "Block3StatusEmpty"},
        ShortStatus{7, 4, {3333, 6666, 3333, 6666, 9800, 10000}, "Block3StatusWithoutVerdict"}),
    NameOfRow{});

}  // namespace
