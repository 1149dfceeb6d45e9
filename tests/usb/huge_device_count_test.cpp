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

TEST(HugeDeviceCountTest, RescanLooksForAnOpenDeviceOnlyWithinTheTable) {
  FakeVendorAgent vendor;
  auto agent = std::make_unique<C_HIDDeviceAgentEx>();
  agent->agent = &vendor;
  vendor.SetList({"scribolante"});
  ASSERT_EQ(agent->Rescan(), 1);
  ASSERT_EQ(agent->OpenAt(0), 1);

  // The device has gone; the list now names another one and claims a million.
  vendor.SetNextList({"other"}, kClaimedCount);
  vendor.lookupCount = 0;
  EXPECT_EQ(agent->Rescan(), 1);
  EXPECT_LE(vendor.lookupCount, kLookupBudget);
  EXPECT_EQ(agent->devices[0], nullptr);
  EXPECT_EQ(agent->currentIndex, -1);
  EXPECT_EQ(vendor.OpenHidCount(), 0) << "the departed device is released";

  // A device still listed within the table is still carried over.
  vendor.SetList({"a", "b"});
  ASSERT_EQ(agent->Rescan(), 1);
  ASSERT_EQ(agent->OpenAt(1), 1);
  vendor.SetNextList({"b", "a"}, kClaimedCount);
  EXPECT_EQ(agent->Rescan(), 1);
  EXPECT_NE(agent->devices[0], nullptr);
  EXPECT_EQ(agent->currentIndex, 0);
  agent.reset();
  EXPECT_EQ(vendor.OpenHidCount(), 0);
}

TEST(HugeDeviceCountTest, FacadeEndsWithoutWalkingTheClaimedCount) {
  FakeVendorAgent vendor;
  {
    C_GPUSBHIDStdAgentEx facade;
    C_GPUSBHIDStdAgentEx::hidAgent->agent = &vendor;
    vendor.SetList({"scribolante"});
    ASSERT_EQ(facade.Scan(0), 1);
    ASSERT_EQ(facade.Connect(0), 1);
    vendor.SetNextList({"scribolante"}, kClaimedCount, /*publishNow=*/true);
    EXPECT_EQ(facade.GetDeviceCount(), kClaimedCount);
    vendor.lookupCount = 0;
  }
  EXPECT_LE(vendor.lookupCount, kLookupBudget);
  EXPECT_EQ(vendor.OpenHidCount(), 0) << "the open device is closed on the way out";
  EXPECT_EQ(vendor.releaseCount, 1);
}

}  // namespace
}  // namespace usb_test
