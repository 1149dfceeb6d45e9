// The library's objects over a scenario: lists from scan to scan, filters, failures at the
// Nth call, short replies, unplugging, the exact trace lines, the pace, and two threads.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/crc16.h"
#include "simdevice/agent_factory.h"
#include "simdevice/result_codes.h"
#include "simdevice/simulated_world.h"
#include "simdevice_test_support.h"

namespace simdevice {
namespace {

using ::simdevice::testing::BlockData;
using ::simdevice::testing::Command;
using ::simdevice::testing::CommandBytes;
using ::simdevice::testing::CrcText;
using ::simdevice::testing::FileLines;
using ::simdevice::testing::LinesOf;
using ::simdevice::testing::ParseOrFail;
using ::simdevice::testing::TemporaryFolder;
using ::simdevice::testing::WriteBlockCommand;
using Names = std::vector<std::string>;

class SimulatedAgentTest : public ::testing::Test {
 protected:
  ~SimulatedAgentTest() override {
    for (I_GPHidDeviceEx* hid : hids_) hid->Release();
    if (agent_) agent_->Release();
  }

  // Creates the agent over the scenario text, tracing into tracePath_.
  void Start(const std::string& scenarioText) {
    std::string error;
    std::shared_ptr<TraceWriter> trace = TraceWriter::Open(tracePath_, &error);
    ASSERT_TRUE(trace) << error;
    ASSERT_EQ(CreateAgent(1, &agent_, ParseOrFail(scenarioText), trace), kResultOk);
    ASSERT_NE(agent_, nullptr);
  }

  int Scan(std::uint16_t vendorId = 0x0F37, std::uint16_t productId = 0x0100,
           std::uint16_t extraId = 0x0200, int filterEnabled = 1) {
    DeviceFilter filter{};
    filter.scanOption = 1;
    filter.filterEnabled = filterEnabled;
    filter.vendorId = vendorId;
    filter.productId = productId;
    filter.extraId = extraId;
    EnumerateRequest request{0, 0, &filter};
    return agent_->Enumerate(&request);
  }

  Names Listed() {
    Names names;
    for (int position = 0; position < agent_->GetCount(); ++position) {
      names.push_back(agent_->GetDeviceInfo(position)->GetName());
    }
    return names;
  }

  // Opens the device at a position and takes its HID interface; kept until the test ends.
  I_GPHidDeviceEx* Open(int position) {
    I_UsbDevice* usbDevice = nullptr;
    EXPECT_EQ(agent_->OpenDevice(position, 1, &usbDevice), kResultOk);
    if (!usbDevice) return nullptr;
    I_GPHidDeviceEx* hid = nullptr;
    EXPECT_EQ(usbDevice->GetInterface(2, &hid), kResultOk);
    usbDevice->Release();
    if (hid) hids_.push_back(hid);
    return hid;
  }

  static int Read(I_GPHidDeviceEx* hid, std::uint8_t operation, std::uint8_t* reply) {
    const CommandBytes command = Command(operation);
    return hid->Transfer(command.data(), 0, reply, 16, 10, 3, 0);
  }
  static int WriteBlock(I_GPHidDeviceEx* hid, std::uint32_t count, std::uint32_t block,
                        const std::vector<std::uint8_t>& data) {
    const CommandBytes command =
        WriteBlockCommand(count, block, platform::Crc16(data.data(), data.size()));
    return hid->Transfer(command.data(), 1, const_cast<std::uint8_t*>(data.data()), 32768, 10, 3,
                         0);
  }

  std::vector<std::string> Trace() const { return FileLines(tracePath_); }

