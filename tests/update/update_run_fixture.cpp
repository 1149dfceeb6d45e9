// The whole-update fixture of the fault-matrix, vendor-library and odd-name tests.
#include "update_run_fixture.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "update/device_protocol.h"
#include "update/firmware_image.h"

namespace fs = std::filesystem;

std::vector<std::uint8_t> PatternedFirmware(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = 0x2545F491;
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state);
  }
  return bytes;
}

std::vector<std::string> BoxTexts(const FakeUpdateView& view) {
  std::vector<std::string> texts;
  for (const auto& box : view.MessageBoxes()) texts.push_back(box.text);
  return texts;
}

std::vector<TickRecord> TicksInPhase(const FakeUpdateView& view, std::uint32_t phase) {
  std::vector<TickRecord> ticks;
  for (const auto& tick : view.Ticks()) {
    if (tick.phase == phase) ticks.push_back(tick);
  }
  return ticks;
}

std::size_t CountOf(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

void ExpectCleanPass(const std::vector<TraceTransfer>& transfers,
                     const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> image = file;
  image.resize((file.size() + FW_PAD_UNIT - 1) / FW_PAD_UNIT * FW_PAD_UNIT, 0xFF);
  const auto blockCount = static_cast<std::uint32_t>(image.size() / FW_BLOCK_SIZE);
  ASSERT_EQ(transfers.size(), 2 + 2 * blockCount);
  EXPECT_EQ(transfers.front().command, DeviceCommandBlock::ForOp(DeviceOp::DeviceInfo).bytes);
  for (std::uint32_t block = 1; block <= blockCount; ++block) {
    SCOPED_TRACE("block " + std::to_string(block));
    const std::uint16_t crc = Crc16(image.data() + (block - 1) * FW_BLOCK_SIZE, FW_BLOCK_SIZE);
    const TraceTransfer& write = transfers[2 * block - 1];
    EXPECT_EQ(write.command, DeviceCommandBlock::WriteBlock(blockCount, block, crc).bytes);
    EXPECT_EQ(write.crc, crc) << "the data that crossed";
    const TraceTransfer& status = transfers[2 * block];
    EXPECT_EQ(status.command, DeviceCommandBlock::ForOp(DeviceOp::BlockStatus).bytes);
  }
  const TraceTransfer& confirm = transfers.back();
  EXPECT_EQ(confirm.command,
            DeviceCommandBlock::ConfirmChecksum(Crc16(image.data(), image.size())).bytes);
  const std::vector<std::uint8_t> confirmed(kReplySize, 0);
  EXPECT_EQ(confirm.crc, Crc16(confirmed.data(), confirmed.size())) << "a confirming reply";
  for (const auto& transfer : transfers) EXPECT_EQ(transfer.result, 0);
}

void UpdateRunTest::MakeWorkingFolder(const std::string& namePart) {
  m_folder.emplace(namePart);
}

fs::path UpdateRunTest::WriteFirmware(const std::string& name,
                                      const std::vector<std::uint8_t>& bytes) {
  if (!m_folder) MakeWorkingFolder();
  return m_folder->WriteFile(name, bytes);
}

void UpdateRunTest::Start(const std::string& scenario) {
  if (!m_folder) MakeWorkingFolder();
  m_before = test_support::FolderSnapshot::Take(m_folder->path());
  m_scenario = std::make_unique<ScopedScenario>(scenario);
  m_controller = std::make_unique<UpdateController>(m_view);
  ASSERT_TRUE(m_controller->OnCreate());
}

RunEnd UpdateRunTest::Run(std::function<bool()> until) {
  RunOptions options;
  options.until = std::move(until);
  options.maxTicks = 3000;
  return RunSequence(*m_controller, m_view, options);
}

void UpdateRunTest::TearDown() {
  m_view.BeginClosing();
  m_controller.reset();
  if (m_folder && m_before) {
    const auto differences =
        m_before->DifferencesTo(test_support::FolderSnapshot::Take(m_folder->path()));
    for (const auto& difference : differences) {
      ADD_FAILURE() << "the working folder changed: " << difference;
    }
  }
}

std::size_t UpdateRunTest::TraceLinesStartingWith(const std::string& start) const {
  std::istringstream lines(TraceText());
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(start, 0) == 0) ++count;
  }
  return count;
}
