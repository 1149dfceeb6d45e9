// The facade the update workflow uses, over fakes of the vendor interfaces: results at the
// edges of the list, what a command carries, and what destruction gives back.
#include "usb/hid_std_agent.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "fake_vendor_library.h"
#include "test_support.h"
#include "usb/hid_device_agent.h"
#include "usb/library_loader.h"

namespace usb_test {
namespace {

class HidStdAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(C_GPUSBHIDStdAgentEx::hidAgent, nullptr);
    C_GPUSBHIDStdAgentEx::hidAgent->agent = &vendor;
  }

  int Send(int position, int direction = 0, int length = 16) {
    unsigned char block[16] = {0x00, 0xF6};
    unsigned char data[32] = {};
    return facade->SendCommand(position, block, direction, data, length);
  }

  FakeVendorAgent vendor;
  std::unique_ptr<C_GPUSBHIDStdAgentEx> facade = std::make_unique<C_GPUSBHIDStdAgentEx>();
};

TEST_F(HidStdAgentTest, SetDeviceIdsAlwaysSucceedsAndSwitchesTheIdFilter) {
  EXPECT_EQ(facade->SetDeviceIds(0, 0, 0x0200), 1);
  EXPECT_EQ(C_GPUSBHIDStdAgentEx::hidAgent->filterEnabled, 0);
  EXPECT_EQ(facade->SetDeviceIds(0x0F37, 0x0100, 0x0200), 1);
  EXPECT_EQ(C_GPUSBHIDStdAgentEx::hidAgent->filterEnabled, 1);
  vendor.SetList({"x"});
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(vendor.lastFilter.vendorId, 0x0F37);
  EXPECT_EQ(vendor.lastFilter.productId, 0x0100);
  EXPECT_EQ(vendor.lastFilter.extraId, 0x0200);
  EXPECT_EQ(vendor.lastFilter.scanOption, 1) << "Scan selects scan option 1";
}

TEST_F(HidStdAgentTest, ScanReportsAFailedListing) {
  vendor.enumerateResult = 6;
  EXPECT_EQ(facade->Scan(0), 0);
  EXPECT_EQ(facade->GetDeviceCount(), 0);
}

TEST_F(HidStdAgentTest, NamesAndConnectStayWithinTheList) {
  vendor.SetList({"first", "second"});
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(facade->GetDeviceCount(), 2);
  EXPECT_STREQ(facade->GetDeviceName(1), "second");
  EXPECT_EQ(facade->GetDeviceName(2), nullptr);
  EXPECT_EQ(facade->GetDeviceName(-1), nullptr);

  EXPECT_EQ(facade->Connect(2), 0);
  EXPECT_EQ(facade->Connect(-1), 0);
  EXPECT_TRUE(vendor.openAccessArguments.empty()) << "nothing was opened";
  EXPECT_EQ(facade->Connect(1), 1);
  EXPECT_EQ(C_GPUSBHIDStdAgentEx::hidAgent->currentIndex, 1);
}

TEST_F(HidStdAgentTest, ConnectOpensByNameSoADuplicateNameOpensTheFirst) {
  vendor.SetList({"twin", "twin"});
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(facade->Connect(1), 1);
  EXPECT_NE(C_GPUSBHIDStdAgentEx::hidAgent->devices[0], nullptr);
  EXPECT_EQ(C_GPUSBHIDStdAgentEx::hidAgent->devices[1], nullptr);
}

TEST_F(HidStdAgentTest, SendCommandAnswersSeventeenWithoutAnOpenDevice) {
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(Send(0), 17) << "empty list";
  vendor.SetList({"device"});
  ASSERT_EQ(facade->Scan(0), 1);
  EXPECT_EQ(Send(0), 17) << "listed, not open";
  EXPECT_EQ(Send(-1), 17);
  EXPECT_EQ(Send(1), 17);
  EXPECT_TRUE(vendor.transfers.empty());
}

