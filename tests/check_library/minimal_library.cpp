// The smallest library port a newcomer writes from the -dev package alone: built against the
// installed header only, one device "MINIMAL-1" that answers the device-information read.
#include <scribolante-fw-updater/vendor_interfaces.h>

#include <cstring>

namespace {

class Info final : public I_DeviceInfo {
 public:
  const char* GetName() override { return "MINIMAL-1"; }
};
Info device;

class Hid final : public I_GPHidDeviceEx {
 public:
  void Release() override { delete this; }
  I_DeviceInfo* GetDeviceInfo() override { return &device; }
  int GetAttributeA() override { return 0; }
  int GetAttributeB() override { return 0; }
  int Transfer(const void* command, int direction, void* data, int length, int, int, int) override {
    const auto* bytes = static_cast<const unsigned char*>(command);
    if (bytes[0] != 0xF6 || bytes[1] != 0x00 || direction != 0 || length != 16) return 1;
    unsigned char reply[16] = {0, 0, 0, 0, 0, 1, 2};  // update mode, firmware 1.2
    std::memcpy(data, reply, sizeof reply);
    return 0;
  }
};

class Usb final : public I_UsbDevice {
 public:
  void Release() override { delete this; }
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override {
    if (kind != 2 || hid == nullptr) return 2;
    *hid = new Hid;
    return 0;
  }
};

class Agent final : public I_GPUsbDeviceAgent {
 public:
  void Release() override { delete this; }
  int Enumerate(EnumerateRequest* request) override { return request != nullptr ? 0 : 2; }
  int GetCount() override { return 1; }
  I_DeviceInfo* GetDeviceInfo(int position) override { return position == 0 ? &device : nullptr; }
  int OpenDevice(int position, int, I_UsbDevice** opened) override {
    if (position != 0 || opened == nullptr) return 2;
    *opened = new Usb;
    return 0;
  }
};

}  // namespace

int GPAPI_CreateGPUsbDeviceAgent(int version, I_GPUsbDeviceAgent** agent) {
  if (version != 1 || agent == nullptr) return 2;
  *agent = new Agent;
  return 0;
}
