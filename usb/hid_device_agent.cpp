// The HID device agent over the vendor library: scans with carry-over of open devices,
// opens and closes by position or name, and carries transfers and attribute queries.
#include "usb/hid_device_agent.h"

#include <algorithm>
#include <cstring>

#include "usb/ascii_text.h"
#include "usb/library_exports.h"
#include "usb/library_loader.h"
#include "usb/recording_agent.h"
#include "usb/vendor_call_values.h"

namespace {

using Lock = C_GPUsbDeviceAgentWrapperThreadLock;
using usb::kFactoryVersion;
using usb::kHidInterfaceKind;
using usb::kNameScanKind;
using usb::kNameScanMode;
using usb::kOpenAccess;

bool IsTablePosition(int position) {
  return position >= 0 && position < C_HIDDeviceAgentEx::kDeviceSlots;
}

const char* NameOf(I_DeviceInfo* info) {
  return info != nullptr ? info->GetName() : nullptr;
}

}  // namespace

C_HIDDeviceAgentEx::C_HIDDeviceAgentEx(const char* libraryPath) {
  usbLibraryLoader.SetLibraryPath(libraryPath);
}

int C_HIDDeviceAgentEx::Rescan() {
  return ScanDevices(0);
}

int C_HIDDeviceAgentEx::EnsureAgent() {
  if (agent != nullptr) return 1;
  const auto create = usbLibraryLoader.GetExport<usb::exports::GPAPI_CreateGPUsbDeviceAgent>();
  if (create == nullptr) return 0;
  // Only a successful call hands over an agent; whatever a failing one wrote is not ours.
  I_GPUsbDeviceAgent* created = nullptr;
  // With --record, the call is on record and the agent kept is a recording stand-in.
  const std::shared_ptr<usb::CallRecorder> recorder = usb::ActiveCallRecorder();
  const int result = recorder
                         ? usb::CreateRecordingAgent(recorder, create, kFactoryVersion, &created)
                         : create(kFactoryVersion, &created);
  if (result != 0 || created == nullptr) return 0;
  agent = created;
  return 1;
}

int C_HIDDeviceAgentEx::ScanDevices(int mode) {
  if (EnsureAgent() == 0) return 0;
  Lock lock;

  I_GPHidDeviceEx* previous[kDeviceSlots];
  for (int position = 0; position < kDeviceSlots; ++position) {
    previous[position] = devices[position];
    devices[position] = nullptr;
  }
  const int previousCurrent = currentIndex;

  DeviceFilter filter{};
  filter.scanOption = scanOption;
  filter.filterEnabled = filterEnabled;
  filter.vendorId = vendorId;
  filter.productId = productId;
  filter.extraId = extraId;
  if (mode == kNameScanMode) std::memcpy(filter.filterName, filterName, sizeof filterName);
  EnumerateRequest request{mode == kNameScanMode ? kNameScanKind : 0, mode, &filter};

  if (agent->Enumerate(&request) != 0) {
    // The table stays empty; the devices it held are given back rather than leaked.
    for (I_GPHidDeviceEx* device : previous) {
      if (device != nullptr) device->Release();
    }
    if (IsTablePosition(previousCurrent) && previous[previousCurrent] != nullptr) {
      currentIndex = -1;
    }
    return 0;
  }

  // Carry the open devices over to their new positions, found by name. A first match beyond
  // the table closes the device just as no match does, so the search stops at the table and
  // a library claiming a huge count cannot stall the scan.
  const int count = std::min(agent->GetCount(), kDeviceSlots);
  for (int oldPosition = 0; oldPosition < kDeviceSlots; ++oldPosition) {
    I_GPHidDeviceEx* device = previous[oldPosition];
    if (device == nullptr) continue;
    const char* name = NameOf(device->GetDeviceInfo());
    int newPosition = -1;
    for (int position = 0; position < count && name != nullptr; ++position) {
      if (usb::EqualIgnoringAsciiCase(name, NameOf(agent->GetDeviceInfo(position)))) {
        newPosition = position;
        break;
      }
    }
    // A device that left the list, moved beyond the table, or whose new position is already
    // taken by another open device (names equal but for letter case) is closed.
    const bool kept = IsTablePosition(newPosition) && devices[newPosition] == nullptr;
    if (kept) {
      devices[newPosition] = device;
    } else {
      device->Release();
    }
    if (oldPosition == previousCurrent) currentIndex = kept ? newPosition : -1;
  }
  return 1;
}

int C_HIDDeviceAgentEx::ListedDeviceCount() {
  if (agent == nullptr && Rescan() == 0) return -1;
  if (agent == nullptr) return -1;
  return agent->GetCount();
}

I_GPHidDeviceEx* C_HIDDeviceAgentEx::OpenDeviceAt(int position) const {
  return IsTablePosition(position) ? devices[position] : nullptr;
}

int C_HIDDeviceAgentEx::SetDeviceFilter(std::uint16_t vendor, std::uint16_t product,
                                        std::uint16_t extra) {
  vendorId = vendor;
  productId = product;
  extraId = extra;
  filterEnabled = (vendor == 0 && product == 0) ? 0 : 1;
  return 1;
}

