// The whole update sequence, headless: the controller with the scripted view on virtual time,
// the real phases, the real USB layer and the simulated device, from the first phase 0 to
// "End Application", with the device's trace as the proof of what was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "fake_update_view.h"
#include "file_contents.h"
#include "recorded_message_boxes.h"
#include "sequence_harness.h"
#include "simulated_device_support.h"
#include "update/connection_checks.h"
#include "update/device_protocol.h"
#include "update/firmware_image.h"
#include "update/program_ending.h"
#include "update/update_controller.h"
#include "update/update_state.h"
#include "update_run_fixture.h"
#include "usb/library_loader.h"

namespace {

const std::string kFirmwareName = "SC5_Firmware_v1.10.bin";

// Whether text is a local time with its offset from UTC, shaped as 2026-12-08T19:03:42+09:00.
bool IsLocalTimeWithOffset(const std::string& text) {
  const std::string shape = "0000-00-00T00:00:00+00:00";
  if (text.size() != shape.size()) return false;
  for (std::size_t index = 0; index < shape.size(); ++index) {
    const char wanted = shape[index];
    const char found = text[index];
    const bool fits = wanted == '0'   ? found >= '0' && found <= '9'
                      : wanted == '+' ? found == '+' || found == '-'
                                      : found == wanted;
    if (!fits) return false;
  }
  return true;
}

std::vector<std::uint8_t> FirmwareBytes(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = 0x12345678;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  const std::string bytes = test_support::FileBytes(path);
  return {bytes.begin(), bytes.end()};
}

// The transfers of one successful pass: the device information, each block's write and
// status read in order, then the checksum confirmation.
void ExpectCompletePass(const std::vector<TraceTransfer>& transfers,
                        const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> image = file;
  image.resize((file.size() + FW_PAD_UNIT - 1) / FW_PAD_UNIT * FW_PAD_UNIT, 0xFF);
  const std::uint32_t blockCount = static_cast<std::uint32_t>(image.size() / FW_BLOCK_SIZE);
  ASSERT_EQ(transfers.size(), 2 + 2 * blockCount);
  EXPECT_EQ(transfers.front().command, DeviceCommandBlock::ForOp(DeviceOp::DeviceInfo).bytes);
  for (std::uint32_t block = 1; block <= blockCount; ++block) {
    SCOPED_TRACE(block);
    const std::uint16_t crc = Crc16(image.data() + (block - 1) * FW_BLOCK_SIZE, FW_BLOCK_SIZE);
    const TraceTransfer& write = transfers[2 * block - 1];
    EXPECT_EQ(write.command, DeviceCommandBlock::WriteBlock(blockCount, block, crc).bytes);
    EXPECT_EQ(write.crc, crc);
    EXPECT_EQ(write.length, static_cast<int>(FW_BLOCK_SIZE));
    EXPECT_EQ(transfers[2 * block].command, DeviceCommandBlock::ForOp(DeviceOp::BlockStatus).bytes);
  }
  EXPECT_EQ(transfers.back().command,
            DeviceCommandBlock::ConfirmChecksum(Crc16(image.data(), image.size())).bytes);
  for (const auto& transfer : transfers) EXPECT_EQ(transfer.result, 0);
}

// The tab-separated fields of a history line.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream stream(line);
  for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
  return fields;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

// The outcome field of each history line.
std::vector<std::string> Outcomes(const std::vector<std::string>& lines) {
  std::vector<std::string> outcomes;
  for (const std::string& line : lines) {
    const auto fields = Fields(line);
    outcomes.push_back(fields.size() == 6 ? fields[5] : "<" + line + ">");
  }
  return outcomes;
}

// Far more than any of these sequences needs, so a fault that loops ends the test quickly.
RunOptions Bounded(std::function<bool()> until = {}) {
  RunOptions options;
  options.until = std::move(until);
  options.maxTicks = 2000;
  return options;
}
const RunOptions kBounded = Bounded();

class WholeUpdate : public ::testing::Test {
 protected:
  void Start(const std::string& scenario) {
    m_scenario = std::make_unique<ScopedScenario>(scenario);
    m_controller = std::make_unique<UpdateController>(m_view);
    ASSERT_TRUE(m_controller->OnCreate());
  }
  void TearDown() override {
    m_view.BeginClosing();
    m_controller.reset();
    m_scenario.reset();
  }
  RunEnd Run(const RunOptions& options = {}) { return RunSequence(*m_controller, m_view, options); }
  void PollUntilTheSecondPass(ScriptedDeviceList& list, std::size_t normalModeBoxes);