  TemporaryFolder folder_;
  std::string tracePath_ = folder_.File("calls.trace");
  I_GPUsbDeviceAgent* agent_ = nullptr;
  std::vector<I_GPHidDeviceEx*> hids_;
};

TEST_F(SimulatedAgentTest, ListsChangeFromScanToScan) {
  Start("list 1\nlist 3 A B\nlist 5 B A\nlist 6 B\ndevices 8 20 N\n");
  EXPECT_EQ(agent_->GetCount(), 0) << "no list before the first scan";
  EXPECT_EQ(agent_->GetDeviceInfo(0), nullptr);
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), Names{});
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), Names{});
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), (Names{"A", "B"}));
  I_DeviceInfo* infoOfA = agent_->GetDeviceInfo(0);
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), (Names{"A", "B"}));
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), (Names{"B", "A"}));
  EXPECT_EQ(agent_->GetDeviceInfo(1), infoOfA) << "a device keeps its identity as it moves";
  EXPECT_STREQ(infoOfA->GetName(), "A");
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), Names{"B"});
  ASSERT_EQ(Scan(), kResultOk);
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(agent_->GetCount(), 20);
  EXPECT_STREQ(agent_->GetDeviceInfo(19)->GetName(), "N20");
  EXPECT_EQ(agent_->GetDeviceInfo(20), nullptr);
  EXPECT_EQ(agent_->GetDeviceInfo(-1), nullptr);
}

TEST_F(SimulatedAgentTest, AnEnabledFilterListsOnlyMatchingDevices) {
  Start("list 1 A B");
  ASSERT_EQ(Scan(0x0F37, 0x0100, 0xFFFF), kResultOk);
  EXPECT_EQ(agent_->GetCount(), 2) << "extra ID 0xFFFF is not set";
  ASSERT_EQ(Scan(0x0F38, 0x0100, 0x0200), kResultOk);
  EXPECT_EQ(agent_->GetCount(), 0);
  ASSERT_EQ(Scan(0x0F37, 0x0100, 0x0201), kResultOk);
  EXPECT_EQ(agent_->GetCount(), 0);
  ASSERT_EQ(Scan(0x1234, 0x5678, 0x0201, 0), kResultOk);
  EXPECT_EQ(agent_->GetCount(), 2) << "a disabled filter lists everything";
}

TEST_F(SimulatedAgentTest, EnumerateRefusesAMissingRequestOrFilter) {
  Start("");
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(agent_->Enumerate(nullptr), kResultInvalidArgument);
  EXPECT_EQ(agent_->GetCount(), 0) << "a failed enumerate leaves the list empty";
  EnumerateRequest request{3, 2, nullptr};
  EXPECT_EQ(agent_->Enumerate(&request), kResultInvalidArgument);
  const std::vector<std::string> lines = LinesOf(Trace(), "enumerate");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1],
            "enumerate kind=- mode=- scanOption=- filterEnabled=- vendorId=- productId=- "
            "extraId=- result=2 count=0");
  EXPECT_EQ(lines[2],
            "enumerate kind=3 mode=2 scanOption=- filterEnabled=- vendorId=- productId=- "
            "extraId=- result=2 count=0");
}

TEST_F(SimulatedAgentTest, FailuresHitTheNthCallOfEachOperation) {
  Start(
      "fail enumerate 2\nfail enumerate 4 9\nfail open 1 5\nfail interface 2\n"
      "fail open always 6\nfail open 3 7\n");
  EXPECT_EQ(Scan(), kResultOk);
  EXPECT_EQ(agent_->GetCount(), 1);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(agent_->GetCount(), 0);
  EXPECT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Scan(), 9);
  EXPECT_EQ(Scan(), kResultOk);

  I_UsbDevice* usbDevice = reinterpret_cast<I_UsbDevice*>(&usbDevice);  // must be cleared
  EXPECT_EQ(agent_->OpenDevice(0, 1, &usbDevice), 5);
  EXPECT_EQ(usbDevice, nullptr);
  EXPECT_EQ(agent_->OpenDevice(0, 1, &usbDevice), 6);
  EXPECT_EQ(agent_->OpenDevice(0, 1, &usbDevice), 7);
  EXPECT_EQ(agent_->OpenDevice(0, 1, &usbDevice), 6);
}

