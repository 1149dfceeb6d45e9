// The common part of the HID device agents: the vendor agent they own, the table of opened
// devices by list position, and the scan option.
#pragma once

#include <dlfcn.h>

#include <cstdint>

#include "usb/agent_lock.h"

// Instantiated over the vendor's agent and device interfaces (I_GPUsbDeviceAgent,
// I_GPHidDeviceEx). Fields are public, as a plain record of the agent's state: the facade
// reads agent, and tests hand it a vendor agent of their own.
template <typename AgentInterface, typename DeviceInterface>
class T_HIDDeviceAgentBase {
 public:
  // Positions 0 to 15 of the vendor's list can be held open.
  static constexpr int kDeviceSlots = 16;

  T_HIDDeviceAgentBase() = default;
  // Closes every open device (CloseAll), gives the vendor agent back with Release and frees
  // moduleHandle if set. Destroy an agent only when no other thread can still reach it.
  virtual ~T_HIDDeviceAgentBase() {
    CloseAll();
    if (agent != nullptr) {
      agent->Release();
      agent = nullptr;
    }
    if (moduleHandle != nullptr) {
      dlclose(moduleHandle);
      moduleHandle = nullptr;
    }
  }

  T_HIDDeviceAgentBase(const T_HIDDeviceAgentBase&) = delete;
  T_HIDDeviceAgentBase& operator=(const T_HIDDeviceAgentBase&) = delete;

  // Rebuilds the device list; 1 on success, 0 on failure.
  virtual int Rescan() = 0;
  // Stored for the next scan. Takes no lock.
  virtual void SetScanOption(int option) { scanOption = option; }

  // Takes the agent lock. Gives back and clears every open device; currentIndex (of the
  // derived agent) does not change.
  void CloseAll() {
    C_GPUsbDeviceAgentWrapperThreadLock lock;
    for (DeviceInterface*& device : devices) {
      if (device != nullptr) {
        device->Release();
        device = nullptr;
      }
    }
  }

  // A library handle of the agent's own; nothing in this program sets it, the vendor
  // library belongs to the loader. Freed at destruction if set.
  void* moduleHandle = nullptr;
  // The vendor agent, null until created; owned, given back with Release.
  AgentInterface* agent = nullptr;
  // Open devices by their position in the vendor list; null = not open. Each entry is owned
  // and given back with Release when closed or dropped.
  DeviceInterface* devices[kDeviceSlots] = {};
  // Copied into the filter of every scan.
  std::int32_t scanOption = 0;
};
