// A vendor library that claims far more devices than it names: a rescan and the end of the
// facade look only at the positions that can hold an open device, not at the whole count.
#include <gtest/gtest.h>

#include <memory>

#include "fake_vendor_library.h"
#include "usb/hid_device_agent.h"
#include "usb/hid_std_agent.h"

namespace usb_test {
namespace {

// Far beyond anything the table can use, yet small enough that a walk over every position
// finishes and shows up in the count of lookups instead of hanging the test.
constexpr int kClaimedCount = 1'000'000;
// Generous for 16 positions looked at a few times each.
constexpr int kLookupBudget = 1000;

// Lists its names as usual but claims kClaimedCount devices, and counts the lookups.
class ClaimingVendorAgent : public FakeVendorAgent {
 public:
  int GetCount() override { return claiming ? kClaimedCount : FakeVendorAgent::GetCount(); }
  I_DeviceInfo* GetDeviceInfo(int position) override {
    ++lookups;
    // Positions past the names have no device information (the base would take the claimed
    // count as its list's length).
    if (position < 0 || position >= FakeVendorAgent::GetCount()) return nullptr;
    return FakeVendorAgent::GetDeviceInfo(position);
  }

  int OpenDevice(int position, int access, I_UsbDevice** device) override {
    if (position < 0 || position >= FakeVendorAgent::GetCount()) return 5;
    return FakeVendorAgent::OpenDevice(position, access, device);
  }

  bool claiming = false;
  long lookups = 0;
};

TEST(HugeDeviceCountTest, RescanLooksForAnOpenDeviceOnlyWithinTheTable) {
  ClaimingVendorAgent vendor;
  auto agent = std::make_unique<C_HIDDeviceAgentEx>();
  agent->agent = &vendor;
  vendor.SetList({"scribolante"});
  ASSERT_EQ(agent->Rescan(), 1);
  ASSERT_EQ(agent->OpenAt(0), 1);

  // The device has gone; the list now names another one and claims a million.
  vendor.SetList({"other"});
  vendor.claiming = true;
  vendor.lookups = 0;
  EXPECT_EQ(agent->Rescan(), 1);
  EXPECT_LE(vendor.lookups, kLookupBudget);
  EXPECT_EQ(agent->devices[0], nullptr);
  EXPECT_EQ(agent->currentIndex, -1);
  EXPECT_EQ(vendor.OpenHidCount(), 0) << "the departed device is released";

  // A device still listed within the table is still carried over.
  vendor.claiming = false;
  vendor.SetList({"a", "b"});
  ASSERT_EQ(agent->Rescan(), 1);
  ASSERT_EQ(agent->OpenAt(1), 1);
  vendor.claiming = true;
  vendor.SetList({"b", "a"});
  EXPECT_EQ(agent->Rescan(), 1);
  EXPECT_NE(agent->devices[0], nullptr);
  EXPECT_EQ(agent->currentIndex, 0);
  agent.reset();
  EXPECT_EQ(vendor.OpenHidCount(), 0);
}

TEST(HugeDeviceCountTest, FacadeEndsWithoutWalkingTheClaimedCount) {
  ClaimingVendorAgent vendor;
  {
    C_GPUSBHIDStdAgentEx facade;
    C_GPUSBHIDStdAgentEx::hidAgent->agent = &vendor;
    vendor.SetList({"scribolante"});
    ASSERT_EQ(facade.Scan(0), 1);
    ASSERT_EQ(facade.Connect(0), 1);
    vendor.claiming = true;
    EXPECT_EQ(facade.GetDeviceCount(), kClaimedCount);
    vendor.lookups = 0;
  }
  EXPECT_LE(vendor.lookups, kLookupBudget);
  EXPECT_EQ(vendor.OpenHidCount(), 0) << "the open device is closed on the way out";
  EXPECT_EQ(vendor.releaseCount, 1);
}

}  // namespace
}  // namespace usb_test
