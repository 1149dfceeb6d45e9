// A vendor library for the fuzz targets, put behind the device agent in place of the real
// one: a device list whose count and names the target chooses freely, transfers answered by a
// handler, and a ledger of every object handed out so that leaks and double releases show.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "usb/vendor_interfaces.h"

namespace fuzz {

class FuzzVendorAgent;

class FuzzDeviceInfo final : public I_DeviceInfo {
 public:
  explicit FuzzDeviceInfo(std::string name) : name_(std::move(name)) {}
  const char* GetName() override { return name_.c_str(); }

 private:
  std::string name_;
};

// An opened HID interface. Kept by the agent after its release, so a second release or a
// transfer after the release is caught rather than being a use after free.
class FuzzHidDevice final : public I_GPHidDeviceEx {
 public:
  FuzzHidDevice(FuzzVendorAgent& owner, std::string name) : owner_(owner), info_(std::move(name)) {}
  void Release() override;
  I_DeviceInfo* GetDeviceInfo() override;
  int GetAttributeA() override;
  int GetAttributeB() override;
  int Transfer(const void* commandBlock, int direction, void* data, int length, int arg10, int arg3,
               int arg0) override;

  std::string name() { return info_.GetName(); }
  int releaseCount = 0;

 private:
  FuzzVendorAgent& owner_;
  FuzzDeviceInfo info_;
};

class FuzzUsbDevice final : public I_UsbDevice {
 public:
  FuzzUsbDevice(FuzzVendorAgent& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  void Release() override;
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override;

  int releaseCount = 0;

 private:
  FuzzVendorAgent& owner_;
  std::string name_;
};

// A listed entry: a name, or none (GetDeviceInfo answers null at that position).
using ListedName = std::optional<std::string>;

// The answer of a transfer: the command block (16 bytes), direction, data, length. Returns the
// transfer result.
using TransferHandler = std::function<int(FuzzHidDevice& device, const std::uint8_t* commandBlock,
                                          int direction, void* data, int length)>;

// Lives for one input; the agent it is put behind must be destroyed first.
class FuzzVendorAgent final : public I_GPUsbDeviceAgent {
 public:
  ~FuzzVendorAgent();

  void Release() override;
  int Enumerate(EnumerateRequest* request) override;
  int GetCount() override { return claimedCount_; }
  I_DeviceInfo* GetDeviceInfo(int position) override;
  int OpenDevice(int position, int access, I_UsbDevice** device) override;

  // The list the next Enumerate publishes, and the count it then claims (anything at all,
  // negative or beyond the names included).
  void SetNextList(std::vector<ListedName> names, int claimedCount);
  // The published list.
  const std::vector<ListedName>& names() const { return names_; }
  // The listed name at a position, or null outside the list or for an entry without one.
  const char* NameAt(int position) const;

  // HID interfaces handed out and not released yet, and USB device objects likewise.
  std::vector<FuzzHidDevice*> OpenHidDevices() const;
  int OpenUsbDeviceCount() const;
  bool IsHandedOut(const I_GPHidDeviceEx* device) const;
  // Aborts unless every object handed out was released exactly once and the agent once.
  void CheckAllReleased() const;

  int enumerateResult = 0;
  int openResult = 0;
  bool openYieldsNull = false;
  int interfaceResult = 0;
  int releaseCount = 0;
  TransferHandler onTransfer;
  // The device the last transfer reached.
  FuzzHidDevice* lastTransferDevice = nullptr;

 private:
  friend class FuzzUsbDevice;

  std::vector<ListedName> nextNames_;
  int nextClaimedCount_ = 0;
  std::vector<ListedName> names_;
  int claimedCount_ = 0;
  // The information objects of the published list; freed by the next Enumerate, which is as
  // long as the library promises to keep them, so a name kept too long is a use after free.
  std::vector<std::unique_ptr<FuzzDeviceInfo>> infos_;
  std::vector<std::unique_ptr<FuzzUsbDevice>> usbDevices_;
  std::vector<std::unique_ptr<FuzzHidDevice>> hidDevices_;
};

}  // namespace fuzz
