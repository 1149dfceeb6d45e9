// Phases 1 and 2 one poll at a time against the simulated library: the device filter, the poll
// count and its limit, the normal-mode name scan, and every message of the connection checks.
#include "update/connection_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "fake_update_view.h"
#include "platform/present_devices.h"
#include "recorded_message_boxes.h"
#include "sequence_harness.h"
#include "simulated_device_support.h"
#include "temporary_folder.h"
#include "update/device_protocol.h"
#include "update/update_state.h"
#include "usb/hid_std_agent.h"
#include "usb/library_loader.h"

namespace {

// The friendly-name comparison alone, over a scripted list.
struct NameCase {
  std::vector<std::string> names;
  bool found;
};

// Names each case by its device names, so test listings stay readable and stable.
void PrintTo(const NameCase& names, std::ostream* out) {
  *out << (names.found ? "found in" : "not found in") << " " << names.names.size() << " name(s)";
}

class NormalModeName : public ::testing::TestWithParam<NameCase> {};

TEST_P(NormalModeName, MatchesTheFirst29BytesExactly) {
  ScriptedDeviceList list(GetParam().names);
  RecordingUrlOpener opener;
  ScopedConnectionServices services(list, opener);
  EXPECT_EQ(ScanForNormalModeDevice(), GetParam().found);
  EXPECT_EQ(list.Calls(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NormalModeName,
    ::testing::Values(NameCase{{"VELDRA SCRIBOLANTE USB Device"}, true},
                      NameCase{{"VELDRA SCRIBOLANTE USB Device #2"}, true},
                      NameCase{{"Logitech USB Optical Mouse", "VELDRA SCRIBOLANTE USB DeviceX"},
                               true},
                      NameCase{{"VELDRA SCRIBOLANTE USB device"}, false},
                      NameCase{{"veldra scribolante usb device"}, false},
                      NameCase{{"VELDRA SCRIBOLANTE USB Devic"}, false},
                      NameCase{{"VELDRA SCRIBOLANTE"}, false},
                      NameCase{{std::string("VELDRA SCRIBOLANTE USB Devic\0e", 30)}, false},
                      NameCase{{" VELDRA SCRIBOLANTE USB Device"}, false}, NameCase{{}, false}));

TEST(NormalModeNameList, ThatCannotBeHadFindsNothing) {
  ScriptedDeviceList list(std::nullopt);
  RecordingUrlOpener opener;
  ScopedConnectionServices services(list, opener);
  EXPECT_FALSE(ScanForNormalModeDevice());
}

// One poll at a time: the UpdateContext points at a fake view and a facade over the simulated
// library, which reads the test's scenario when the facade makes its vendor agent.
class ConnectionPoll : public ::testing::Test {
 protected:
  void Use(const std::string& scenario) {
    m_device.emplace(m_view, scenario);
    ConnectionPollCount = 0;
    EXPECT_EQ(SelectDevice(), kPhaseAdvance);
  }
  void TearDown() override { m_device.reset(); }

  // Polls until one answers other than 1 or limit polls have run; returns the answers.
  std::vector<int> Poll(int limit) {
    std::vector<int> answers;
    for (int poll = 0; poll < limit; ++poll) {
      answers.push_back(CheckConnection());
      if (answers.back() != kPhaseWait) break;
    }
    return answers;
  }

  // The polls showed one box of the given text, an OK box with no caption of its own.
  void ExpectOneOkBox(const std::string& text) {
    ASSERT_EQ(m_view.MessageBoxes().size(), 1u);
    const MessageBoxRecord box = m_view.MessageBoxes()[0];
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, std::nullopt);
    EXPECT_EQ(box.type, MB_OK);
  }

  FakeUpdateView m_view;
  ScriptedDeviceList m_emptyList{std::vector<std::string>{}};
  ScriptedDeviceList m_normalModeList{
      std::vector<std::string>{"Logitech USB Optical Mouse", "VELDRA SCRIBOLANTE USB Device"}};
  RecordingUrlOpener m_opener;
  std::optional<SimulatedPhaseContext> m_device;
};

TEST_F(ConnectionPoll, OneDeviceIsOpenedAndLogged) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("list 1 SCRIBOLANTE-X-1");
  EXPECT_EQ(Poll(1), std::vector<int>{kPhaseAdvance});
  EXPECT_EQ(m_view.LogTexts(), std::vector<std::string>{"USB Connected."});
  EXPECT_TRUE(m_view.MessageBoxes().empty());
  // The device at position 0 is open: a transfer goes through.
  const DeviceCommandBlock command = DeviceCommandBlock::ForOp(DeviceOp::DeviceInfo);
  std::uint8_t reply[16];
  EXPECT_EQ(m_device->agent.SendCommand(0, command.bytes.data(), 0, reply, 16), 0);
}

TEST_F(ConnectionPoll, TheFilterSelectsOnlyTheUpdateModeIds) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("list 1 SCRIBOLANTE-X-1\nusb-ids 0x0F37 0x0101 0x0200");
  EXPECT_EQ(Poll(1), std::vector<int>{kPhaseWait});
  EXPECT_EQ(ConnectionPollCount, 1u);
}

