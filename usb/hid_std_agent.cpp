// The facade through which the update workflow reaches the device, over the process's one
// HID device agent.
#include "usb/hid_std_agent.h"

#include <algorithm>

#include "usb/agent_lock.h"
#include "usb/hid_device_agent.h"
#include "usb/vendor_call_values.h"

C_HIDDeviceAgentEx* C_GPUSBHIDStdAgentEx::hidAgent = nullptr;
int C_GPUSBHIDStdAgentEx::facadeCount_ = 0;

namespace {

using Lock = C_GPUsbDeviceAgentWrapperThreadLock;
using usb::kScanOption;
using usb::kTransferFifthArgument;
using usb::kTransferSeventhArgument;
using usb::kTransferSixthArgument;

}  // namespace

C_GPUSBHIDStdAgentEx::C_GPUSBHIDStdAgentEx() {
  Lock lock;
  // Counted only once the agent exists, so a failed allocation leaves no facade counted
  // against a missing agent.
  if (facadeCount_ == 0) hidAgent = new C_HIDDeviceAgentEx(nullptr);
  ++facadeCount_;
}

C_GPUSBHIDStdAgentEx::~C_GPUSBHIDStdAgentEx() {
  Lock lock;
  // The devices are shared with the facades still alive.
  if (--facadeCount_ > 0) return;
  // Without a vendor agent nothing can be open, and asking for the count would load the
  // library (and warn) on the way out.
  // Only the table's positions can hold an open device, and a name listed further down is
  // either one of theirs again or cannot be open; so the closing stops at the table, and a
  // library that claims a huge count cannot hold up the end of the program.
  if (hidAgent->agent != nullptr) {
    const int count = std::min(GetDeviceCount(), C_HIDDeviceAgentEx::kDeviceSlots);
    for (int position = 0; position < count; ++position) {
      hidAgent->CloseByName(GetDeviceName(position));
    }
  }
  delete hidAgent;
  hidAgent = nullptr;
}

int C_GPUSBHIDStdAgentEx::Scan(int mode) {
  Lock lock;
  hidAgent->SetScanOption(kScanOption);
  return hidAgent->ScanDevices(mode);
}

int C_GPUSBHIDStdAgentEx::SetDeviceIds(std::uint16_t vendorId, std::uint16_t productId,
                                       std::uint16_t extraId) {
  Lock lock;
  hidAgent->SetDeviceFilter(vendorId, productId, extraId);
  return 1;
}

int C_GPUSBHIDStdAgentEx::GetDeviceCount() {
  Lock lock;
  if (hidAgent->agent == nullptr && hidAgent->Rescan() == 0) return -1;
  if (hidAgent->agent == nullptr) return -1;
  return hidAgent->agent->GetCount();
}

const char* C_GPUSBHIDStdAgentEx::GetDeviceName(int position) {
  Lock lock;
  if (position < 0 || position >= GetDeviceCount()) return nullptr;
  return hidAgent->GetDeviceName(position);
}

int C_GPUSBHIDStdAgentEx::Connect(int position) {
  Lock lock;
  if (position < 0 || position >= GetDeviceCount()) return 0;
  return hidAgent->OpenByName(GetDeviceName(position));
}

int C_GPUSBHIDStdAgentEx::SendCommand(int position, const void* commandBlock, int direction,
                                      void* data, int length) {
  // The name is borrowed from the vendor list: hold the lock until it has been used, so a
  // scan on the other thread cannot rebuild the list in between.
  Lock lock;
  return hidAgent->TransferByName(GetDeviceName(position), commandBlock, direction, data, length,
                                  kTransferFifthArgument, kTransferSixthArgument,
                                  kTransferSeventhArgument);
}
