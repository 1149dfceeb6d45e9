// The interfaces and records of the device chip vendor's USB library, GPlusUSBLibEx.
// Everything the updater passes to that library and relies on from it is declared here;
// our simulated replacement (simdevice/) implements the same declarations. A port of the
// library builds against this header alone (installed as
// <scribolante-fw-updater/vendor_interfaces.h>); docs/VENDOR-LIBRARY.md is its contract.
#pragma once

#include <cstddef>
#include <cstdint>

// Objects handed out by the library are reference-counted by the library itself: the caller
// gives an object back with its Release operation and never deletes it. Interfaces have no
// virtual destructor; the slot order below is the library's and must not change.
//
// Threads: the library may be called from any thread, but never from two threads at once
// on the same agent or device. The updater guarantees that with its process-wide agent lock.
// In the updater the UI thread scans, opens and exchanges during the update phases, and the
// update worker exchanges during the block writes; every call comes from the HID device
// agent (usb/hid_device_agent.h), and through the facade always under that lock.

class I_DeviceInfo;
class I_UsbDevice;
class I_GPHidDeviceEx;

#pragma pack(push, 2)
// Selection of the devices an Enumerate call lists. 54 bytes, packed to 2: the library reads
// exactly this layout.
struct DeviceFilter {
  std::int32_t scanOption;     // copied from the agent's scan option
  std::int32_t filterEnabled;  // 0: no vendor/product ID set, list every device
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint16_t extraId;  // 0xFFFF: not set
  char filterName[40];    // filled in scan mode 2 only
};
#pragma pack(pop)

static_assert(sizeof(DeviceFilter) == 54);
static_assert(offsetof(DeviceFilter, scanOption) == 0);
static_assert(offsetof(DeviceFilter, filterEnabled) == 4);
static_assert(offsetof(DeviceFilter, vendorId) == 8);
static_assert(offsetof(DeviceFilter, productId) == 10);
static_assert(offsetof(DeviceFilter, extraId) == 12);
static_assert(offsetof(DeviceFilter, filterName) == 14);

// The argument of Enumerate. The vendor's 32-bit layout is 12 bytes; here the pointer is a
// native 64-bit pointer, so the record is 16 bytes, with kind and mode where they always were.
struct EnumerateRequest {
  std::int32_t kind;     // 3 in scan mode 2, else 0
  std::int32_t mode;     // the scan mode
  DeviceFilter* filter;  // borrowed for the duration of the call
};

static_assert(offsetof(EnumerateRequest, kind) == 0);
static_assert(offsetof(EnumerateRequest, mode) == 4);
static_assert(offsetof(EnumerateRequest, filter) == 8);
static_assert(sizeof(EnumerateRequest) == 8 + sizeof(void*));

// The library's device agent: the list of devices matching the last Enumerate.
class I_GPUsbDeviceAgent {
 public:
  // Gives the agent back; it is not used again. Devices opened through it stay valid until
  // they are released themselves.
  virtual void Release() = 0;
  // Rebuilds the device list with the request's filter. 0: list rebuilt; any other value:
  // failure, the list is then empty. The request is only read during the call.
  virtual int Enumerate(EnumerateRequest* request) = 0;
  // Number of devices in the list built by the last Enumerate (0 before any).
  virtual int GetCount() = 0;
  // Information on the device at a 0-based list position, or null for a position outside the
  // list. The object belongs to the library, lives at least until the next Enumerate and is
  // never released by the caller.
  virtual I_DeviceInfo* GetDeviceInfo(int position) = 0;
  // Opens the device at a position; the second argument is always 1. 0 with a non-null
  // *device: opened, the caller owns *device and gives it back with Release.
  virtual int OpenDevice(int position, int access, I_UsbDevice** device) = 0;

 protected:
  ~I_GPUsbDeviceAgent() = default;
};

// A listed device's identity. The same device keeps its name across rebuilds of the list.
class I_DeviceInfo {
 public:
  // NUL-terminated narrow name, owned by the library; valid as long as this object.
  virtual const char* GetName() = 0;

 protected:
  ~I_DeviceInfo() = default;
};

// An opened USB device, from which the HID interface is taken.
class I_UsbDevice {
 public:
  // Gives the object back. The updater does so as soon as it holds the HID interface, or
  // when GetInterface fails.
  virtual void Release() = 0;
  // kind is always 2 (HID). 0 with a non-null *hid: success, the caller owns *hid and gives
  // it back with Release. The HID interface stays valid after this object is released.
  virtual int GetInterface(int kind, I_GPHidDeviceEx** hid) = 0;

 protected:
  ~I_UsbDevice() = default;
};

// The HID interface of an opened device: carries command transfers.
class I_GPHidDeviceEx {
 public:
  // Closes the device; the interface is not used again.
  virtual void Release() = 0;
  // This device's information; owned by the library, never released by the caller. Its
  // name is how the updater finds the device again after a rebuild of the list.
  virtual I_DeviceInfo* GetDeviceInfo() = 0;
  // Values whose meaning is the library's; the updater passes them on and relies on none.
  virtual int GetAttributeA() = 0;
  virtual int GetAttributeB() = 0;
  // One exchange: the 16-byte command block, then a data phase of length bytes, to the
  // device when direction is 1, from it when direction is 0. The last three arguments are
  // always 10, 3 and 0. Returns 0 on success, after which a read has filled length bytes;
  // any other value is the library's error code. Blocks until the exchange is over.
  virtual int Transfer(const void* commandBlock, int direction, void* data, int length, int arg10,
                       int arg3, int arg0) = 0;

 protected:
  ~I_GPHidDeviceEx() = default;
};

// The library's only export. version is always 1. Returns 0 with a non-null *agent on
// success; the caller owns *agent and gives it back with Release. Declared visible, so a
// library built with hidden symbols by default still exports its definition.
extern "C" __attribute__((visibility("default"))) int GPAPI_CreateGPUsbDeviceAgent(
    int version, I_GPUsbDeviceAgent** agent);
using GPAPI_CreateGPUsbDeviceAgentFunction = int (*)(int, I_GPUsbDeviceAgent**);
inline constexpr const char* kCreateAgentExportName = "GPAPI_CreateGPUsbDeviceAgent";
