// The HID device agent: keeps the vendor library's device list filtered by USB IDs, holds up
// to 16 opened devices by list position and carries command transfers to them.
#pragma once

#include <cstdint>

#include "usb/hid_device_agent_base.h"
#include "usb/vendor_interfaces.h"

// Results: 1/0 for the operations that succeed or fail; for transfers and attribute queries
// 0 = success, 17 = no open device to address (kNoDeviceOpen), otherwise the vendor code
// unchanged; -1 for a device count that cannot be had.
//
// Locking (the process-wide recursive agent lock, C_GPUsbDeviceAgentWrapperThreadLock):
//   held for the whole operation: ScanDevices (after EnsureAgent), Rescan, TransferByName,
//     OpenByName, CloseByName, CloseAll, GetAttributeAByName, GetAttributeBByName;
//   not taken: EnsureAgent, GetDeviceName, FindDevice, SetDeviceFilter, SetScanOption and the
//     position and current operations. A caller that shares the agent between threads holds
//     the lock around these (the facade C_GPUSBHIDStdAgentEx does).
//
// The lazy list: GetDeviceName, FindDevice, OpenAt, GetAttributeAAt and GetAttributeBAt
// first Rescan when there is no vendor agent yet, and treat a failed Rescan as an empty list.
// Creating the vendor agent loads the library, which shows the loader's warning on failure.
class C_HIDDeviceAgentEx : public T_HIDDeviceAgentBase<I_GPUsbDeviceAgent, I_GPHidDeviceEx> {
 public:
  static constexpr int kNoDeviceOpen = 17;

  // Hands libraryPath to the loader (null: the default library beside the program). Touches
  // neither the library nor any device.
  explicit C_HIDDeviceAgentEx(const char* libraryPath = nullptr);

  // ScanDevices(0).
  int Rescan() override;
  // Rebuilds the vendor list through the filter (mode 2 also by filterName). Devices open
  // before stay open if still listed at a position below 16, found by name with ASCII
  // letter case ignored, and follow their new position; the others are released. 1: list
  // rebuilt; 0: no vendor agent, or the listing failed, after which no device is open.
  virtual int ScanDevices(int mode);

  // One exchange with the device of that name (FindDevice); 17 when not listed or not open.
  virtual int TransferByName(const char* name, const void* commandBlock, int direction, void* data,
                             int length, int arg10, int arg3, int arg0);
  // One exchange with the open device at a position; 17 outside 0 to 15 or when not open.
  virtual int TransferAt(int position, const void* commandBlock, int direction, void* data,
                         int length, int arg10, int arg3, int arg0);
  // TransferAt at currentIndex.
  virtual int TransferCurrent(const void* commandBlock, int direction, void* data, int length,
                              int arg10, int arg3, int arg0);

  // The open device's attribute into *value; 0, or 17 (name not listed, position negative,
  // beyond the list or above 15, or no open device there), leaving *value untouched.
  virtual int GetAttributeAByName(const char* name, int* value);
  virtual int GetAttributeAAt(int position, int* value);
  virtual int GetAttributeACurrent(int* value);
  virtual int GetAttributeBByName(const char* name, int* value);
  virtual int GetAttributeBAt(int position, int* value);
  virtual int GetAttributeBCurrent(int* value);

  // Creates the vendor agent through the library's factory unless it exists. 1/0; a
  // failure is simply tried again on the next call.
  int EnsureAgent();
  // Stored for the next scan; the ID filter is off when both IDs are 0. Always 1.
  int SetDeviceFilter(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t extraId);
  // The listed name at a position, or null; owned by the vendor library and valid only
  // until the next scan: use it at once.
  const char* GetDeviceName(int position);
  // First position whose name equals name byte for byte (letter case significant); -1 for
  // none or a null name.
  int FindDevice(const char* name);
  // Opens the device at a position (0 to 15, within the list), first closing what was open
  // there, even if the new open then fails. 1: open and current; 0: not opened.
  int OpenAt(int position);
  // FindDevice then OpenAt; 0 when the name is not listed.
  int OpenByName(const char* name);
  // Closes the device of that name if open. 0: not listed or above position 15; else 1,
  // and currentIndex becomes -1.
  int CloseByName(const char* name);

  // Position last opened by OpenAt; -1 for none. It follows its device across rescans.
  std::int32_t currentIndex = -1;
  // Name selection of scan mode 2; nothing in this program sets it.
  char filterName[40] = {};
  std::int32_t filterEnabled = 0;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t extraId = 0xFFFF;

 private:
  // The vendor's device count, first creating the list if there is no agent yet; -1 when
  // no list can be had.
  int ListedDeviceCount();
  // The open device at a position of the table, or null.
  I_GPHidDeviceEx* OpenDeviceAt(int position) const;
};
