// The fuzz targets' vendor library: a list published by Enumerate, objects kept until the
// input is done, and a check that each was given back exactly once.
#include "fuzz_vendor_library.h"

#include "fuzz_support.h"

namespace fuzz {

void FuzzHidDevice::Release() {
  ++releaseCount;
  FUZZ_CHECK(releaseCount == 1, "HID device \"" + name() + "\" released twice");
}

I_DeviceInfo* FuzzHidDevice::GetDeviceInfo() {
  FUZZ_CHECK(releaseCount == 0, "information asked of a released device");
  return &info_;
}

int FuzzHidDevice::GetAttributeA() {
  FUZZ_CHECK(releaseCount == 0, "attribute asked of a released device");
  return 0x41;
}

int FuzzHidDevice::GetAttributeB() {
  FUZZ_CHECK(releaseCount == 0, "attribute asked of a released device");
  return 0x42;
}

int FuzzHidDevice::Transfer(const void* commandBlock, int direction, void* data, int length,
                            int arg10, int arg3, int arg0) {
  FUZZ_CHECK(releaseCount == 0, "transfer to a released device");
  FUZZ_CHECK(commandBlock != nullptr, "transfer without a command block");
  FUZZ_CHECK(direction == 0 || direction == 1, "direction " + std::to_string(direction));
  FUZZ_CHECK(length >= 0, "negative transfer length");
  FUZZ_CHECK(length == 0 || data != nullptr, "transfer without a data buffer");
  FUZZ_CHECK(arg10 == 10 && arg3 == 3 && arg0 == 0, "the constant transfer arguments changed");
  owner_.lastTransferDevice = this;
  if (!owner_.onTransfer) return 0;
  return owner_.onTransfer(*this, static_cast<const std::uint8_t*>(commandBlock), direction, data,
                           length);
}

void FuzzUsbDevice::Release() {
  ++releaseCount;
  FUZZ_CHECK(releaseCount == 1, "USB device \"" + name_ + "\" released twice");
}

int FuzzUsbDevice::GetInterface(int kind, I_GPHidDeviceEx** hid) {
  FUZZ_CHECK(releaseCount == 0, "interface taken from a released USB device");
  FUZZ_CHECK(kind == 2, "interface kind " + std::to_string(kind));
  if (owner_.interfaceResult != 0) return owner_.interfaceResult;
  owner_.hidDevices_.push_back(std::make_unique<FuzzHidDevice>(owner_, name_));
  *hid = owner_.hidDevices_.back().get();
  return 0;
}

FuzzVendorAgent::~FuzzVendorAgent() = default;

void FuzzVendorAgent::Release() {
  ++releaseCount;
  FUZZ_CHECK(releaseCount == 1, "vendor agent released twice");
}

int FuzzVendorAgent::Enumerate(EnumerateRequest* request) {
  FUZZ_CHECK(releaseCount == 0, "Enumerate on a released agent");
  FUZZ_CHECK(request != nullptr && request->filter != nullptr, "Enumerate without a filter");
  infos_.clear();
  names_.clear();
  claimedCount_ = 0;
  if (enumerateResult != 0) return enumerateResult;
  names_ = nextNames_;
  claimedCount_ = nextClaimedCount_;
  for (const ListedName& name : names_) {
    infos_.push_back(name ? std::make_unique<FuzzDeviceInfo>(*name) : nullptr);
  }
  return 0;
}

I_DeviceInfo* FuzzVendorAgent::GetDeviceInfo(int position) {
  FUZZ_CHECK(releaseCount == 0, "GetDeviceInfo on a released agent");
  if (position < 0 || static_cast<std::size_t>(position) >= infos_.size()) return nullptr;
  return infos_[static_cast<std::size_t>(position)].get();
}

int FuzzVendorAgent::OpenDevice(int position, int access, I_UsbDevice** device) {
  FUZZ_CHECK(releaseCount == 0, "OpenDevice on a released agent");
  FUZZ_CHECK(access == 1, "open access " + std::to_string(access));
  FUZZ_CHECK(device != nullptr, "OpenDevice without an out pointer");
  if (openResult != 0) return openResult;
  const char* name = NameAt(position);
  if (name == nullptr) return 5;
  if (openYieldsNull) {
    *device = nullptr;
    return 0;
  }
  usbDevices_.push_back(std::make_unique<FuzzUsbDevice>(*this, name));
  *device = usbDevices_.back().get();
  return 0;
}

void FuzzVendorAgent::SetNextList(std::vector<ListedName> names, int claimedCount) {
  nextNames_ = std::move(names);
  nextClaimedCount_ = claimedCount;
}

const char* FuzzVendorAgent::NameAt(int position) const {
  if (position < 0 || static_cast<std::size_t>(position) >= infos_.size()) return nullptr;
  const auto& info = infos_[static_cast<std::size_t>(position)];
  return info ? info->GetName() : nullptr;
}

std::vector<FuzzHidDevice*> FuzzVendorAgent::OpenHidDevices() const {
  std::vector<FuzzHidDevice*> open;
  for (const auto& device : hidDevices_) {
    if (device->releaseCount == 0) open.push_back(device.get());
  }
  return open;
}

int FuzzVendorAgent::OpenUsbDeviceCount() const {
  int open = 0;
  for (const auto& device : usbDevices_) open += device->releaseCount == 0 ? 1 : 0;
  return open;
}

bool FuzzVendorAgent::IsHandedOut(const I_GPHidDeviceEx* device) const {
  for (const auto& handed : hidDevices_) {
    if (handed.get() == device) return true;
  }
  return false;
}

void FuzzVendorAgent::CheckAllReleased() const {
  FUZZ_CHECK(releaseCount == 1, "vendor agent released " + std::to_string(releaseCount) + " times");
  for (const auto& device : hidDevices_) {
    FUZZ_CHECK(device->releaseCount == 1, "HID device \"" + device->name() + "\" released " +
                                              std::to_string(device->releaseCount) + " times");
  }
  for (const auto& device : usbDevices_) {
    FUZZ_CHECK(device->releaseCount == 1, "a USB device object was not released");
  }
}

}  // namespace fuzz
