// The fake vendor library's behaviour: a list swapped in by Enumerate, objects kept until the
// fake agent itself goes away, failures chosen by the test.
#include "fake_vendor_library.h"

#include <gtest/gtest.h>

#include <thread>

namespace usb_test {

FakeHidDevice::FakeHidDevice(FakeVendorAgent& owner, std::string name)
    : owner_(owner), name_(name), info_(name) {}

void FakeHidDevice::Release() {
  ++releaseCount;
  EXPECT_EQ(releaseCount, 1) << "device " << name_ << " released twice";
}

int FakeHidDevice::Transfer(const void*, int direction, void* data, int length, int arg10, int arg3,
                            int arg0) {
  const int inFlight = ++owner_.transfersInFlight;
  int most = owner_.mostTransfersAtOnce.load();
  while (inFlight > most && !owner_.mostTransfersAtOnce.compare_exchange_weak(most, inFlight)) {
  }
  EXPECT_EQ(releaseCount, 0) << "transfer to released device " << name_;
  if (owner_.onTransfer) owner_.onTransfer();
  // Give another thread the chance to come in, should nothing keep it out.
  std::this_thread::yield();
  if (direction == 0 && data != nullptr) {
    auto* bytes = static_cast<unsigned char*>(data);
    for (int index = 0; index < length; ++index) bytes[index] = static_cast<unsigned char>(index);
  }
  owner_.transfers.push_back({name_, direction, length, arg10, arg3, arg0});
  --owner_.transfersInFlight;
  return owner_.transferResult;
}

int FakeUsbDevice::GetInterface(int kind, I_GPHidDeviceEx** hid) {
  owner_.interfaceKinds.push_back(kind);
  EXPECT_EQ(releaseCount, 0) << "interface taken from a released USB device";
  if (owner_.interfaceResult != 0) return owner_.interfaceResult;
  owner_.hidDevices_.push_back(std::make_unique<FakeHidDevice>(owner_, name_));
  *hid = owner_.hidDevices_.back().get();
  return 0;
}

int FakeVendorAgent::Enumerate(EnumerateRequest* request) {
  ++enumerateCount;
  lastRequest = *request;
  lastFilter = *request->filter;
  lastRequest.filter = nullptr;
  if (onEnumerate) onEnumerate();
  // Old info objects stay alive (the library keeps them at least until the next Enumerate;
  // keeping them longer lets a test catch a stale name instead of crashing).
  for (auto& info : list_) retiredList_.push_back(std::move(info));
  list_.clear();
  if (enumerateResult != 0) return enumerateResult;
  for (const std::string& name : nextList_) list_.push_back(std::make_unique<FakeDeviceInfo>(name));
  return 0;
}

I_DeviceInfo* FakeVendorAgent::GetDeviceInfo(int position) {
  if (position < 0 || position >= GetCount()) return nullptr;
  return list_[static_cast<std::size_t>(position)].get();
}

int FakeVendorAgent::OpenDevice(int position, int access, I_UsbDevice** device) {
  openAccessArguments.push_back(access);
  if (openResult != 0) return openResult;
  if (position < 0 || position >= GetCount()) return 5;
  if (openYieldsNull) {
    *device = nullptr;
    return 0;
  }
  usbDevices_.push_back(
      std::make_unique<FakeUsbDevice>(*this, list_[static_cast<std::size_t>(position)]->GetName()));
  *device = usbDevices_.back().get();
  return 0;
}

void FakeVendorAgent::SetList(std::vector<std::string> names, bool publishNow) {
  nextList_ = std::move(names);
  if (publishNow) {
    for (auto& info : list_) retiredList_.push_back(std::move(info));
    list_.clear();
    for (const std::string& name : nextList_) {
      list_.push_back(std::make_unique<FakeDeviceInfo>(name));
    }
  }
}

std::vector<FakeHidDevice*> FakeVendorAgent::hidDevices() const {
  std::vector<FakeHidDevice*> result;
  for (const auto& device : hidDevices_) result.push_back(device.get());
  return result;
}

int FakeVendorAgent::OpenHidCount() const {
  int open = 0;
  for (const auto& device : hidDevices_) open += device->releaseCount == 0 ? 1 : 0;
  return open;
}

int FakeVendorAgent::OpenUsbCount() const {
  int open = 0;
  for (const auto& device : usbDevices_) open += device->releaseCount == 0 ? 1 : 0;
  return open;
}

}  // namespace usb_test