TEST_F(SimulatedAgentTest, InterfaceFailuresAndBadArguments) {
  Start("fail interface 2 -4");
  ASSERT_EQ(Scan(), kResultOk);
  I_UsbDevice* usbDevice = nullptr;
  EXPECT_EQ(agent_->OpenDevice(1, 1, &usbDevice), kResultInvalidArgument);
  EXPECT_EQ(agent_->OpenDevice(-1, 1, &usbDevice), kResultInvalidArgument);
  EXPECT_EQ(agent_->OpenDevice(0, 1, nullptr), kResultInvalidArgument);
  ASSERT_EQ(agent_->OpenDevice(0, 1, &usbDevice), kResultOk);
  I_GPHidDeviceEx* hid = nullptr;
  EXPECT_EQ(usbDevice->GetInterface(3, &hid), kResultInvalidArgument);
  EXPECT_EQ(usbDevice->GetInterface(2, &hid), -4);
  EXPECT_EQ(hid, nullptr);
  ASSERT_EQ(usbDevice->GetInterface(2, &hid), kResultOk);
  usbDevice->Release();
  ASSERT_NE(hid, nullptr);
  hids_.push_back(hid);
  EXPECT_STREQ(hid->GetDeviceInfo()->GetName(), "SCRIBOLANTE-X-1");
}

TEST_F(SimulatedAgentTest, AFailedTransferDoesNothingElse) {
  Start("fail transfer 2\nfail transfer 4 -7");
  ASSERT_EQ(Scan(), kResultOk);
  I_GPHidDeviceEx* hid = Open(0);
  ASSERT_NE(hid, nullptr);
  std::uint8_t reply[16];
  ASSERT_EQ(WriteBlock(hid, 2, 1, BlockData(1)), kResultOk);
  // Exchange 2 would have carried a bad block: the device must not see it.
  std::vector<std::uint8_t> bad = BlockData(1);
  const CommandBytes command = WriteBlockCommand(2, 1, 0);
  EXPECT_EQ(hid->Transfer(command.data(), 1, bad.data(), 32768, 10, 3, 0), 31);
  std::memset(reply, 0xAA, sizeof reply);
  ASSERT_EQ(Read(hid, 2, reply), kResultOk);
  EXPECT_EQ(reply[4], 0) << "the accepted verdict of exchange 1 still stands";
  std::memset(reply, 0xAA, sizeof reply);
  EXPECT_EQ(Read(hid, 2, reply), -7);
  EXPECT_EQ(reply[0], 0xAA) << "a failed read writes nothing";
  const std::vector<std::string> transfers = LinesOf(Trace(), "transfer");
  ASSERT_EQ(transfers.size(), 4u);
  EXPECT_EQ(transfers[1],
            "transfer device=SCRIBOLANTE-X-1 command=f6010200000001000000000000004750 "
            "direction=1 length=32768 crc=ffff result=31");
  EXPECT_EQ(transfers[3],
            "transfer device=SCRIBOLANTE-X-1 command=f6020000000000000000000000004750 "
            "direction=0 length=16 crc=ffff result=-7");
}

TEST_F(SimulatedAgentTest, AShortReplyLeavesTheRestOfTheBufferUntouched) {
  Start("info version 2 3\nshort-reply 1 5\nshort-reply 2 0\nshort-reply 3 99");
  ASSERT_EQ(Scan(), kResultOk);
  I_GPHidDeviceEx* hid = Open(0);
  ASSERT_NE(hid, nullptr);
  std::uint8_t reply[16];
  std::memset(reply, 0xFF, sizeof reply);
  ASSERT_EQ(Read(hid, 0, reply), kResultOk);
  const std::uint8_t firstFive[16] = {0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF,
                                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(reply, firstFive, 16)) << "the version bytes 5 and 6 never came";
  std::memset(reply, 0xFF, sizeof reply);
  ASSERT_EQ(Read(hid, 3, reply), kResultOk);
  EXPECT_EQ(reply[0], 0xFF) << "nothing written: the checksum reads as refused";
  ASSERT_EQ(Read(hid, 0, reply), kResultOk);
  EXPECT_EQ(reply[5], 2);
  EXPECT_EQ(reply[6], 3);
  const std::vector<std::string> transfers = LinesOf(Trace(), "transfer");
  ASSERT_EQ(transfers.size(), 3u);
  const std::uint8_t zeros[5] = {};
  EXPECT_NE(transfers[0].find(" crc=" + CrcText(zeros, 5) + " result=0"), std::string::npos);
  EXPECT_NE(transfers[1].find(" crc=ffff result=0"), std::string::npos);
}