  ScopedStateHome m_state;
  ScopedWorkingFolder m_folder;
  ScriptedDeviceList m_list{std::vector<std::string>{}};
  ScriptedDeviceList m_normalModeList{std::vector<std::string>{"VELDRA SCRIBOLANTE USB Device"}};
  RecordingUrlOpener m_opener;
  FakeUpdateView m_view;
  std::unique_ptr<ScopedScenario> m_scenario;
  std::unique_ptr<UpdateController> m_controller;
};

TEST_F(WholeUpdate, WritesEveryBlockInOrderAndEndsAfterTheConfirmedChecksum) {
  ScopedConnectionServices services(m_list, m_opener);
  // The simulated device confirms the checksum only when it matches the blocks it received.
  const std::vector<std::uint8_t> file = FirmwareBytes(40 * FW_BLOCK_SIZE);
  const auto path = m_folder.WriteFile(kFirmwareName, file);
  m_view.QueueAnswers({IDYES});
  Start("info version 1 0");

  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(m_view.LogTexts(), (std::vector<std::string>{"Startup FW updater.", "USB Connecting...",
                                                         "USB Connected.", "Confirming checksum.",
                                                         "Update Complete.", "End Application"}));
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  EXPECT_EQ(m_view.TargetVersionTexts(), std::vector<std::string>{"1.10"});
  EXPECT_EQ(m_view.CurrentVersionTexts(), std::vector<std::string>{"1.0"});
  const std::vector<int> positions = m_view.ProgressPositions();
  ASSERT_GE(positions.size(), 2u);
  EXPECT_EQ(positions[positions.size() - 2], 9800);
  EXPECT_EQ(positions.back(), 10000);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(m_view.CloseCount(), 1);
  ExpectCompletePass(m_scenario->Transfers(), file);
  EXPECT_EQ(ReadFile(path), file);

  // Only a confirmed update ends with success, and the history says which file went where.
  EXPECT_TRUE(UpdateCompleted());
  EXPECT_EQ(UpdateExitStatus(), kExitUpdateCompleted);
  const auto lines = m_state.HistoryLines();
  ASSERT_EQ(lines.size(), 1u);
  const auto fields = Fields(lines[0]);
  ASSERT_EQ(fields.size(), 6u) << lines[0];
  EXPECT_TRUE(IsLocalTimeWithOffset(fields[0])) << fields[0];
  EXPECT_EQ(fields[1], kFirmwareName);
  EXPECT_EQ(fields[2], std::to_string(file.size()));
  EXPECT_EQ(fields[3], Hex4(Crc16(file.data(), file.size())));
  EXPECT_EQ(fields[4], "1.0");
  EXPECT_EQ(fields[5], "completed");
  // Nothing was written beside the firmware.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(WholeUpdate, DeclinedEndsWithoutAnUpdateAndIsNotedAsDeclined) {
  ScopedConnectionServices services(m_list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(2 * FW_BLOCK_SIZE));
  m_view.QueueAnswers({IDNO});
  Start("info version 1 2");
  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(m_view.LogTexts().back(), "End Application");
  EXPECT_EQ(UpdateExitStatus(), kExitNoUpdate);
  const auto lines = m_state.HistoryLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Fields(lines[0]).at(4), "1.2");
  EXPECT_EQ(Outcomes(lines), std::vector<std::string>{"declined"});
}

// The window closes while the question is open (its close runs inside the box's own loop, as
// a close box or a termination signal does): the attempt is noted as closed, not declined.
TEST_F(WholeUpdate, ClosedAtTheQuestionIsNotedAsClosed) {
  ScopedConnectionServices services(m_list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(2 * FW_BLOCK_SIZE));
  m_view.SetMessageBoxHandler([&](const MessageBoxRecord& box) {
    if (box.text != kConfirmUpdateText) return IDOK;
    m_view.BeginClosing();
    m_controller->Shutdown();
    return DismissedAnswer(box.type);
  });
  Start("");
  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(UpdateExitStatus(), kExitNoUpdate);
  EXPECT_EQ(Outcomes(m_state.HistoryLines()), std::vector<std::string>{"closed"});
  EXPECT_FALSE(HistoryAttemptOpen());
}

TEST_F(WholeUpdate, ClosedMidWriteIsNotedAsClosedAndIsNoUpdate) {
  ScopedConnectionServices services(m_list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(64 * FW_BLOCK_SIZE));
  Start("");
  EXPECT_EQ(Run(Bounded([&] { return !m_view.ProgressPositions().empty(); })), RunEnd::UntilMet);
  m_view.BeginClosing();
  m_controller->Shutdown();
  EXPECT_FALSE(UpdateCompleted());
  EXPECT_EQ(UpdateExitStatus(), kExitNoUpdate);
  EXPECT_EQ(Outcomes(m_state.HistoryLines()), std::vector<std::string>{"closed"});
}

