// Hand-written fakes of the vendor library's interfaces: a device list the test edits, opened
// devices that record transfers and releases, and failures injected per operation.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "usb/vendor_interfaces.h"

namespace usb_test {

class FakeDeviceInfo : public I_DeviceInfo {
 public:
  explicit FakeDeviceInfo(std::string name) : name_(std::move(name)) {}
  const char* GetName() override { return name_.c_str(); }

 private:
  std::string name_;
};

// One recorded Transfer call.
struct TransferRecord {
  std::string device;
  int direction;
  int length;
  int arg10, arg3, arg0;
};

class FakeVendorAgent;

// An opened HID interface. Owned by the fake agent, so a test can still look at it after
// the code under test released it.
class FakeHidDevice : public I_GPHidDeviceEx {
 public:
  FakeHidDevice(FakeVendorAgent& owner, std::string name);
  void Release() override;
  I_DeviceInfo* GetDeviceInfo() override { return &info_; }
  int GetAttributeA() override { return attributeA; }
  int GetAttributeB() override { return attributeB; }
  int Transfer(const void* commandBlock, int direction, void* data, int length, int arg10, int arg3,
               int arg0) override;

  const std::string& name() const { return name_; }
  int releaseCount = 0;
  int attributeA = 0x41;
  int attributeB = 0x42;

 private:
  FakeVendorAgent& owner_;
  std::string name_;
  FakeDeviceInfo info_;
};

class FakeUsbDevice : public I_UsbDevice {
 public:
  FakeUsbDevice(FakeVendorAgent& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  void Release() override { ++releaseCount; }
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override;

  int releaseCount = 0;

 private:
  FakeVendorAgent& owner_;
  std::string name_;
};

// The vendor agent. The list the next Enumerate publishes is `nextList`; failures are set
// per operation (0 = succeed).
class FakeVendorAgent : public I_GPUsbDeviceAgent {
 public:
  void Release() override { ++releaseCount; }
  int Enumerate(EnumerateRequest* request) override;
  int GetCount() override { return static_cast<int>(list_.size()); }
  I_DeviceInfo* GetDeviceInfo(int position) override;
  int OpenDevice(int position, int access, I_UsbDevice** device) override;

  // Sets the list the next Enumerate publishes (and, with publishNow, the current one).
  void SetList(std::vector<std::string> names, bool publishNow = false);

  // Every HID interface handed out, in order.
  std::vector<FakeHidDevice*> hidDevices() const;
  // HID interfaces handed out and not yet released.
  int OpenHidCount() const;
  // USB device objects handed out and not yet released.
  int OpenUsbCount() const;

  int releaseCount = 0;
  int enumerateCount = 0;
  int enumerateResult = 0;
  int openResult = 0;
  bool openYieldsNull = false;
  int interfaceResult = 0;
  int transferResult = 0;
  std::vector<int> openAccessArguments;
  std::vector<int> interfaceKinds;
  DeviceFilter lastFilter{};
  EnumerateRequest lastRequest{};
  // Runs inside Enumerate and Transfer, to look at the lock state from there.
  std::function<void()> onEnumerate;
  std::function<void()> onTransfer;
  std::vector<TransferRecord> transfers;
  // Transfers running at this moment, and the most ever seen at once.
  std::atomic<int> transfersInFlight{0};
  std::atomic<int> mostTransfersAtOnce{0};

 private:
  friend class FakeHidDevice;
  friend class FakeUsbDevice;

  std::vector<std::string> nextList_;
  std::vector<std::unique_ptr<FakeDeviceInfo>> list_;
  std::vector<std::unique_ptr<FakeDeviceInfo>> retiredList_;
  std::vector<std::unique_ptr<FakeUsbDevice>> usbDevices_;
  std::vector<std::unique_ptr<FakeHidDevice>> hidDevices_;
};

}  // namespace usb_test
