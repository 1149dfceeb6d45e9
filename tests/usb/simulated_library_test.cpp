// The facade and agent over the real loader and our simulated GPlusUSBLibEx.so beside this
// program, driven by scenario files: what reaches the library, and what comes back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "usb/hid_device_agent.h"
#include "usb/hid_std_agent.h"
#include "usb/library_loader.h"

namespace usb_test {
namespace {

namespace fs = std::filesystem;

// A DeviceInfo request: 0xF600, no parameters, "GP" at the end; answered with 16 bytes.
constexpr unsigned char kDeviceInfoBlock[16] = {0xF6, 0x00, 0, 0, 0, 0, 0,   0,
                                                0,    0,    0, 0, 0, 0, 'G', 'P'};

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class SimulatedLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(SimulatedLibraryPath())) << "build the GPlusUSBLibEx target";
    ResetLibraryLoader();
    tracePath = folder.path() / "trace.txt";
  }
  void TearDown() override {
    facade.reset();
    unsetenv("GPLUS_SIM_SCENARIO");
    ResetLibraryLoader();
  }

  // Writes the scenario (with a trace line added) and creates the facade that will read it.
  void StartWith(const std::string& scenario) {
    const fs::path path = folder.path() / "scenario.txt";
    WriteFile(path, scenario + "\ntrace " + tracePath.string() + "\n");
    setenv("GPLUS_SIM_SCENARIO", path.c_str(), 1);
    facade = std::make_unique<C_GPUSBHIDStdAgentEx>();
  }

  int ReadInfo(int position) {
    unsigned char reply[16] = {};
    return facade->SendCommand(position, kDeviceInfoBlock, 0, reply, sizeof reply);
  }

  // The trace so far; complete once the facade (and with it every library object) is gone.
  std::string Trace() const {
    std::ifstream stream(tracePath);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
  }

  RecordedMessageBoxes boxes;
  TemporaryFolder folder;
  fs::path tracePath;
  std::unique_ptr<C_GPUSBHIDStdAgentEx> facade;
};

TEST_F(SimulatedLibraryTest, TheWorkflowsExchangeReachesTheDeviceAndEverythingIsGivenBack) {
  StartWith("list 1 SCRIBOLANTE-X-1");
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr) << "the facade touches nothing";
  EXPECT_EQ(facade->SetDeviceIds(0x0F37, 0x0100, 0x0200), 1);
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->GetDeviceCount(), 1);
  EXPECT_STREQ(facade->GetDeviceName(0), "SCRIBOLANTE-X-1");
  ASSERT_EQ(facade->Connect(0), 1);
  unsigned char reply[16] = {};
  EXPECT_EQ(facade->SendCommand(0, kDeviceInfoBlock, 0, reply, sizeof reply), 0);
  facade.reset();

  const std::string trace = Trace();
  EXPECT_NE(trace.find("enumerate kind=0 mode=0 scanOption=1 filterEnabled=1 vendorId=0f37 "
                       "productId=0100 extraId=0200 result=0 count=1"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("open position=0 access=1 result=0"), std::string::npos) << trace;
  EXPECT_NE(trace.find("interface kind=2 result=0"), std::string::npos) << trace;
  EXPECT_NE(trace.find("transfer device=SCRIBOLANTE-X-1 command=f60000000000000000000000000"
                       "04750 direction=0 length=16"),
            std::string::npos)
      << trace;
  EXPECT_LT(trace.find("direction=0 length=16"), trace.find("release object=hid")) << trace;
  EXPECT_EQ(Occurrences(trace, "release object=hid name=SCRIBOLANTE-X-1"), 1) << trace;
  EXPECT_EQ(Occurrences(trace, "release object=usbdevice"), 1) << trace;
  EXPECT_EQ(Occurrences(trace, "release object=agent"), 1) << trace;
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SimulatedLibraryTest, WithoutAScenarioTheUpdaterFindsNoDeviceAndIsToldOnce) {
  unsetenv("GPLUS_SIM_SCENARIO");
  facade = std::make_unique<C_GPUSBHIDStdAgentEx>();
  facade->SetDeviceIds(0x0F37, 0x0100, 0x0200);
  testing::internal::CaptureStderr();
  for (int poll = 0; poll < 3; ++poll) {
    ASSERT_EQ(facade->Scan(0), 1) << "the library works";
    EXPECT_EQ(facade->GetDeviceCount(), 0);
  }
  EXPECT_EQ(facade->Connect(0), 0);
  EXPECT_EQ(ReadInfo(0), 17);
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Occurrences(errors, "GPlusUSBLibEx.so: simulated device library; no scenario named "
                                "(GPLUS_SIM_SCENARIO), so no device is listed\n"),
            1)
      << "one line for the one agent, not one per scan\n"
      << errors;
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SimulatedLibraryTest, TheIdFilterSelectsAndCanBeSwitchedOff) {
  StartWith("list 1 SCRIBOLANTE-X-1\nusb-ids 0x1234 0x5678 0x0200");
  facade->SetDeviceIds(0x0F37, 0x0100, 0x0200);
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(facade->GetDeviceCount(), 0);
  EXPECT_EQ(ReadInfo(0), 17) << "an empty list";
  facade->SetDeviceIds(0, 0, 0x0200);
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(facade->GetDeviceCount(), 1);
}