// The history is for support only: when it cannot be written the update goes on as ever.
TEST_F(WholeUpdate, AHistoryThatCannotBeWrittenChangesNothing) {
  ScopedConnectionServices services(m_list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(2 * FW_BLOCK_SIZE));
  // A file where the history's folder should be.
  std::ofstream(m_state.path() / "scribolante-fw-updater") << "in the way";
  Start("");
  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  EXPECT_EQ(UpdateExitStatus(), kExitUpdateCompleted);
  EXPECT_FALSE(HistoryAttemptOpen());
}

TEST_F(WholeUpdate, TheTailAfterTheLastWholeBlockCountsOnlyInTheChecksumAndTheLogSaysSo) {
  ScopedConnectionServices services(m_list, m_opener);
  const std::vector<std::uint8_t> file = FirmwareBytes(33 * FW_BLOCK_SIZE + 5000);
  m_folder.WriteFile(kFirmwareName, file);
  Start("checksum accept");
  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCompleteText}));
  ExpectCompletePass(m_scenario->Transfers(), file);
  // Said before the question, where the user can still decline.
  const std::vector<std::string> log = m_view.LogTexts();
  const auto connected = std::find(log.begin(), log.end(), "USB Connected.");
  ASSERT_NE(connected, log.end());
  ASSERT_NE(connected + 1, log.end());
  EXPECT_EQ(*(connected + 1), "5000 bytes after the last whole 32 KiB block are not written.");
}

TEST_F(WholeUpdate, ADeviceThatChecksWhatItGotRefusesAFileOfPartBlocksAndTheLogSaysWhy) {
  ScopedConnectionServices services(m_list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(40000));
  m_view.QueueAnswers({IDYES});
  Start("");
  const auto refused = [this] { return BoxTexts(m_view).size() >= 2; };
  EXPECT_EQ(Run(Bounded(refused)), RunEnd::UntilMet);
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kUpdateFailedText}));
  const std::vector<std::string> log = m_view.LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "7232 bytes after the last whole 32 KiB block are not written."),
            log.end());
}

TEST_F(WholeUpdate, AFailedWriteStartsOverAndTheSecondPassCompletes) {
  ScopedConnectionServices services(m_list, m_opener);
  const std::vector<std::uint8_t> file = FirmwareBytes(36 * FW_BLOCK_SIZE);
  m_folder.WriteFile(kFirmwareName, file);
  m_view.QueueAnswers({IDYES, IDOK, IDYES});
  // Exchange 20 is block 10's data (1: device information; 2n: block n; 2n + 1: its status).
  Start("fail transfer 20");

  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(BoxTexts(m_view), (std::vector<std::string>{kConfirmUpdateText, kCommunicationText,
                                                        kConfirmUpdateText, kCompleteText}));
  const auto transfers = m_scenario->Transfers();
  ASSERT_EQ(transfers.size(), 20u + 2 + 2 * 36);
  EXPECT_NE(transfers[19].result, 0);
  std::vector<std::uint32_t> expected;
  for (std::uint32_t block = 1; block <= 10; ++block) expected.push_back(block);
  for (std::uint32_t block = 1; block <= 36; ++block) expected.push_back(block);
  EXPECT_EQ(WrittenBlocks(transfers), expected);
  ExpectCompletePass({transfers.begin() + 20, transfers.end()}, file);
  // One line per attempt: the failed one with its message, then the completed one.
  EXPECT_EQ(Outcomes(m_state.HistoryLines()),
            (std::vector<std::string>{kCommunicationText, "completed"}));
  EXPECT_EQ(UpdateExitStatus(), kExitUpdateCompleted);
  const auto log = m_view.LogTexts();
  EXPECT_EQ(std::count(log.begin(), log.end(), "USB Connecting..."), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), ""), 1);
  EXPECT_EQ(log.back(), "End Application");
}

