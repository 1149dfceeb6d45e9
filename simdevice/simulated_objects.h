// The objects the library hands out: the agent, an opened USB device and its HID interface.
// Each is a thin shell over the shared SimulatedWorld; the caller gives each back with its
// Release, which deletes it (the interfaces have no way to share an object, so every
// object has exactly one owner). No exception ever leaves them: a failure inside the
// library becomes kResultInternalError.
#pragma once

#include <memory>

#include "simdevice/simulated_world.h"
#include "usb/vendor_interfaces.h"

namespace simdevice {

class SimulatedAgent final : public I_GPUsbDeviceAgent {
 public:
  explicit SimulatedAgent(std::shared_ptr<SimulatedWorld> world) : world_(std::move(world)) {}

  void Release() override;
  int Enumerate(EnumerateRequest* request) override;
  int GetCount() override;
  I_DeviceInfo* GetDeviceInfo(int position) override;
  int OpenDevice(int position, int access, I_UsbDevice** device) override;

 private:
  ~SimulatedAgent() = default;
  std::shared_ptr<SimulatedWorld> world_;
};

class SimulatedUsbDevice final : public I_UsbDevice {
 public:
  SimulatedUsbDevice(std::shared_ptr<SimulatedWorld> world, SimulatedDevice& device)
      : world_(std::move(world)), device_(device) {}

  void Release() override;
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override;

 private:
  ~SimulatedUsbDevice() = default;
  std::shared_ptr<SimulatedWorld> world_;
  SimulatedDevice& device_;  // owned by world_
};

class SimulatedHidDevice final : public I_GPHidDeviceEx {
 public:
  SimulatedHidDevice(std::shared_ptr<SimulatedWorld> world, SimulatedDevice& device)
      : world_(std::move(world)), device_(device) {}

  void Release() override;
  I_DeviceInfo* GetDeviceInfo() override { return &device_; }
  int GetAttributeA() override;
  int GetAttributeB() override;
  int Transfer(const void* commandBlock, int direction, void* data, int length, int arg10, int arg3,
               int arg0) override;

 private:
  ~SimulatedHidDevice() = default;
  std::shared_ptr<SimulatedWorld> world_;
  SimulatedDevice& device_;  // owned by world_
};

}  // namespace simdevice
