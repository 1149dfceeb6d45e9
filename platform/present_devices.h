// The friendly names of the devices present in the system, as the user sees them, so the
// connection checks can recognise the device when it runs in its normal mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Called on the UI thread only (the connection checks' name scan). Implementations keep no
// reference to the strings they return.
class PresentDeviceList {
 public:
  virtual ~PresentDeviceList() = default;

  // The friendly name of every present device that has one, in no particular order.
  // nullopt when no list can be had at all; a device whose name cannot be read is left out.
  virtual std::optional<std::vector<std::string>> FriendlyNames() = 0;

  // True when a USB device with these vendor and product IDs is present; false also when no
  // list can be had.
  virtual bool HasUsbDevice(std::uint16_t vendorId, std::uint16_t productId) = 0;
};

// The list read from sysfs. A USB disk is named "<vendor> <model> USB Device" from the SCSI
// vendor and model strings of its block device (trimmed of their space padding); any other
// USB device by "<manufacturer> <product>" of its USB device entry.
class SysfsPresentDeviceList : public PresentDeviceList {
 public:
  // root: the sysfs mount point; DefaultRoot() when empty.
  explicit SysfsPresentDeviceList(std::string root = {});

  std::optional<std::vector<std::string>> FriendlyNames() override;
  // From the idVendor and idProduct attributes of the USB device entries.
  bool HasUsbDevice(std::uint16_t vendorId, std::uint16_t productId) override;

  // "/sys"; in a build with the test switches, FWU_SYSFS_ROOT instead when set and not empty.
  static std::string DefaultRoot();

  const std::string& root() const { return m_root; }

 private:
  std::string m_root;
};

}  // namespace platform
