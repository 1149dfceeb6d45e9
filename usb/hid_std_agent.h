// The facade through which the update workflow reaches the device: scan, count, open and
// carry command blocks, all at 0-based positions of the vendor library's device list.
#pragma once

#include <cstdint>

class C_HIDDeviceAgentEx;

// Threads: the UI thread and the update worker both call it. Every operation holds the
// process-wide agent lock for its whole run (recursively, over the agent's own locking), so
// a device name looked up in the vendor list is used before another thread can rescan.
// Facades share one agent: it is created with the first facade and deleted with the last.
class C_GPUSBHIDStdAgentEx {
 public:
  // Creates the HID device agent (default library location); touches neither the library
  // nor any device.
  C_GPUSBHIDStdAgentEx();
  // With the last facade: closes every listed device by name, then deletes the agent. Only
  // when no other thread can still call the facade.
  virtual ~C_GPUSBHIDStdAgentEx();

  C_GPUSBHIDStdAgentEx(const C_GPUSBHIDStdAgentEx&) = delete;
  C_GPUSBHIDStdAgentEx& operator=(const C_GPUSBHIDStdAgentEx&) = delete;

  // Sets scan option 1 and rebuilds the device list. 1: list rebuilt; 0: no library, no
  // vendor agent or the listing failed (the loader has shown its warning if it could not load).
  int Scan(int mode);
  // Stores the device filter for the next scan; always 1.
  int SetDeviceIds(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t extraId);
  // Devices in the list; -1 when no list can be had.
  int GetDeviceCount();
  // Name of the device at a position, or null; owned by the vendor library, use at once.
  const char* GetDeviceName(int position);
  // Opens the device at a position. 1: opened; 0: bad position or the open failed.
  int Connect(int position);
  // One exchange with the open device at a position: the 16-byte command block, then
  // length bytes to the device (direction 1) or from it (direction 0). 0: success; 17: no
  // device open there; otherwise the vendor library's code.
  int SendCommand(int position, const void* commandBlock, int direction, void* data, int length);

  // The agent behind every facade of the process.
  static C_HIDDeviceAgentEx* hidAgent;

 private:
  // Facades alive; hidAgent lives while there is one. Changed under the agent lock.
  static int facadeCount_;
};