// No device in update mode: polls a second apart, the name scan every 30 polls, the give-up
// at poll 180 and the restart that counts afresh.
void WholeUpdate::PollUntilTheSecondPass(ScriptedDeviceList& list, std::size_t normalModeBoxes) {
  ScopedConnectionServices services(list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(FW_BLOCK_SIZE));
  Start("list 1");

  // The whole first pass and the first poll of the second.
  EXPECT_EQ(Run(Bounded([&] { return TicksInPhase(m_view, 2).size() == 181; })), RunEnd::UntilMet);
  const auto polls = TicksInPhase(m_view, 2);
  ASSERT_EQ(polls.size(), 181u);
  for (std::size_t poll = 1; poll < 180; ++poll) {
    EXPECT_EQ(polls[poll].at - polls[poll - 1].at, 1000u) << poll;
  }
  const auto boxes = m_view.MessageBoxes();
  ASSERT_EQ(boxes.size(), normalModeBoxes + 1);
  for (std::size_t index = 0; index < normalModeBoxes; ++index) {
    EXPECT_TRUE(boxes[index].relabelled);
    EXPECT_EQ(boxes[index].at, polls[30 * (index + 1) - 1].at);
  }
  EXPECT_EQ(boxes.back().text, kNoDeviceText);
  EXPECT_EQ(boxes.back().at, polls[179].at);
  // "移動" is the relabelled box's default answer: the page was opened each time.
  EXPECT_EQ(m_opener.Opened().size(), normalModeBoxes);
  const auto restart = TicksInPhase(m_view, 0);
  ASSERT_EQ(restart.size(), 2u);
  EXPECT_EQ(restart[1].at, polls[179].at + 1000);
  EXPECT_EQ(m_view.LogTexts(),
            (std::vector<std::string>{"Startup FW updater.", "USB Connecting...", "",
                                      "Startup FW updater.", "USB Connecting..."}));
  EXPECT_EQ(ConnectionPollCount, 1u);
}

TEST_F(WholeUpdate, WithoutAnyDevicePollsSilentlyASecondApartThenStartsOver) {
  PollUntilTheSecondPass(m_list, 0);
}

TEST_F(WholeUpdate, ANormalModeDeviceIsExplainedEveryThirtyPollsUntilTheRestart) {
  PollUntilTheSecondPass(m_normalModeList, 5);
}

TEST_F(WholeUpdate, ADeviceThatAppearsLateIsConnectedAndARestartCountsFromZero) {
  ScopedConnectionServices services(m_list, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(FW_BLOCK_SIZE));
  // Not in update mode: every pass starts over after the device information.
  Start("list 1\nlist 100 SCRIBOLANTE-X-1\ninfo status 1");
  std::vector<std::uint32_t> countsAtConnection;
  EXPECT_EQ(Run(Bounded([&] {
              const auto log = m_view.LogTexts();
              if (!log.empty() && log.back() == "USB Connected.") {
                countsAtConnection.push_back(ConnectionPollCount);
              }
              return countsAtConnection.size() == 2;
            })),
            RunEnd::UntilMet);
  EXPECT_EQ(countsAtConnection, (std::vector<std::uint32_t>{99, 0}));
  EXPECT_EQ(TicksInPhase(m_view, 2).size(), 101u);
}

TEST_F(WholeUpdate, TwoDevicesEndTheApplicationWithoutAnyTransfer) {
  ScopedConnectionServices services(m_normalModeList, m_opener);
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(FW_BLOCK_SIZE));
  Start("devices 1 2");
  EXPECT_EQ(Run(kBounded), RunEnd::Closed);
  EXPECT_EQ(BoxTexts(m_view), std::vector<std::string>{kSeveralDevicesText});
  EXPECT_EQ(m_view.LogTexts().back(), "End Application");
  EXPECT_TRUE(m_scenario->Transfers().empty());
  EXPECT_TRUE(m_opener.Opened().empty());
  EXPECT_EQ(UpdateExitStatus(), kExitNoUpdate);
  EXPECT_FALSE(std::filesystem::exists(m_state.HistoryFile())) << "no question was asked";
}

TEST_F(WholeUpdate, AMissingVendorLibraryWarnsAndEndsTheApplication) {
  ScopedConnectionServices services(m_list, m_opener);
  usb_test::RecordedMessageBoxes ownerless;
  m_folder.WriteFile(kFirmwareName, FirmwareBytes(FW_BLOCK_SIZE));
  Start("");
  usbLibraryLoader.SetLibraryPath((m_folder.path() / "GPlusUSBLibEx.so").c_str());
  const RunEnd end = Run(kBounded);
  usbLibraryLoader.SetLibraryPath(nullptr);
  EXPECT_EQ(end, RunEnd::Closed);
  EXPECT_EQ(ownerless.texts().size(), 1u);
  EXPECT_EQ(BoxTexts(m_view), std::vector<std::string>{kConnectFailedText});
  EXPECT_EQ(m_view.LogTexts(), (std::vector<std::string>{"Startup FW updater.", "USB Connecting...",
                                                         "End Application"}));
  EXPECT_EQ(UpdateExitStatus(), kExitNoUpdate);
}

}  // namespace
