// The HID device agent over fakes of the vendor interfaces: filter, scans with carry-over,
// opens, closes, transfers, attribute queries, the 16-position table and its lock.
#include "usb/hid_device_agent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fake_vendor_library.h"
#include "test_support.h"

namespace usb_test {
namespace {

constexpr int kNoDevice = C_HIDDeviceAgentEx::kNoDeviceOpen;

std::vector<std::string> Names(int count, const std::string& prefix = "device-") {
  std::vector<std::string> names;
  for (int index = 0; index < count; ++index) names.push_back(prefix + std::to_string(index));
  return names;
}

class HidDeviceAgentTest : public ::testing::Test {
 protected:
  void SetUp() override { agent->agent = &vendor; }

  void Scan(std::vector<std::string> names) {
    vendor.SetList(std::move(names));
    ASSERT_EQ(agent->Rescan(), 1);
  }

  int Transfer(int position) {
    unsigned char block[16] = {};
    unsigned char data[8] = {};
    return agent->TransferAt(position, block, 0, data, sizeof data, 10, 3, 0);
  }

  int TransferTo(const char* name) {
    unsigned char block[16] = {};
    unsigned char data[8] = {};
    return agent->TransferByName(name, block, 1, data, sizeof data, 10, 3, 0);
  }

  // Declared first so that it outlives the agent, which gives it back on destruction.
  FakeVendorAgent vendor;
  std::unique_ptr<C_HIDDeviceAgentEx> agent = std::make_unique<C_HIDDeviceAgentEx>();
};

TEST_F(HidDeviceAgentTest, ConstructionTouchesNothingAndStartsEmpty) {
  C_HIDDeviceAgentEx fresh;
  EXPECT_EQ(fresh.agent, nullptr);
  EXPECT_EQ(fresh.currentIndex, -1);
  EXPECT_EQ(fresh.filterEnabled, 0);
  EXPECT_EQ(fresh.extraId, 0xFFFF);
  EXPECT_EQ(fresh.scanOption, 0);
  for (I_GPHidDeviceEx* device : fresh.devices) EXPECT_EQ(device, nullptr);
}

TEST_F(HidDeviceAgentTest, DeviceFilterIsOffOnlyWhenBothIdsAreZero) {
  EXPECT_EQ(agent->SetDeviceFilter(0, 0, 0x0200), 1);
  EXPECT_EQ(agent->filterEnabled, 0);
  EXPECT_EQ(agent->SetDeviceFilter(0x0F37, 0x0100, 0x0200), 1);
  EXPECT_EQ(agent->filterEnabled, 1);
  EXPECT_EQ(agent->SetDeviceFilter(0, 0x0100, 0xFFFF), 1);
  EXPECT_EQ(agent->filterEnabled, 1);
  EXPECT_EQ(agent->SetDeviceFilter(0x0F37, 0, 0xFFFF), 1);
  EXPECT_EQ(agent->filterEnabled, 1);
  // Nothing reaches the library until the next scan.
  EXPECT_EQ(vendor.enumerateCount, 0);
}

TEST_F(HidDeviceAgentTest, ScanHandsTheFilterToTheLibrary) {
  agent->SetDeviceFilter(0x0F37, 0x0100, 0x0200);
  agent->SetScanOption(1);
  std::memcpy(agent->filterName, "SCRIBOLANTE", 12);
  ASSERT_EQ(agent->ScanDevices(0), 1);
  EXPECT_EQ(vendor.lastRequest.kind, 0);
  EXPECT_EQ(vendor.lastRequest.mode, 0);
  EXPECT_EQ(vendor.lastFilter.scanOption, 1);
  EXPECT_EQ(vendor.lastFilter.filterEnabled, 1);
  EXPECT_EQ(vendor.lastFilter.vendorId, 0x0F37);
  EXPECT_EQ(vendor.lastFilter.productId, 0x0100);
  EXPECT_EQ(vendor.lastFilter.extraId, 0x0200);
  EXPECT_EQ(vendor.lastFilter.filterName[0], '\0') << "the name is for mode 2 only";

  ASSERT_EQ(agent->ScanDevices(2), 1);
  EXPECT_EQ(vendor.lastRequest.kind, 3);
  EXPECT_EQ(vendor.lastRequest.mode, 2);
  EXPECT_STREQ(vendor.lastFilter.filterName, "SCRIBOLANTE");

  agent->SetDeviceFilter(0, 0, 0xFFFF);
  ASSERT_EQ(agent->ScanDevices(1), 1);
  EXPECT_EQ(vendor.lastRequest.kind, 0);
  EXPECT_EQ(vendor.lastFilter.filterEnabled, 0);
}

TEST_F(HidDeviceAgentTest, OpenDeviceFollowsItsNameAcrossRescans) {
  Scan({"alpha", "beta"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  FakeHidDevice* alpha = vendor.hidDevices().back();
  EXPECT_EQ(agent->currentIndex, 0);

  Scan({"gamma", "alpha"});
  EXPECT_EQ(agent->devices[0], nullptr);
  EXPECT_EQ(agent->devices[1], alpha);
  EXPECT_EQ(alpha->releaseCount, 0);
  EXPECT_EQ(agent->currentIndex, 1);
  EXPECT_EQ(Transfer(0), kNoDevice);
  EXPECT_EQ(Transfer(1), 0);
  ASSERT_EQ(vendor.transfers.size(), 1u);
  EXPECT_EQ(vendor.transfers[0].device, "alpha");

  Scan({"gamma"});
  EXPECT_EQ(alpha->releaseCount, 1) << "a device that left the list is closed";
  for (I_GPHidDeviceEx* device : agent->devices) EXPECT_EQ(device, nullptr);
  EXPECT_EQ(agent->currentIndex, -1);
}

TEST_F(HidDeviceAgentTest, CarryOverIgnoresLetterCaseButFindDeviceDoesNot) {
  Scan({"Scribolante-X"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  FakeHidDevice* device = vendor.hidDevices().back();

  Scan({"other", "SCRIBOLANTE-x"});
  EXPECT_EQ(agent->devices[1], device) << "kept open under its new spelling";
  EXPECT_EQ(device->releaseCount, 0);
  EXPECT_EQ(agent->FindDevice("Scribolante-X"), -1);
  EXPECT_EQ(agent->FindDevice("SCRIBOLANTE-x"), 1);
  EXPECT_EQ(TransferTo("Scribolante-X"), kNoDevice);
  EXPECT_EQ(TransferTo("SCRIBOLANTE-x"), 0);
}

TEST_F(HidDeviceAgentTest, TwoOpenDevicesLandingOnOneNameKeepOneAndCloseTheOther) {
  Scan({"pen", "PEN"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  ASSERT_EQ(agent->OpenAt(1), 1);
  Scan({"Pen"});
  EXPECT_EQ(vendor.OpenHidCount(), 1) << "no interface is lost";
  EXPECT_NE(agent->devices[0], nullptr);
}

TEST_F(HidDeviceAgentTest, OnlySixteenPositionsCanBeHeld) {
  Scan(Names(18));
  EXPECT_EQ(agent->OpenAt(16), 0);
  EXPECT_EQ(agent->OpenAt(17), 0);
  EXPECT_EQ(agent->OpenAt(-1), 0);
  EXPECT_EQ(vendor.openAccessArguments.size(), 0u) << "never asked the library";
  ASSERT_EQ(agent->OpenAt(15), 1);
  FakeHidDevice* last = vendor.hidDevices().back();
  EXPECT_EQ(Transfer(15), 0);
  EXPECT_EQ(Transfer(16), kNoDevice);

  // device-15 moves to position 16: it must be closed, not kept at a position it cannot have.
  std::vector<std::string> moved = Names(18);
  moved.insert(moved.begin(), "newcomer");
  Scan(moved);
  EXPECT_EQ(last->releaseCount, 1);
  EXPECT_EQ(vendor.OpenHidCount(), 0);
  EXPECT_EQ(agent->currentIndex, -1);
}

TEST_F(HidDeviceAgentTest, FailedEnumerateReleasesEveryOpenDevice) {
  Scan({"a", "b", "c"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  ASSERT_EQ(agent->OpenAt(2), 1);
  vendor.enumerateResult = 9;
  EXPECT_EQ(agent->Rescan(), 0);
  EXPECT_EQ(vendor.OpenHidCount(), 0);
  for (I_GPHidDeviceEx* device : agent->devices) EXPECT_EQ(device, nullptr);
  EXPECT_EQ(agent->currentIndex, -1);
  EXPECT_EQ(Transfer(0), kNoDevice);
}

TEST_F(HidDeviceAgentTest, OpenAtAsksForTheHidInterfaceAndGivesTheUsbDeviceBack) {
  Scan({"a", "b"});
  ASSERT_EQ(agent->OpenAt(1), 1);
  EXPECT_EQ(agent->currentIndex, 1);
  EXPECT_EQ(vendor.openAccessArguments, std::vector<int>{1});
  EXPECT_EQ(vendor.interfaceKinds, std::vector<int>{2});
  EXPECT_EQ(vendor.OpenUsbCount(), 0);
  EXPECT_EQ(vendor.OpenHidCount(), 1);

  EXPECT_EQ(agent->OpenAt(2), 0) << "beyond the list";
  EXPECT_EQ(vendor.openAccessArguments.size(), 1u);
  EXPECT_EQ(agent->currentIndex, 1);
}

TEST_F(HidDeviceAgentTest, ReopeningReleasesTheOldInterfaceEvenWhenTheNewOpenFails) {
  Scan({"a"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  FakeHidDevice* first = vendor.hidDevices().back();
  ASSERT_EQ(agent->OpenAt(0), 1);
  EXPECT_EQ(first->releaseCount, 1);
  EXPECT_EQ(vendor.OpenHidCount(), 1);

  FakeHidDevice* second = vendor.hidDevices().back();
  vendor.openResult = 4;
  EXPECT_EQ(agent->OpenAt(0), 0);
  EXPECT_EQ(second->releaseCount, 1);
  EXPECT_EQ(agent->devices[0], nullptr);

  vendor.openResult = 0;
  vendor.openYieldsNull = true;
  EXPECT_EQ(agent->OpenAt(0), 0);
  EXPECT_EQ(agent->devices[0], nullptr);

  vendor.openYieldsNull = false;
  vendor.interfaceResult = 3;
  EXPECT_EQ(agent->OpenAt(0), 0);
  EXPECT_EQ(agent->devices[0], nullptr);
  EXPECT_EQ(vendor.OpenUsbCount(), 0) << "the USB device of a failed interface is given back";
  EXPECT_EQ(vendor.OpenHidCount(), 0);
}

TEST_F(HidDeviceAgentTest, FindDeviceComparesExactBytes) {
  Scan({"dup", "Dup", "dup", "日本語デバイス"});
  EXPECT_EQ(agent->FindDevice("dup"), 0);
  EXPECT_EQ(agent->FindDevice("Dup"), 1);
  EXPECT_EQ(agent->FindDevice("DUP"), -1);
  EXPECT_EQ(agent->FindDevice("du"), -1);
  EXPECT_EQ(agent->FindDevice("日本語デバイス"), 3);
  EXPECT_EQ(agent->FindDevice(nullptr), -1);
  EXPECT_STREQ(agent->GetDeviceName(1), "Dup");
  EXPECT_EQ(agent->GetDeviceName(4), nullptr);
  EXPECT_EQ(agent->GetDeviceName(-1), nullptr);
}

TEST_F(HidDeviceAgentTest, CloseByName) {
  Scan({"a", "b"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  FakeHidDevice* a = vendor.hidDevices().back();
  EXPECT_EQ(agent->CloseByName("missing"), 0);
  EXPECT_EQ(agent->CloseByName(nullptr), 0);
  EXPECT_EQ(agent->currentIndex, 0);

  // Listed but not open: still 1, and whichever device was current no longer is.
  EXPECT_EQ(agent->CloseByName("b"), 1);
  EXPECT_EQ(agent->currentIndex, -1);
  EXPECT_EQ(a->releaseCount, 0);

  EXPECT_EQ(agent->CloseByName("a"), 1);
  EXPECT_EQ(a->releaseCount, 1);
  EXPECT_EQ(agent->devices[0], nullptr);
  EXPECT_EQ(agent->CloseByName("a"), 1);
}

TEST_F(HidDeviceAgentTest, CloseByNameCannotReachPositionsBeyondTheTable) {
  Scan(Names(17));
  EXPECT_EQ(agent->CloseByName("device-16"), 0);
  EXPECT_EQ(agent->CloseByName("device-15"), 1);
}

TEST_F(HidDeviceAgentTest, CloseAllKeepsTheCurrentPosition) {
  Scan({"a", "b"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  ASSERT_EQ(agent->OpenAt(1), 1);
  agent->CloseAll();
  EXPECT_EQ(vendor.OpenHidCount(), 0);
  EXPECT_EQ(agent->currentIndex, 1);
  EXPECT_EQ(Transfer(1), kNoDevice);
}

TEST_F(HidDeviceAgentTest, TransfersReturnTheVendorCodeOrSeventeen) {
  Scan({"a", "b"});
  EXPECT_EQ(Transfer(0), kNoDevice) << "listed but not open";
  EXPECT_EQ(Transfer(-1), kNoDevice);
  EXPECT_EQ(Transfer(16), kNoDevice);
  EXPECT_EQ(TransferTo("nobody"), kNoDevice);
  EXPECT_EQ(TransferTo(nullptr), kNoDevice);
  unsigned char block[16] = {};
  EXPECT_EQ(agent->TransferCurrent(block, 0, nullptr, 0, 10, 3, 0), kNoDevice);

  ASSERT_EQ(agent->OpenAt(1), 1);
  vendor.transferResult = 0x1F;
  EXPECT_EQ(TransferTo("b"), 0x1F);
  EXPECT_EQ(agent->TransferCurrent(block, 0, nullptr, 0, 10, 3, 0), 0x1F);
  vendor.transferResult = 0;
  unsigned char reply[16] = {};
  EXPECT_EQ(agent->TransferAt(1, block, 0, reply, 16, 10, 3, 0), 0);
  EXPECT_EQ(reply[15], 15) << "the read filled the buffer";
  ASSERT_EQ(vendor.transfers.size(), 3u);
  EXPECT_EQ(vendor.transfers[0].direction, 1);
  EXPECT_EQ(vendor.transfers[2].length, 16);
  EXPECT_EQ(vendor.transfers[2].arg10, 10);
  EXPECT_EQ(vendor.transfers[2].arg3, 3);
  EXPECT_EQ(vendor.transfers[2].arg0, 0);
}

TEST_F(HidDeviceAgentTest, AttributeQueries) {
  Scan({"a", "b"});
  int value = -5;
  EXPECT_EQ(agent->GetAttributeAAt(0, &value), kNoDevice);
  EXPECT_EQ(agent->GetAttributeBAt(-1, &value), kNoDevice);
  EXPECT_EQ(agent->GetAttributeAByName("nobody", &value), kNoDevice);
  EXPECT_EQ(agent->GetAttributeACurrent(&value), kNoDevice);
  EXPECT_EQ(value, -5) << "untouched on failure";

  ASSERT_EQ(agent->OpenAt(1), 1);
  vendor.hidDevices().back()->attributeA = 7;
  vendor.hidDevices().back()->attributeB = 9;
  EXPECT_EQ(agent->GetAttributeAAt(1, &value), 0);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(agent->GetAttributeBByName("b", &value), 0);
  EXPECT_EQ(value, 9);
  EXPECT_EQ(agent->GetAttributeACurrent(&value), 0);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(agent->GetAttributeBCurrent(&value), 0);
  EXPECT_EQ(value, 9);

  // An open device that is no longer within the list is not asked.
  vendor.SetList({"a"}, /*publishNow=*/true);
  EXPECT_EQ(agent->GetAttributeAAt(1, &value), kNoDevice);
  EXPECT_EQ(Transfer(1), 0) << "transfers only look at the table";
}

TEST_F(HidDeviceAgentTest, DestructionGivesEverythingBack) {
  Scan({"a", "b"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  ASSERT_EQ(agent->OpenAt(1), 1);
  agent.reset();
  EXPECT_EQ(vendor.OpenHidCount(), 0);
  EXPECT_EQ(vendor.releaseCount, 1);
}

TEST_F(HidDeviceAgentTest, ScanHoldsTheLockWhileTheLibraryEnumerates) {
  bool heldDuringEnumerate = false;
  vendor.onEnumerate = [&] { heldDuringEnumerate = AgentLockTakenElsewhere(); };
  Scan({"a"});
  EXPECT_TRUE(heldDuringEnumerate);
  EXPECT_FALSE(AgentLockTakenElsewhere()) << "left on return";

  vendor.enumerateResult = 1;
  heldDuringEnumerate = false;
  EXPECT_EQ(agent->Rescan(), 0);
  EXPECT_TRUE(heldDuringEnumerate);
  EXPECT_FALSE(AgentLockTakenElsewhere()) << "left on the failure return too";
}

TEST_F(HidDeviceAgentTest, ByNameTransferHoldsTheLockForTheWholeExchange) {
  Scan({"a"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  bool heldDuringTransfer = false;
  vendor.onTransfer = [&](FakeHidDevice&, const std::uint8_t*, int, void*, int) {
    heldDuringTransfer = AgentLockTakenElsewhere();
    return 0;
  };
  EXPECT_EQ(TransferTo("a"), 0);
  EXPECT_TRUE(heldDuringTransfer);
  EXPECT_FALSE(AgentLockTakenElsewhere());
}

TEST_F(HidDeviceAgentTest, TwoThreadsTransferringByNameNeverOverlap) {
  Scan({"a", "b"});
  ASSERT_EQ(agent->OpenAt(0), 1);
  ASSERT_EQ(agent->OpenAt(1), 1);
  constexpr int kExchanges = 300;
  auto worker = [&](const char* name) {
    for (int index = 0; index < kExchanges; ++index) EXPECT_EQ(TransferTo(name), 0);
  };
  std::thread first(worker, "a");
  std::thread second(worker, "b");
  first.join();
  second.join();
  EXPECT_EQ(vendor.transfers.size(), 2u * kExchanges);
  EXPECT_EQ(vendor.mostTransfersAtOnce.load(), 1);
}

// An agent whose first Rescan hands it the fake, as the factory would, so the lazy list
// can be seen at work without the library.
class LazyAgent : public C_HIDDeviceAgentEx {
 public:
  explicit LazyAgent(FakeVendorAgent* vendor) : vendor_(vendor) {}
  int Rescan() override {
    ++rescans;
    if (agent == nullptr && vendor_ != nullptr) agent = vendor_;
    return C_HIDDeviceAgentEx::Rescan();
  }
  int rescans = 0;

 private:
  FakeVendorAgent* vendor_;
};

TEST(HidDeviceAgentLazyListTest, OpenByNameRescansUnderItsOwnLock) {
  FakeVendorAgent vendor;
  vendor.SetList({"a", "b"});
  bool heldDuringEnumerate = false;
  vendor.onEnumerate = [&] { heldDuringEnumerate = AgentLockTakenElsewhere(); };
  LazyAgent agent(&vendor);
  // OpenByName takes the lock, FindDevice finds no list and rescans, ScanDevices takes the
  // lock again on the same thread: recursion, not a deadlock.
  EXPECT_EQ(agent.OpenByName("b"), 1);
  EXPECT_EQ(agent.rescans, 1);
  EXPECT_TRUE(heldDuringEnumerate);
  EXPECT_EQ(agent.currentIndex, 1);
  EXPECT_FALSE(AgentLockTakenElsewhere());
}

TEST(HidDeviceAgentLazyListTest, EveryListUserRescansFirstAndAFailedRescanMeansNoList) {
  FakeVendorAgent vendor;
  vendor.SetList({"a"});
  {
    LazyAgent agent(&vendor);
    EXPECT_STREQ(agent.GetDeviceName(0), "a");
    EXPECT_EQ(agent.rescans, 1);
    EXPECT_EQ(agent.FindDevice("a"), 0);
    EXPECT_EQ(agent.rescans, 1) << "only while there is no vendor agent";
  }
  // The first agent gave its vendor agent back; a fresh one fails every Enumerate.
  FakeVendorAgent failing;
  failing.SetList({"a"});
  failing.enumerateResult = 2;
  {
    LazyAgent agent(&failing);
    int value = 0;
    EXPECT_EQ(agent.OpenAt(0), 0);
    EXPECT_EQ(agent.rescans, 1);
    EXPECT_EQ(agent.GetAttributeAAt(0, &value), kNoDevice);
    EXPECT_EQ(agent.GetDeviceName(0), nullptr);
    EXPECT_EQ(agent.FindDevice("a"), -1);
  }
}

}  // namespace
}  // namespace usb_test
