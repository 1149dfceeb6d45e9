// A device pulled out in the middle of writing: the update must never report completion; the
// tool restarts, finds no device, keeps polling and gives up at the poll limit as usual.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "update/firmware_image.h"
#include "update/update_state.h"
#include "update_run_fixture.h"

namespace {

struct Unplug {
  int exchange;
  int lastResult;
  const char* name;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const Unplug& value, std::ostream* out) {
  *out << value.name;
}

class DeviceGone : public UpdateRunTest, public ::testing::WithParamInterface<Unplug> {};

TEST_P(DeviceGone, MidWriteRestartsPollsForTheDeviceAndNeverReportsCompletion) {
  const Unplug unplug = GetParam();
  WriteFirmware("SC5_Firmware_v3.1.bin", PatternedFirmware(3 * FW_BLOCK_SIZE));
  Start("unplug " + std::to_string(unplug.exchange));

  // Up to the restart that follows the give-up at the poll limit.
  ASSERT_EQ(Run([&] { return TicksInPhase(m_view, 0).size() == 3; }), RunEnd::UntilMet)
      << TraceText();
  EXPECT_EQ(BoxTexts(m_view),
            (std::vector<std::string>{kConfirmUpdateText, kCommunicationText, kNoDeviceText}));
  EXPECT_EQ(m_view.CloseCount(), 0);
  const auto log = m_view.LogTexts();
  EXPECT_EQ(CountOf(log, "USB Connected."), 1u);
  EXPECT_EQ(CountOf(log, "Update Complete."), 0u);
  EXPECT_EQ(CountOf(log, ""), 2u);
  EXPECT_EQ(CountOf(log, "USB Connecting..."), 2u);
  EXPECT_EQ(m_view.CurrentVersionTexts().size(), 1u);
  for (const int position : m_view.ProgressPositions()) EXPECT_LT(position, 9800);

  // Nothing was sent after the unplugged exchange, which failed as "not connected".
  const auto transfers = Transfers();
  ASSERT_EQ(transfers.size(), static_cast<std::size_t>(unplug.exchange));
  EXPECT_EQ(transfers.back().result, unplug.lastResult);

  // The connection checks saw an empty bus: the gone device's interface was given back at the
  // first rescan, and then 180 empty polls a second apart.
  const std::string trace = TraceText();
  const auto release = trace.find("release object=hid name=SCRIBOLANTE-X-1");
  ASSERT_NE(release, std::string::npos) << trace;
  EXPECT_LT(trace.rfind("transfer "), release);
  EXPECT_EQ(TraceLinesStartingWith("open "), 1u) << "no device to open after the restart";
  const auto ticks = m_view.Ticks();
  const auto restarts = TicksInPhase(m_view, 0);
  std::vector<std::uint64_t> pollTimes;
  for (const auto& tick : ticks) {
    if (tick.phase == 2 && tick.at > restarts[1].at && tick.at < restarts[2].at) {
      pollTimes.push_back(tick.at);
    }
  }
  ASSERT_EQ(pollTimes.size(), 180u);
  for (std::size_t poll = 1; poll < pollTimes.size(); ++poll) {
    EXPECT_EQ(pollTimes[poll] - pollTimes[poll - 1], 1000u) << poll;
  }
  EXPECT_EQ(m_view.MessageBoxes().back().at, pollTimes.back());
  EXPECT_EQ(restarts[2].at, pollTimes.back() + 1000);
  EXPECT_EQ(ConnectionPollCount, 0u);

  // And it goes on looking for the device.
  ASSERT_EQ(Run([&] { return TicksInPhase(m_view, 2).size() == 1 + 180 + 5; }), RunEnd::UntilMet);
  EXPECT_EQ(ConnectionPollCount, 5u);
  EXPECT_EQ(CountOf(m_view.LogTexts(), "Update Complete."), 0u);
}

// Exchanges: 1 device information, 2n block n, 2n + 1 its status.
INSTANTIATE_TEST_SUITE_P(AtAnExchange, DeviceGone,
                         ::testing::Values(Unplug{4, 37, "AtBlock2Write"},
                                           Unplug{5, 37, "AtBlock2Status"}),
                         NameOfRow{});

// A device that comes back (here as a fresh one) is found by the polls, and the new pass
// writes the whole image again from block 1.
TEST_F(DeviceGone, ADeviceThatComesBackGetsTheWholeImageFromBlockOne) {
  const auto file = PatternedFirmware(3 * FW_BLOCK_SIZE);
  WriteFirmware("SC5_Firmware_v3.1.bin", file);
  Start("list 1 SCRIBOLANTE-X-1\nunplug 4\nlist 10 SCRIBOLANTE-X-2");

  ASSERT_EQ(Run(), RunEnd::Closed) << TraceText();
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCommunicationText,
                                                        kConfirmUpdateText, kCompleteText}));
  // Scan 1 found the first device; scans 2 to 9, after the restart, found none.
  EXPECT_EQ(TicksInPhase(m_view, 2).size(), 1u + 9);
  const auto transfers = Transfers();
  ASSERT_EQ(transfers.size(), 4u + 8);
  for (std::size_t index = 0; index < 4; ++index) {
    EXPECT_EQ(transfers[index].device, "SCRIBOLANTE-X-1");
  }
  for (std::size_t index = 4; index < transfers.size(); ++index) {
    EXPECT_EQ(transfers[index].device, "SCRIBOLANTE-X-2");
  }
  ExpectCleanPass({transfers.begin() + 4, transfers.end()}, file);
}

}  // namespace
