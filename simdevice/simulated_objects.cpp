// The library's objects: each call goes to the world, with exceptions turned into codes.
#include "simdevice/simulated_objects.h"

#include "simdevice/result_codes.h"

namespace simdevice {
namespace {

// Runs an operation of the library; an exception (only std::bad_alloc can happen) must not
// cross into the caller, which knows only result codes.
template <typename Operation, typename Result>
Result Guarded(Result failure, Operation operation) noexcept {
  try {
    return operation();
  } catch (...) {
    return failure;
  }
}

}  // namespace

void SimulatedAgent::Release() {
  Guarded(0, [&] {
    world_->TraceRelease("agent", nullptr);
    return 0;
  });
  delete this;
}

int SimulatedAgent::Enumerate(EnumerateRequest* request) {
  return Guarded(kResultInternalError, [&] { return world_->Enumerate(request); });
}

int SimulatedAgent::GetCount() {
  return Guarded(0, [&] { return world_->Count(); });
}

I_DeviceInfo* SimulatedAgent::GetDeviceInfo(int position) {
  return Guarded(static_cast<I_DeviceInfo*>(nullptr),
                 [&] { return world_->DeviceInfoAt(position); });
}

int SimulatedAgent::OpenDevice(int position, int access, I_UsbDevice** device) {
  return Guarded(kResultInternalError, [&] { return world_->Open(position, access, device); });
}

void SimulatedUsbDevice::Release() {
  Guarded(0, [&] {
    world_->TraceRelease("usbdevice", &device_);
    return 0;
  });
  delete this;
}

int SimulatedUsbDevice::GetInterface(int kind, I_GPHidDeviceEx** hid) {
  return Guarded(kResultInternalError, [&] { return world_->Interface(device_, kind, hid); });
}

void SimulatedHidDevice::Release() {
  Guarded(0, [&] {
    world_->TraceRelease("hid", &device_);
    return 0;
  });
  delete this;
}

int SimulatedHidDevice::GetAttributeA() {
  return Guarded(0, [&] { return world_->Attribute(device_, 'a'); });
}

int SimulatedHidDevice::GetAttributeB() {
  return Guarded(0, [&] { return world_->Attribute(device_, 'b'); });
}

int SimulatedHidDevice::Transfer(const void* commandBlock, int direction, void* data, int length,
                                 int /*arg10*/, int /*arg3*/, int /*arg0*/) {
  return Guarded(kResultInternalError,
                 [&] { return world_->Transfer(device_, commandBlock, direction, data, length); });
}

}  // namespace simdevice