TEST_F(SimulatedAgentTest, BadTransfersFailWithTheirCodes) {
  Start("");
  ASSERT_EQ(Scan(), kResultOk);
  I_GPHidDeviceEx* hid = Open(0);
  ASSERT_NE(hid, nullptr);
  std::uint8_t reply[16] = {};
  const CommandBytes info = Command(0);
  EXPECT_EQ(hid->Transfer(nullptr, 0, reply, 16, 10, 3, 0), kTransferInvalidArgument);
  EXPECT_EQ(hid->Transfer(info.data(), 0, nullptr, 16, 10, 3, 0), kTransferInvalidArgument);
  EXPECT_EQ(hid->Transfer(info.data(), 2, reply, 16, 10, 3, 0), kTransferInvalidArgument);
  EXPECT_EQ(hid->Transfer(info.data(), 0, reply, -16, 10, 3, 0), kTransferInvalidArgument);
  EXPECT_EQ(hid->Transfer(info.data(), 1, reply, 16, 10, 3, 0), kTransferWrongDirection);
  EXPECT_EQ(hid->Transfer(info.data(), 0, reply, 8, 10, 3, 0), kTransferWrongLength);
  CommandBytes unknown = info;
  unknown[1] = 7;
  EXPECT_EQ(hid->Transfer(unknown.data(), 0, reply, 16, 10, 3, 0), kTransferUnknownOperation);
  CommandBytes untagged = info;
  untagged[14] = 0;
  EXPECT_EQ(hid->Transfer(untagged.data(), 0, reply, 16, 10, 3, 0), kTransferBadFraming);
  const std::vector<std::string> transfers = LinesOf(Trace(), "transfer");
  ASSERT_EQ(transfers.size(), 8u);
  EXPECT_EQ(transfers[0],
            "transfer device=SCRIBOLANTE-X-1 command=- direction=0 length=16 crc=ffff result=32");
}

TEST_F(SimulatedAgentTest, UnpluggedOrDroppedDevicesStopAnswering) {
  Start("list 1 A B\nlist 3 B\nunplug 2");
  ASSERT_EQ(Scan(), kResultOk);
  I_GPHidDeviceEx* first = Open(0);
  I_GPHidDeviceEx* second = Open(1);
  ASSERT_TRUE(first && second);
  std::uint8_t reply[16];
  EXPECT_EQ(Read(second, 0, reply), kResultOk);
  EXPECT_EQ(Read(second, 0, reply), kTransferDeviceGone) << "unplugged at exchange 2";
  EXPECT_EQ(Read(second, 0, reply), kTransferDeviceGone);
  EXPECT_EQ(Read(first, 0, reply), kResultOk);
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), Names{"A"}) << "an unplugged device leaves the list";
  ASSERT_EQ(Scan(), kResultOk);
  EXPECT_EQ(Listed(), Names{}) << "A left the list at scan 3; B stays unplugged";
  EXPECT_EQ(Read(first, 0, reply), kTransferDeviceGone);
}

TEST_F(SimulatedAgentTest, AFullUpdateIsConfirmedOnlyWithTheRightChecksum) {
  Start("reject 2 names zero");
  ASSERT_EQ(Scan(), kResultOk);
  I_GPHidDeviceEx* hid = Open(0);
  ASSERT_NE(hid, nullptr);
  std::vector<std::uint8_t> image;
  std::uint8_t reply[16];
  for (std::uint32_t block = 1; block <= 3; ++block) {
    const std::vector<std::uint8_t> data = BlockData(block);
    image.insert(image.end(), data.begin(), data.end());
    ASSERT_EQ(WriteBlock(hid, 3, block, data), kResultOk);
    ASSERT_EQ(Read(hid, 2, reply), kResultOk);
    if (block == 2) {
      EXPECT_EQ(reply[4], 1);
      EXPECT_EQ(reply[0], 0);
      ASSERT_EQ(WriteBlock(hid, 3, block, data), kResultOk);
      ASSERT_EQ(Read(hid, 2, reply), kResultOk);
    }
    EXPECT_EQ(reply[4], 0) << "block " << block;
  }
  const std::uint16_t crc = platform::Crc16(image.data(), image.size());
  CommandBytes confirm = testing::ConfirmChecksumCommand(crc ^ 1);
  ASSERT_EQ(hid->Transfer(confirm.data(), 0, reply, 16, 10, 3, 0), kResultOk);
  EXPECT_EQ(reply[0], 1);
  confirm = testing::ConfirmChecksumCommand(crc);
  ASSERT_EQ(hid->Transfer(confirm.data(), 0, reply, 16, 10, 3, 0), kResultOk);
  EXPECT_EQ(reply[0], 0);
}