TEST_F(HidStdAgentTest, SendCommandCarriesTheExchangeAndTheVendorResult) {
  vendor.SetList({"device"});
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->Connect(0), 1);
  EXPECT_EQ(Send(0, 1, 32), 0);
  vendor.transferResult = 0xE1;
  EXPECT_EQ(Send(0, 0, 16), 0xE1);
  ASSERT_EQ(vendor.transfers.size(), 2u);
  EXPECT_EQ(vendor.transfers[0].direction, 1);
  EXPECT_EQ(vendor.transfers[0].length, 32);
  EXPECT_EQ(vendor.transfers[1].direction, 0);
  EXPECT_EQ(vendor.transfers[1].length, 16);
  for (const TransferRecord& record : vendor.transfers) {
    EXPECT_EQ(record.arg10, 10);
    EXPECT_EQ(record.arg3, 3);
    EXPECT_EQ(record.arg0, 0);
  }
}

TEST_F(HidStdAgentTest, UiAndWorkerThreadsSendingAtOnceAreSerialised) {
  vendor.SetList({"device"});
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->Connect(0), 1);
  constexpr int kExchanges = 200;
  std::thread worker([&] {
    for (int index = 0; index < kExchanges; ++index) EXPECT_EQ(Send(0, 1, 32), 0);
  });
  for (int index = 0; index < kExchanges; ++index) {
    EXPECT_EQ(Send(0, 0, 16), 0);
    // A rescan on this thread in between must not pull the name from under the worker.
    if (index % 20 == 0) {
      EXPECT_EQ(facade->Scan(0), 1);
    }
  }
  worker.join();
  EXPECT_EQ(vendor.transfers.size(), 2u * kExchanges);
  EXPECT_EQ(vendor.mostTransfersAtOnce.load(), 1);
}

TEST_F(HidStdAgentTest, DestructionClosesEveryDeviceAndGivesTheAgentBack) {
  vendor.SetList({"a", "b", "c"});
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->Connect(0), 1);
  ASSERT_EQ(facade->Connect(2), 1);
  facade.reset();
  EXPECT_EQ(C_GPUSBHIDStdAgentEx::hidAgent, nullptr);
  EXPECT_EQ(vendor.OpenHidCount(), 0);
  EXPECT_EQ(vendor.releaseCount, 1);
}

TEST_F(HidStdAgentTest, FacadesShareOneAgentUntilTheLastIsGone) {
  vendor.SetList({"a"});
  ASSERT_EQ(facade->Scan(0), 1);
  ASSERT_EQ(facade->Connect(0), 1);
  auto second = std::make_unique<C_GPUSBHIDStdAgentEx>();
  facade.reset();
  ASSERT_NE(C_GPUSBHIDStdAgentEx::hidAgent, nullptr);
  EXPECT_EQ(vendor.OpenHidCount(), 1);
  EXPECT_EQ(second->GetDeviceCount(), 1);
  unsigned char block[16] = {};
  EXPECT_EQ(second->SendCommand(0, block, 1, nullptr, 0), 0);
  second.reset();
  EXPECT_EQ(C_GPUSBHIDStdAgentEx::hidAgent, nullptr);
  EXPECT_EQ(vendor.OpenHidCount(), 0);
}

TEST(HidStdAgentWithoutScanTest, DestructionDoesNotLoadTheLibrary) {
  RecordedMessageBoxes boxes;
  ResetLibraryLoader();
  // An explicit path that cannot load: a load attempt would show a box.
  usbLibraryLoader.SetLibraryPath("/nonexistent/GPlusUSBLibEx.so");
  {
    // The facade chooses the default location; point the shared agent's loader back.
    C_GPUSBHIDStdAgentEx facade;
    usbLibraryLoader.SetLibraryPath("/nonexistent/GPlusUSBLibEx.so");
  }
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(C_USBLibraryLoader::libraryHandle, nullptr);
  ResetLibraryLoader();
}

}  // namespace
}  // namespace usb_test