TEST_F(SimulatedLibraryTest, AnOpenDeviceFollowsItsMoveAndIsClosedWhenItLeaves) {
  StartWith("list 1 PEN-B\nlist 2 PEN-A PEN-B\nlist 3 PEN-A");
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->Connect(0), 1);
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(ReadInfo(0), 17) << "PEN-A was never opened";
  EXPECT_EQ(ReadInfo(1), 0) << "PEN-B is still open, at its new position";
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(ReadInfo(0), 17);
  const std::string trace = Trace();
  EXPECT_EQ(Occurrences(trace, "release object=hid name=PEN-B"), 1) << trace;
  EXPECT_EQ(Occurrences(trace, "open position="), 1) << "carried over, not reopened";
}

TEST_F(SimulatedLibraryTest, FailuresOfTheLibraryComeBackAsTheyAre) {
  StartWith("list 1 X\nfail open 1\nfail interface 1\nfail transfer 2 44\nfail enumerate 2 9");
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(facade->Connect(0), 0) << "open fails";
  EXPECT_EQ(facade->Connect(0), 0) << "interface fails";
  ASSERT_EQ(facade->Connect(0), 1);
  EXPECT_EQ(ReadInfo(0), 0);
  EXPECT_EQ(ReadInfo(0), 44) << "the vendor's code unchanged";
  EXPECT_EQ(facade->Scan(0), 0) << "the listing fails";
  EXPECT_EQ(ReadInfo(0), 17);
  const std::string trace = Trace();
  EXPECT_EQ(Occurrences(trace, "release object=usbdevice"), 2) << trace;
  EXPECT_EQ(Occurrences(trace, "release object=hid name=X"), 1)
      << "the open device is given back when the listing fails\n"
      << trace;
}

TEST_F(SimulatedLibraryTest, AFailingFactoryMeansNoScanAndNoCount) {
  for (const char* failure : {"fail factory 5", "fail factory null"}) {
    StartWith(std::string("list 1 X\n") + failure);
    EXPECT_EQ(facade->Scan(0), 0) << failure;
    EXPECT_EQ(facade->GetDeviceCount(), -1) << failure;
    EXPECT_EQ(facade->GetDeviceName(0), nullptr) << failure;
    EXPECT_EQ(facade->Connect(0), 0) << failure;
    EXPECT_EQ(ReadInfo(0), 17) << failure;
    facade.reset();
  }
  EXPECT_TRUE(boxes.boxes().empty()) << "the library itself loaded";
}

TEST_F(SimulatedLibraryTest, OnlyTheFirstSixteenPositionsCanBeOpen) {
  std::string moved = "list 2 NEWCOMER";
  for (int number = 1; number <= 16; ++number) moved += " PEN-" + std::to_string(number);
  StartWith("devices 1 17 PEN-\n" + moved);
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->GetDeviceCount(), 17);
  EXPECT_EQ(facade->Connect(16), 0);
  ASSERT_EQ(facade->Connect(15), 1);
  EXPECT_EQ(ReadInfo(15), 0);
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_STREQ(facade->GetDeviceName(16), "PEN-16");
  EXPECT_EQ(ReadInfo(16), 17);
  const std::string trace = Trace();
  EXPECT_EQ(Occurrences(trace, "release object=hid name=PEN-16"), 1) << trace;
}

TEST_F(SimulatedLibraryTest, OpenByNameLoadsScansAndOpensUnderOneRecursiveLock) {
  StartWith("list 1 SCRIBOLANTE-X-1");
  C_HIDDeviceAgentEx agent;
  EXPECT_EQ(agent.OpenByName("SCRIBOLANTE-X-1"), 1);
  EXPECT_NE(agent.agent, nullptr);
  EXPECT_EQ(agent.currentIndex, 0);
  EXPECT_FALSE(AgentLockTakenElsewhere());
  unsigned char reply[16] = {};
  EXPECT_EQ(agent.TransferCurrent(kDeviceInfoBlock, 0, reply, 16, 10, 3, 0), 0);
}

TEST_F(SimulatedLibraryTest, UiAndWorkerThreadsExchangingAtOnce) {
  StartWith("list 1 SCRIBOLANTE-X-1");
  facade->SetDeviceIds(0x0F37, 0x0100, 0x0200);
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->Connect(0), 1);
  constexpr int kExchanges = 100;
  auto exchange = [&] {
    for (int index = 0; index < kExchanges; ++index) EXPECT_EQ(ReadInfo(0), 0);
  };
  std::thread worker(exchange);
  exchange();
  worker.join();
  facade.reset();
  EXPECT_EQ(Occurrences(Trace(), "transfer device=SCRIBOLANTE-X-1"), 2 * kExchanges);
}

}  // namespace
}  // namespace usb_test
