// The in-process fake of the vendor library's interfaces, for the USB layer's tests and the fuzz
// targets: a device list the caller edits (any names, any claimed count), opened devices that
// record transfers and releases, failures injected per operation, and transfers answered by a
// handler. The simulated library in simdevice/ is the full-featured fake; this one is for
// tests that must see or bend the library's side directly.
//
// Misuse aborts the process at once with a message on standard error, so a test or fuzz
// input that provokes it fails loudly: a second release, a call on a released object, a
// transfer without its command block or with other than the constant arguments, an open
// access or interface kind other than the ones the library documents.
//
// Ownership: every object handed out is kept by the fake agent until it is destroyed, so a
// test can still look at a device after the code under test released it. The information
// objects of a published list are freed by the next publication, which is as long as the
// library promises to keep them: a name kept longer is a use after free that ASan reports.
//
// Threads: the records are plain members; the code under test serialises its calls with the
// agent lock, and transfersInFlight / mostTransfersAtOnce show whether it did.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "usb/vendor_interfaces.h"

namespace usb_test {

// Reports a broken promise of the code under test towards the library and aborts.
[[noreturn]] void FakeLibraryMisuse(const std::string& what);

class FakeDeviceInfo final : public I_DeviceInfo {
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

// An opened HID interface.
class FakeHidDevice final : public I_GPHidDeviceEx {
 public:
  FakeHidDevice(FakeVendorAgent& owner, std::string name);
  void Release() override;
  I_DeviceInfo* GetDeviceInfo() override;
  int GetAttributeA() override;
  int GetAttributeB() override;
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

class FakeUsbDevice final : public I_UsbDevice {
 public:
  FakeUsbDevice(FakeVendorAgent& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  void Release() override;
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override;

  int releaseCount = 0;

 private:
  FakeVendorAgent& owner_;
  std::string name_;
};

// A listed entry: a name, or none (GetDeviceInfo answers null at that position).
using ListedName = std::optional<std::string>;

// Answers a transfer: the device, the 16-byte command block, direction, data and length.
// Returns the transfer result.
using TransferHandler = std::function<int(FakeHidDevice& device, const std::uint8_t* commandBlock,
                                          int direction, void* data, int length)>;

// The vendor agent. Failures are set per operation (0 = succeed). Lives longer than any agent
// it is put behind.
class FakeVendorAgent final : public I_GPUsbDeviceAgent {
 public:
  void Release() override;
  int Enumerate(EnumerateRequest* request) override;
  int GetCount() override { return claimedCount_; }
  I_DeviceInfo* GetDeviceInfo(int position) override;
  int OpenDevice(int position, int access, I_UsbDevice** device) override;

  // Sets the list the next Enumerate publishes (and, with publishNow, the current one); the
  // count it claims is the number of names.
  void SetList(std::vector<std::string> names, bool publishNow = false);
  // The same with entries that may lack a name and a claimed count that may be anything at all
  // (negative, or far beyond the entries).
  void SetNextList(std::vector<ListedName> names, int claimedCount, bool publishNow = false);
  // The listed name at a position, or null outside the entries or for an entry without one.
  const char* NameAt(int position) const;

  // Every HID interface handed out, in order, and those not released yet.
  std::vector<FakeHidDevice*> hidDevices() const;
  std::vector<FakeHidDevice*> OpenHidDevices() const;
  int OpenHidCount() const { return static_cast<int>(OpenHidDevices().size()); }
  // USB device objects handed out and not released yet.
  int OpenUsbCount() const;
  bool IsHandedOut(const I_GPHidDeviceEx* device) const;
  // Empty when the agent and every object handed out were released exactly once; otherwise
  // what was not.
  std::string Unreleased() const;

  int releaseCount = 0;
  int enumerateCount = 0;
  long lookupCount = 0;  // GetDeviceInfo calls
  int enumerateResult = 0;
  int openResult = 0;
  bool openYieldsNull = false;
  int interfaceResult = 0;
  // The result of a transfer without a handler; such a read is filled with 0, 1, 2, ...
  int transferResult = 0;
  std::vector<int> openAccessArguments;
  std::vector<int> interfaceKinds;
  DeviceFilter lastFilter{};
  EnumerateRequest lastRequest{};
  // Runs inside Enumerate, to look at the lock state from there.
  std::function<void()> onEnumerate;
  // Answers transfers in place of the default; runs inside Transfer.
  TransferHandler onTransfer;
  std::vector<TransferRecord> transfers;
  // Transfers running at this moment, and the most ever seen at once.
  std::atomic<int> transfersInFlight{0};
  std::atomic<int> mostTransfersAtOnce{0};

 private:
  friend class FakeHidDevice;
  friend class FakeUsbDevice;

  void Publish();

  std::vector<ListedName> nextNames_;
  int nextClaimedCount_ = 0;
  std::vector<ListedName> names_;
  int claimedCount_ = 0;
  std::vector<std::unique_ptr<FakeDeviceInfo>> infos_;
  std::vector<std::unique_ptr<FakeUsbDevice>> usbDevices_;
  std::vector<std::unique_ptr<FakeHidDevice>> hidDevices_;
};

}  // namespace usb_test
