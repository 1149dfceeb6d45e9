// The demo scenarios in simdevice/scenarios/: each parses and shows what its comment promises
// when driven the way the updater writes an image (resend, restart, at most ten rejections).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/crc16.h"
#include "simdevice/agent_factory.h"
#include "simdevice/simulated_world.h"
#include "simdevice_test_support.h"

namespace simdevice {
namespace {

using ::simdevice::testing::Command;
using ::simdevice::testing::CommandBytes;

// An absolute path from the build: __FILE__ may be relative to the build folder (a compiler
// cache rewrites it so), which is not the folder the tests run in.
const std::filesystem::path kScenarioFolder = std::filesystem::path(FWU_SHIPPED_SCENARIOS);

Scenario LoadShipped(const std::string& name) {
  Scenario scenario;
  ScenarioError error;
  const std::string path = (kScenarioFolder / (name + ".scenario")).string();
  EXPECT_TRUE(LoadScenarioFile(path, &scenario, &error)) << FormatScenarioError(path, error);
  scenario.rate = 0;  // the pace is for people watching, not for tests
  return scenario;
}

// What happened when a whole update was run against a scenario.
struct UpdateOutcome {
  int devices = -1;
  int status = -1;
  int rejections = 0;
  bool written = false;    // every block accepted within the retry limit
  bool confirmed = false;  // checksum reply 0
};

UpdateOutcome RunUpdate(const Scenario& scenario, std::uint32_t blockCount) {
  UpdateOutcome outcome;
  I_GPUsbDeviceAgent* agent = nullptr;
  if (CreateAgent(1, &agent, scenario, nullptr) != 0 || !agent) return outcome;
  DeviceFilter filter{1, 1, 0x0F37, 0x0100, 0x0200, {}};
  EnumerateRequest request{0, 0, &filter};
  I_UsbDevice* usbDevice = nullptr;
  I_GPHidDeviceEx* hid = nullptr;
  if (agent->Enumerate(&request) == 0) outcome.devices = agent->GetCount();
  if (outcome.devices == 1 && agent->OpenDevice(0, 1, &usbDevice) == 0) {
    usbDevice->GetInterface(2, &hid);
    usbDevice->Release();
  }
  agent->Release();
  if (!hid) return outcome;

  std::uint8_t reply[16];
  const CommandBytes info = Command(0);
  if (hid->Transfer(info.data(), 0, reply, 16, 10, 3, 0) == 0) outcome.status = reply[0];
  std::vector<std::uint8_t> image(static_cast<std::size_t>(blockCount) * 32768);
  for (std::size_t index = 0; index < image.size(); ++index) {
    image[index] = static_cast<std::uint8_t>(index * 2654435761u >> 24);
  }
  std::uint32_t nextBlock = 1;
  int retries = 0;
  while (nextBlock <= blockCount && retries <= 10) {
    std::uint8_t* block = image.data() + (nextBlock - 1) * std::size_t{32768};
    const CommandBytes write =
        testing::WriteBlockCommand(blockCount, nextBlock, platform::Crc16(block, 32768));
    const CommandBytes status = Command(2);
    if (hid->Transfer(write.data(), 1, block, 32768, 10, 3, 0) != 0 ||
        hid->Transfer(status.data(), 0, reply, 16, 10, 3, 0) != 0) {
      break;
    }
    if (reply[4] == 0) {
      ++nextBlock;
      retries = 0;
      continue;
    }
    ++outcome.rejections;
    ++retries;
    const std::uint32_t requested =
        reply[0] | reply[1] << 8 | reply[2] << 16 | static_cast<std::uint32_t>(reply[3]) << 24;
    if (requested != nextBlock) nextBlock = 1;
  }
  outcome.written = nextBlock > blockCount;
  const CommandBytes confirm =
      testing::ConfirmChecksumCommand(platform::Crc16(image.data(), image.size()));
  std::memset(reply, 0xFF, sizeof reply);
  outcome.confirmed = hid->Transfer(confirm.data(), 0, reply, 16, 10, 3, 0) == 0 && reply[0] == 0;
  hid->Release();
  return outcome;
}

constexpr std::uint32_t kDemoBlocks = 128;  // the demo's 4 MiB image

TEST(ShippedScenariosTest, DefaultUpdatesInAboutTenSeconds) {
  Scenario scenario;
  ScenarioError error;
  ASSERT_TRUE(LoadScenarioFile((kScenarioFolder / "default.scenario").string(), &scenario, &error));
  const auto perBlock = TransferDelay(32768, scenario.rate) + TransferDelay(16, scenario.rate);
  const auto whole = perBlock * kDemoBlocks;
  EXPECT_GT(whole.count(), 9'000'000);
  EXPECT_LT(whole.count(), 11'000'000);

  const UpdateOutcome outcome = RunUpdate(LoadShipped("default"), kDemoBlocks);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.written);
  EXPECT_EQ(outcome.rejections, 0);
  EXPECT_TRUE(outcome.confirmed);
}

TEST(ShippedScenariosTest, RejectedBlocksAreRecovered) {
  const UpdateOutcome outcome = RunUpdate(LoadShipped("rejects-blocks"), kDemoBlocks);
  EXPECT_TRUE(outcome.written);
  EXPECT_EQ(outcome.rejections, 7);
  EXPECT_TRUE(outcome.confirmed);
}

TEST(ShippedScenariosTest, TheOtherSituations) {
  EXPECT_EQ(RunUpdate(LoadShipped("no-device"), kDemoBlocks).devices, 0);
  EXPECT_EQ(RunUpdate(LoadShipped("normal-mode"), kDemoBlocks).devices, 0);
  EXPECT_EQ(RunUpdate(LoadShipped("two-devices"), kDemoBlocks).devices, 2);
  EXPECT_EQ(RunUpdate(LoadShipped("not-update-mode"), kDemoBlocks).status, 1);
  const UpdateOutcome refused = RunUpdate(LoadShipped("checksum-refused"), kDemoBlocks);
  EXPECT_TRUE(refused.written);
  EXPECT_FALSE(refused.confirmed);
}

TEST(ShippedScenariosTest, EveryShippedScenarioParses) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kScenarioFolder)) {
    if (entry.path().extension() != ".scenario") continue;
    ++count;
    Scenario scenario;
    ScenarioError error;
    EXPECT_TRUE(LoadScenarioFile(entry.path().string(), &scenario, &error))
        << FormatScenarioError(entry.path().string(), error);
  }
  EXPECT_GE(count, 7);
}

}  // namespace
}  // namespace simdevice