TEST_F(ConnectionPoll, NoDeviceGivesUpSilentlyAtTheLimitAndCountsAgain) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("list 1");
  const std::vector<int> answers = Poll(200);
  ASSERT_EQ(answers.size(), CONNECT_POLL_LIMIT);
  EXPECT_EQ(answers.back(), kPhaseRestart);
  EXPECT_EQ(ConnectionPollCount, 0u);
  ExpectOneOkBox(kNoDeviceText);
  EXPECT_TRUE(m_view.LogTexts().empty());
  // The name scan ran at polls 30, 60, 90, 120 and 150 only.
  EXPECT_EQ(m_emptyList.Calls(), 5);

  EXPECT_EQ(CheckConnection(), kPhaseWait);
  EXPECT_EQ(ConnectionPollCount, 1u);
}

TEST_F(ConnectionPoll, NormalModeDeviceIsExplainedEveryThirtyPollsWhicheverButton) {
  ScopedConnectionServices services(m_normalModeList, m_opener);
  Use("list 1");
  const std::vector<int> buttons = {IDOK, IDCANCEL, IDCANCEL, IDOK, IDCANCEL, IDOK};
  std::vector<std::uint32_t> countsAtBoxes;
  m_view.SetMessageBoxHandler([&](const MessageBoxRecord&) {
    countsAtBoxes.push_back(ConnectionPollCount);
    return buttons[(countsAtBoxes.size() - 1) % buttons.size()];
  });
  const std::vector<int> answers = Poll(200);
  ASSERT_EQ(answers.size(), CONNECT_POLL_LIMIT);
  EXPECT_EQ(answers.back(), kPhaseRestart);

  EXPECT_EQ(countsAtBoxes, (std::vector<std::uint32_t>{30, 60, 90, 120, 150, 180}));
  const std::vector<MessageBoxRecord> boxes = m_view.MessageBoxes();
  ASSERT_EQ(boxes.size(), 6u);
  for (int index = 0; index < 5; ++index) {
    EXPECT_EQ(boxes[index].text, kNormalModeText);
    EXPECT_EQ(boxes[index].caption, std::optional<std::string>(""));
    EXPECT_EQ(boxes[index].type, MB_OKCANCEL);
    EXPECT_TRUE(boxes[index].relabelled);
  }
  EXPECT_EQ(boxes[5].text, kNoDeviceText);
  EXPECT_FALSE(boxes[5].relabelled);
  // "移動" (IDOK) opened the page at polls 30 and 120; "キャンセル" only went on polling.
  EXPECT_EQ(m_opener.Opened(), (std::vector<std::string>(2, SUPPORT_PAGE_URL)));
  EXPECT_EQ(std::string(SUPPORT_PAGE_URL), kNormalModeText.substr(kNormalModeText.rfind('\n') + 1));
  EXPECT_EQ(m_normalModeList.Calls(), 5);
}

TEST_F(ConnectionPoll, ADeviceTheSystemListsButTheLibraryDoesNotIsLoggedOncePerAttempt) {
  // A fake device tree with the device in update mode (0f37:0100) and one in normal mode.
  test_support::TemporaryFolder sysfs("fwu-sysfs");
  for (const auto& [entry, product] : {std::pair{"1-1", "0100"}, std::pair{"1-2", "0101"}}) {
    const std::filesystem::path device = sysfs.path() / "bus/usb/devices" / entry;
    std::filesystem::create_directories(device);
    std::ofstream(device / "idVendor") << "0f37\n";
    std::ofstream(device / "idProduct") << product << "\n";
  }
  platform::SysfsPresentDeviceList list(sysfs.path().string());
  ScopedConnectionServices services(list, m_opener);
  Use("list 1");
  EXPECT_EQ(Poll(29).size(), 29u);
  EXPECT_TRUE(m_view.LogTexts().empty());
  EXPECT_EQ(Poll(200).back(), kPhaseRestart);  // polls 30 to 180
  EXPECT_EQ(Poll(200).back(), kPhaseRestart);  // the next attempt
  EXPECT_EQ(m_view.LogTexts(), std::vector<std::string>(2, kDeviceUnreachableLine));
  // The normal-mode device alone is no reason for the line.
  std::filesystem::remove_all(sysfs.path() / "bus/usb/devices/1-1");
  EXPECT_EQ(Poll(200).back(), kPhaseRestart);
  EXPECT_EQ(m_view.LogTexts().size(), 2u);
}