TEST_F(SimulatedAgentTest, TraceLinesHaveTheirExactText) {
  Start("attribute a 7\ninfo version 1 10");
  ASSERT_EQ(Scan(), kResultOk);
  ASSERT_NE(agent_->GetDeviceInfo(0), nullptr);
  I_UsbDevice* usbDevice = nullptr;
  ASSERT_EQ(agent_->OpenDevice(0, 1, &usbDevice), kResultOk);
  I_GPHidDeviceEx* hid = nullptr;
  ASSERT_EQ(usbDevice->GetInterface(2, &hid), kResultOk);
  usbDevice->Release();
  std::uint8_t reply[16];
  ASSERT_EQ(Read(hid, 0, reply), kResultOk);
  const std::vector<std::uint8_t> data(32768, 0x5A);
  ASSERT_EQ(WriteBlock(hid, 1, 1, data), kResultOk);
  EXPECT_EQ(hid->GetAttributeA(), 7);
  EXPECT_EQ(hid->GetAttributeB(), 0x0100);
  agent_->Release();
  agent_ = nullptr;
  // The HID interface outlives the agent.
  ASSERT_EQ(Read(hid, 2, reply), kResultOk);
  EXPECT_EQ(reply[4], 0);
  hid->Release();

  const std::uint8_t infoReply[16] = {0, 0, 0, 0, 0, 1, 10};
  const std::uint8_t acceptedReply[16] = {};
  const std::uint16_t dataCrc = platform::Crc16(data.data(), data.size());
  char commandCrc[8];  // little-endian in the command block
  std::snprintf(commandCrc, sizeof commandCrc, "%02x%02x", dataCrc & 0xFF, dataCrc >> 8);
  const std::vector<std::string> expected = {
      "factory version=1 result=0",
      "enumerate kind=0 mode=0 scanOption=1 filterEnabled=1 vendorId=0f37 productId=0100 "
      "extraId=0200 result=0 count=1",
      "info position=0 name=SCRIBOLANTE-X-1",
      "open position=0 access=1 result=0",
      "interface kind=2 result=0",
      "release object=usbdevice name=SCRIBOLANTE-X-1",
      std::string("transfer device=SCRIBOLANTE-X-1 command=f6000000000000000000000000004750 "
                  "direction=0 length=16 crc=") +
          CrcText(infoReply, 16) + " result=0",
      std::string("transfer device=SCRIBOLANTE-X-1 command=f6010100000001000000") + commandCrc +
          "00004750 direction=1 length=32768 crc=" + CrcText(data.data(), data.size()) +
          " result=0",
      "attribute which=a device=SCRIBOLANTE-X-1 value=7",
      "attribute which=b device=SCRIBOLANTE-X-1 value=256",
      "release object=agent name=-",
      "transfer device=SCRIBOLANTE-X-1 command=f6020000000000000000000000004750 direction=0 "
      "length=16 crc=" +
          CrcText(acceptedReply, 16) + " result=0",
      "release object=hid name=SCRIBOLANTE-X-1",
  };
  EXPECT_EQ(Trace(), expected);
}