const char* C_HIDDeviceAgentEx::GetDeviceName(int position) {
  if (position < 0) return nullptr;
  if (position >= ListedDeviceCount()) return nullptr;
  return NameOf(agent->GetDeviceInfo(position));
}

int C_HIDDeviceAgentEx::FindDevice(const char* name) {
  if (name == nullptr) return -1;
  const int count = ListedDeviceCount();
  for (int position = 0; position < count; ++position) {
    const char* listed = GetDeviceName(position);
    if (listed != nullptr && std::strcmp(listed, name) == 0) return position;
  }
  return -1;
}

int C_HIDDeviceAgentEx::OpenAt(int position) {
  const int count = ListedDeviceCount();
  if (count < 0) return 0;
  if (!IsTablePosition(position)) return 0;
  if (devices[position] != nullptr) {
    devices[position]->Release();
    devices[position] = nullptr;
  }
  if (position >= count) return 0;

  I_UsbDevice* usbDevice = nullptr;
  if (agent->OpenDevice(position, kOpenAccess, &usbDevice) != 0 || usbDevice == nullptr) {
    return 0;
  }
  I_GPHidDeviceEx* hid = nullptr;
  const int result = usbDevice->GetInterface(kHidInterfaceKind, &hid);
  // The HID interface outlives the USB device object, which is no longer needed either way.
  usbDevice->Release();
  if (result != 0 || hid == nullptr) return 0;
  devices[position] = hid;
  currentIndex = position;
  return 1;
}

int C_HIDDeviceAgentEx::OpenByName(const char* name) {
  Lock lock;
  const int position = FindDevice(name);
  if (position < 0) return 0;
  return OpenAt(position);
}

int C_HIDDeviceAgentEx::CloseByName(const char* name) {
  Lock lock;
  const int position = FindDevice(name);
  if (!IsTablePosition(position)) return 0;
  if (devices[position] != nullptr) {
    devices[position]->Release();
    devices[position] = nullptr;
  }
  currentIndex = -1;
  return 1;
}

int C_HIDDeviceAgentEx::TransferByName(const char* name, const void* commandBlock, int direction,
                                       void* data, int length, int arg10, int arg3, int arg0) {
  Lock lock;
  const int position = FindDevice(name);
  if (position < 0) return kNoDeviceOpen;
  return TransferAt(position, commandBlock, direction, data, length, arg10, arg3, arg0);
}

int C_HIDDeviceAgentEx::TransferAt(int position, const void* commandBlock, int direction,
                                   void* data, int length, int arg10, int arg3, int arg0) {
  I_GPHidDeviceEx* device = OpenDeviceAt(position);
  if (device == nullptr) return kNoDeviceOpen;
  return device->Transfer(commandBlock, direction, data, length, arg10, arg3, arg0);
}

int C_HIDDeviceAgentEx::TransferCurrent(const void* commandBlock, int direction, void* data,
                                        int length, int arg10, int arg3, int arg0) {
  return TransferAt(currentIndex, commandBlock, direction, data, length, arg10, arg3, arg0);
}

namespace {

using AttributeQuery = int (I_GPHidDeviceEx::*)();

// The attribute queries differ only in the vendor operation they call.
int QueryAttributeAt(C_HIDDeviceAgentEx& agent, int position, int listedCount, AttributeQuery query,
                     int* value) {
  if (position < 0 || position >= listedCount || position >= C_HIDDeviceAgentEx::kDeviceSlots) {
    return C_HIDDeviceAgentEx::kNoDeviceOpen;
  }
  I_GPHidDeviceEx* device = agent.devices[position];
  if (device == nullptr) return C_HIDDeviceAgentEx::kNoDeviceOpen;
  const int attribute = (device->*query)();
  if (value != nullptr) *value = attribute;
  return 0;
}

}  // namespace

int C_HIDDeviceAgentEx::GetAttributeAAt(int position, int* value) {
  if (position < 0) return kNoDeviceOpen;
  return QueryAttributeAt(*this, position, ListedDeviceCount(), &I_GPHidDeviceEx::GetAttributeA,
                          value);
}

int C_HIDDeviceAgentEx::GetAttributeBAt(int position, int* value) {
  if (position < 0) return kNoDeviceOpen;
  return QueryAttributeAt(*this, position, ListedDeviceCount(), &I_GPHidDeviceEx::GetAttributeB,
                          value);
}

int C_HIDDeviceAgentEx::GetAttributeACurrent(int* value) {
  return GetAttributeAAt(currentIndex, value);
}

int C_HIDDeviceAgentEx::GetAttributeBCurrent(int* value) {
  return GetAttributeBAt(currentIndex, value);
}

int C_HIDDeviceAgentEx::GetAttributeAByName(const char* name, int* value) {
  Lock lock;
  const int position = FindDevice(name);
  if (position < 0) return kNoDeviceOpen;
  return GetAttributeAAt(position, value);
}

int C_HIDDeviceAgentEx::GetAttributeBByName(const char* name, int* value) {
  Lock lock;
  const int position = FindDevice(name);
  if (position < 0) return kNoDeviceOpen;
  return GetAttributeBAt(position, value);
}