TEST_F(ConnectionPoll, TwoDevicesEndWithoutOpeningEither) {
  ScopedConnectionServices services(m_normalModeList, m_opener);
  Use("devices 1 2");
  EXPECT_EQ(Poll(1), std::vector<int>{kPhaseEnd});
  ExpectOneOkBox(kSeveralDevicesText);
  EXPECT_TRUE(m_view.LogTexts().empty());
  const DeviceCommandBlock command = DeviceCommandBlock::ForOp(DeviceOp::DeviceInfo);
  std::uint8_t reply[16];
  EXPECT_EQ(m_device->agent.SendCommand(0, command.bytes.data(), 0, reply, 16), 17);
  EXPECT_EQ(m_device->agent.SendCommand(1, command.bytes.data(), 0, reply, 16), 17);
  EXPECT_EQ(m_normalModeList.Calls(), 0);
}

TEST_F(ConnectionPoll, UpdateModeDeviceBesideANormalModeOneIsConnectedWithoutAScan) {
  ScopedConnectionServices services(m_normalModeList, m_opener);
  Use("list 1 SCRIBOLANTE-X-1");
  ConnectionPollCount = 29;
  EXPECT_EQ(Poll(1), std::vector<int>{kPhaseAdvance});
  EXPECT_EQ(m_normalModeList.Calls(), 0);
  EXPECT_TRUE(m_view.MessageBoxes().empty());
  // A connection leaves the count for phase 0 to reset.
  EXPECT_EQ(ConnectionPollCount, 29u);
}

TEST_F(ConnectionPoll, ADevicePluggedInAtPoll100IsConnectedThere) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("list 1\nlist 100 SCRIBOLANTE-X-1");
  const std::vector<int> answers = Poll(200);
  ASSERT_EQ(answers.size(), 100u);
  EXPECT_EQ(answers.back(), kPhaseAdvance);
  EXPECT_EQ(ConnectionPollCount, 99u);
  EXPECT_EQ(m_view.LogTexts(), std::vector<std::string>{"USB Connected."});
}

TEST_F(ConnectionPoll, AFailedOpenIsLoggedAndStartsOver) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("list 1 SCRIBOLANTE-X-1\nfail open always");
  ConnectionPollCount = 7;
  EXPECT_EQ(Poll(1), std::vector<int>{kPhaseRestart});
  EXPECT_EQ(m_view.LogTexts(), std::vector<std::string>{"USB Open error."});
  EXPECT_TRUE(m_view.MessageBoxes().empty());
  EXPECT_EQ(ConnectionPollCount, 7u);
}

TEST_F(ConnectionPoll, AFailingFactoryEndsWithTheConnectFailedMessage) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("fail factory 5");
  EXPECT_EQ(Poll(1), std::vector<int>{kPhaseEnd});
  ExpectOneOkBox(kConnectFailedText);
}

TEST_F(ConnectionPoll, AFailingEnumerationEndsWithTheConnectFailedMessage) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  Use("list 1\nfail enumerate 3");
  EXPECT_EQ(Poll(5), (std::vector<int>{kPhaseWait, kPhaseWait, kPhaseEnd}));
  ExpectOneOkBox(kConnectFailedText);
}

TEST_F(ConnectionPoll, AMissingLibraryWarnsThenEnds) {
  ScopedConnectionServices services(m_emptyList, m_opener);
  usb_test::RecordedMessageBoxes ownerless;
  Use("list 1 SCRIBOLANTE-X-1");
  usbLibraryLoader.SetLibraryPath("/nonexistent/GPlusUSBLibEx.so");
  const std::vector<int> answers = Poll(1);
  usbLibraryLoader.SetLibraryPath(nullptr);
  EXPECT_EQ(answers, std::vector<int>{kPhaseEnd});
  EXPECT_EQ(ownerless.texts().size(), 1u);
  ExpectOneOkBox(kConnectFailedText);
}

}  // namespace