TEST_F(SimulatedAgentTest, TheFactoryFailsAsTheScenarioSays) {
  std::string error;
  std::shared_ptr<TraceWriter> trace = TraceWriter::Open(tracePath_, &error);
  I_GPUsbDeviceAgent* agent = reinterpret_cast<I_GPUsbDeviceAgent*>(&error);
  EXPECT_EQ(CreateAgent(1, &agent, ParseOrFail("fail factory 9"), trace), 9);
  EXPECT_EQ(agent, nullptr);
  agent = reinterpret_cast<I_GPUsbDeviceAgent*>(&error);
  EXPECT_EQ(CreateAgent(1, &agent, ParseOrFail("fail factory null"), trace), kResultOk);
  EXPECT_EQ(agent, nullptr);
  EXPECT_EQ(CreateAgent(2, &agent, ParseOrFail(""), trace), kResultInvalidArgument);
  EXPECT_EQ(agent, nullptr);
  EXPECT_EQ(CreateAgent(1, nullptr, ParseOrFail(""), trace), kResultInvalidArgument);
  EXPECT_EQ(Trace(),
            (std::vector<std::string>{"factory version=1 result=9", "factory version=1 result=0",
                                      "factory version=2 result=2", "factory version=1 result=2"}));
}

TEST(TransferDelayTest, IsLengthOverRate) {
  EXPECT_EQ(TransferDelay(32768, 0).count(), 0) << "rate 0 means no delay";
  EXPECT_EQ(TransferDelay(32768, 32768).count(), 1000000);
  // The default scenario's pace: a 4 MiB image (128 blocks) in about ten seconds.
  EXPECT_EQ(TransferDelay(32768, 419430).count(), 78125);
  EXPECT_EQ(TransferDelay(16, 419430).count(), 38);
  EXPECT_EQ(TransferDelay(0, 419430).count(), 0);
  EXPECT_EQ(TransferDelay(-5, 419430).count(), 0);
  EXPECT_EQ(TransferDelay(2147483647, 1).count(), 2147483647000000);
}

TEST(SimulatedWorldTest, TheRateDelaysOnlyTransfersThatHappen) {
  // The pace is asserted through the computed value, never through the clock.
  Scenario scenario = ParseOrFail("rate 1000000");
  SimulatedWorld world(scenario, nullptr);
  EXPECT_EQ(TransferDelay(32768, world.scenario().rate).count(), 32768);
}

TEST_F(SimulatedAgentTest, TwoThreadsTransferToTwoDevicesAtOnce) {
  Start("list 1 A B\nrate 100000000\nreject 3 names zero");
  ASSERT_EQ(Scan(), kResultOk);
  I_GPHidDeviceEx* first = Open(0);
  I_GPHidDeviceEx* second = Open(1);
  ASSERT_TRUE(first && second);
  constexpr std::uint32_t kBlocks = 6;
  auto update = [](I_GPHidDeviceEx* hid, std::uint32_t seed, int* failures, int* rejections) {
    std::vector<std::uint8_t> image;
    for (std::uint32_t block = 1; block <= kBlocks; ++block) {
      const std::vector<std::uint8_t> data = BlockData(block + seed);
      std::uint8_t reply[16];
      for (;;) {
        if (WriteBlock(hid, kBlocks, block, data) != 0 || Read(hid, 2, reply) != 0) {
          ++*failures;
          return;
        }
        if (reply[4] == 0) break;
        ++*rejections;
      }
      image.insert(image.end(), data.begin(), data.end());
    }
    const CommandBytes confirm =
        testing::ConfirmChecksumCommand(platform::Crc16(image.data(), image.size()));
    std::uint8_t reply[16];
    if (hid->Transfer(confirm.data(), 0, reply, 16, 10, 3, 0) != 0 || reply[0] != 0) ++*failures;
  };
  int failures[2] = {};
  int rejections[2] = {};
  std::thread other(update, second, 100, &failures[1], &rejections[1]);
  update(first, 0, &failures[0], &rejections[0]);
  other.join();
  EXPECT_EQ(failures[0], 0);
  EXPECT_EQ(failures[1], 0);
  EXPECT_EQ(rejections[0], 1) << "each device has its own copy of the reject rules";
  EXPECT_EQ(rejections[1], 1);
  const std::vector<std::string> transfers = LinesOf(Trace(), "transfer");
  EXPECT_EQ(transfers.size(), 2u * (2 * (kBlocks + 1) + 1));
  for (const std::string& line : transfers) EXPECT_NE(line.find(" result=0"), std::string::npos);
}

}  // namespace
}  // namespace simdevice
