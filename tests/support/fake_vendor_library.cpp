// The in-process fake vendor library's behaviour: a list published by Enumerate, objects kept
// until the fake agent itself goes away, failures chosen by the caller, misuse fatal.
#include "fake_vendor_library.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace usb_test {

void FakeLibraryMisuse(const std::string& what) {
  std::fprintf(stderr, "\n==fake vendor library== misuse: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

namespace {

void Require(bool condition, const std::string& what) {
  if (!condition) FakeLibraryMisuse(what);
}

}  // namespace

FakeHidDevice::FakeHidDevice(FakeVendorAgent& owner, std::string name)
    : owner_(owner), name_(name), info_(name) {}

void FakeHidDevice::Release() {
  ++releaseCount;
  Require(releaseCount == 1, "HID device \"" + name_ + "\" released twice");
}

I_DeviceInfo* FakeHidDevice::GetDeviceInfo() {
  Require(releaseCount == 0, "information asked of the released device \"" + name_ + "\"");
  return &info_;
}

int FakeHidDevice::GetAttributeA() {
  Require(releaseCount == 0, "attribute asked of the released device \"" + name_ + "\"");
  return attributeA;
}

int FakeHidDevice::GetAttributeB() {
  Require(releaseCount == 0, "attribute asked of the released device \"" + name_ + "\"");
  return attributeB;
}

int FakeHidDevice::Transfer(const void* commandBlock, int direction, void* data, int length,
                            int arg10, int arg3, int arg0) {
  Require(releaseCount == 0, "transfer to the released device \"" + name_ + "\"");
  Require(commandBlock != nullptr, "transfer without a command block");
  Require(direction == 0 || direction == 1, "transfer direction " + std::to_string(direction));
  Require(length >= 0, "negative transfer length");
  Require(length == 0 || data != nullptr, "transfer without a data buffer");
  Require(arg10 == 10 && arg3 == 3 && arg0 == 0, "the constant transfer arguments changed");

  const int inFlight = ++owner_.transfersInFlight;
  int most = owner_.mostTransfersAtOnce.load();
  while (inFlight > most && !owner_.mostTransfersAtOnce.compare_exchange_weak(most, inFlight)) {
  }
  int result = owner_.transferResult;
  if (owner_.onTransfer) {
    result = owner_.onTransfer(*this, static_cast<const std::uint8_t*>(commandBlock), direction,
                               data, length);
  } else if (direction == 0) {
    auto* bytes = static_cast<unsigned char*>(data);
    for (int index = 0; index < length; ++index) bytes[index] = static_cast<unsigned char>(index);
  }
  // Give another thread the chance to come in, should nothing keep it out.
  std::this_thread::yield();
  owner_.transfers.push_back({name_, direction, length, arg10, arg3, arg0});
  --owner_.transfersInFlight;
  return result;
}

void FakeUsbDevice::Release() {
  ++releaseCount;
  Require(releaseCount == 1, "USB device \"" + name_ + "\" released twice");
}

int FakeUsbDevice::GetInterface(int kind, I_GPHidDeviceEx** hid) {
  owner_.interfaceKinds.push_back(kind);
  Require(releaseCount == 0, "interface taken from a released USB device");
  Require(kind == 2, "interface kind " + std::to_string(kind));
  Require(hid != nullptr, "GetInterface without an out pointer");
  if (owner_.interfaceResult != 0) return owner_.interfaceResult;
  owner_.hidDevices_.push_back(std::make_unique<FakeHidDevice>(owner_, name_));
  *hid = owner_.hidDevices_.back().get();
  return 0;
}

void FakeVendorAgent::Release() {
  ++releaseCount;
  Require(releaseCount == 1, "vendor agent released twice");
}

int FakeVendorAgent::Enumerate(EnumerateRequest* request) {
  Require(releaseCount == 0, "Enumerate on a released agent");
  Require(request != nullptr && request->filter != nullptr, "Enumerate without a filter");
  ++enumerateCount;
  lastRequest = *request;
  lastFilter = *request->filter;
  lastRequest.filter = nullptr;
  if (onEnumerate) onEnumerate();
  if (enumerateResult != 0) {
    infos_.clear();
    names_.clear();
    claimedCount_ = 0;
    return enumerateResult;
  }
  Publish();
  return 0;
}

I_DeviceInfo* FakeVendorAgent::GetDeviceInfo(int position) {
  Require(releaseCount == 0, "GetDeviceInfo on a released agent");
  ++lookupCount;
  if (position < 0 || static_cast<std::size_t>(position) >= infos_.size()) return nullptr;
  return infos_[static_cast<std::size_t>(position)].get();
}

int FakeVendorAgent::OpenDevice(int position, int access, I_UsbDevice** device) {
  Require(releaseCount == 0, "OpenDevice on a released agent");
  Require(device != nullptr, "OpenDevice without an out pointer");
  openAccessArguments.push_back(access);
  Require(access == 1, "open access " + std::to_string(access));
  if (openResult != 0) return openResult;
  const char* name = NameAt(position);
  if (name == nullptr) return 5;
  if (openYieldsNull) {
    *device = nullptr;
    return 0;
  }
  usbDevices_.push_back(std::make_unique<FakeUsbDevice>(*this, name));
  *device = usbDevices_.back().get();
  return 0;
}

void FakeVendorAgent::SetList(std::vector<std::string> names, bool publishNow) {
  const int count = static_cast<int>(names.size());
  SetNextList({names.begin(), names.end()}, count, publishNow);
}

void FakeVendorAgent::SetNextList(std::vector<ListedName> names, int claimedCount,
                                  bool publishNow) {
  nextNames_ = std::move(names);
  nextClaimedCount_ = claimedCount;
  if (publishNow) Publish();
}

void FakeVendorAgent::Publish() {
  infos_.clear();
  names_ = nextNames_;
  claimedCount_ = nextClaimedCount_;
  for (const ListedName& name : names_) {
    infos_.push_back(name ? std::make_unique<FakeDeviceInfo>(*name) : nullptr);
  }
}

const char* FakeVendorAgent::NameAt(int position) const {
  if (position < 0 || static_cast<std::size_t>(position) >= infos_.size()) return nullptr;
  const auto& info = infos_[static_cast<std::size_t>(position)];
  return info ? info->GetName() : nullptr;
}

std::vector<FakeHidDevice*> FakeVendorAgent::hidDevices() const {
  std::vector<FakeHidDevice*> result;
  for (const auto& device : hidDevices_) result.push_back(device.get());
  return result;
}

std::vector<FakeHidDevice*> FakeVendorAgent::OpenHidDevices() const {
  std::vector<FakeHidDevice*> open;
  for (const auto& device : hidDevices_) {
    if (device->releaseCount == 0) open.push_back(device.get());
  }
  return open;
}

int FakeVendorAgent::OpenUsbCount() const {
  int open = 0;
  for (const auto& device : usbDevices_) open += device->releaseCount == 0 ? 1 : 0;
  return open;
}

bool FakeVendorAgent::IsHandedOut(const I_GPHidDeviceEx* device) const {
  for (const auto& handed : hidDevices_) {
    if (handed.get() == device) return true;
  }
  return false;
}

std::string FakeVendorAgent::Unreleased() const {
  std::string text;
  if (releaseCount != 1) {
    text += "vendor agent released " + std::to_string(releaseCount) + " times\n";
  }
  for (const auto& device : hidDevices_) {
    if (device->releaseCount != 1) {
      text += "HID device \"" + device->name() + "\" released " +
              std::to_string(device->releaseCount) + " times\n";
    }
  }
  const int openUsb = OpenUsbCount();
  if (openUsb != 0) text += std::to_string(openUsb) + " USB device objects not released\n";
  return text;
}

}  // namespace usb_test
