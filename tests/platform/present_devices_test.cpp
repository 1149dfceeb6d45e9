// The sysfs present-device list against fake sysfs trees built in a temporary folder.
#include "platform/present_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "scoped_environment.h"
#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::SysfsPresentDeviceList;

class FakeSysfs : public ::testing::Test {
 protected:
  void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // A USB device folder under devices/, marked as such by its subsystem link.
  fs::path AddUsbDeviceFolder(const std::string& relative) {
    const fs::path folder = m_root / "devices" / relative;
    fs::create_directories(folder);
    fs::create_directories(m_root / "bus" / "usb");
    fs::create_directory_symlink(m_root / "bus" / "usb", folder / "subsystem");
    return folder;
  }

  // A SCSI disk whose device folder lies at devicePath, linked from block/<disk>/device
  // the way the kernel does it.
  fs::path AddDisk(const std::string& disk, const fs::path& devicePath, const std::string& vendor,
                   const std::string& model) {
    fs::create_directories(devicePath);
    WriteFile(devicePath / "vendor", vendor);
    WriteFile(devicePath / "model", model);
    const fs::path blockFolder = devicePath / "block" / disk;
    fs::create_directories(blockFolder);
    fs::create_directory_symlink(fs::path("../.."), blockFolder / "device");
    fs::create_directories(m_root / "block");
    fs::create_directory_symlink(blockFolder, m_root / "block" / disk);
    return devicePath;
  }

  std::vector<std::string> Names() {
    SysfsPresentDeviceList list(m_root.string());
    auto names = list.FriendlyNames();
    EXPECT_TRUE(names.has_value());
    if (!names) return {};
    std::sort(names->begin(), names->end());
    return *names;
  }

  test_support::TemporaryFolder m_temporary{"fwu-sysfs"};
  const fs::path m_root = m_temporary.path();
};

TEST_F(FakeSysfs, NamesUsbDisksBySpacePaddedScsiStringsAndIgnoresOtherDisks) {
  const fs::path usbInterface = AddUsbDeviceFolder("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0");
  AddDisk("sdb", usbInterface / "host6" / "target6:0:0" / "6:0:0:0", "VELDRA  \n",
          "SCRIBOLANTE     \n");
  AddDisk("sda",
          m_root / "devices" / "pci0000:00" / "0000:00:17.0" / "ata1" / "host0" / "target0:0:0" /
              "0:0:0:0",
          "ATA     \n", "Samsung SSD 870 \n");

  EXPECT_EQ(Names(), std::vector<std::string>{"VELDRA SCRIBOLANTE USB Device"});
}

TEST_F(FakeSysfs, NamesOtherUsbDevicesByManufacturerAndProduct) {
  const fs::path mouse = AddUsbDeviceFolder("pci0000:00/0000:00:14.0/usb1/1-3");
  WriteFile(mouse / "manufacturer", "Logitech\n");
  WriteFile(mouse / "product", "USB Optical Mouse\n");
  // An interface folder has neither string: no name, no failure.
  AddUsbDeviceFolder("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0");
  fs::create_directories(m_root / "bus" / "usb" / "devices");
  fs::create_directory_symlink(mouse, m_root / "bus" / "usb" / "devices" / "1-3");
  fs::create_directory_symlink(mouse / "1-3:1.0", m_root / "bus" / "usb" / "devices" / "1-3:1.0");

  EXPECT_EQ(Names(), std::vector<std::string>{"Logitech USB Optical Mouse"});
}

TEST_F(FakeSysfs, AnAttributeThatCannotBeReadSkipsOnlyThatDevice) {
  const fs::path usbInterface = AddUsbDeviceFolder("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0");
  const fs::path broken =
      AddDisk("sdc", usbInterface / "host7" / "target7:0:0" / "7:0:0:0", "BROKEN  ", "DISK");
  // A folder where the vendor file should be: opening succeeds, reading fails.
  fs::remove(broken / "vendor");
  fs::create_directory(broken / "vendor");
  const fs::path missing =
      AddDisk("sdd", usbInterface / "host8" / "target8:0:0" / "8:0:0:0", "GONE", "DISK");
  fs::remove(missing / "model");
  AddDisk("sde", usbInterface / "host9" / "target9:0:0" / "9:0:0:0", "VELDRA", "SCRIBOLANTE");

  EXPECT_EQ(Names(), std::vector<std::string>{"VELDRA SCRIBOLANTE USB Device"});
}

TEST_F(FakeSysfs, AMissingRootGivesNoListAndAnEmptyTreeAnEmptyOne) {
  SysfsPresentDeviceList missing((m_root / "absent").string());
  EXPECT_FALSE(missing.FriendlyNames().has_value());
  EXPECT_EQ(Names(), std::vector<std::string>{});
}

TEST(SysfsRoot, ComesFromTheEnvironmentWhenSetAndDefaultsToSys) {
  test_support::ScopedEnvironment root("FWU_SYSFS_ROOT", "/tmp/fake-sys");
  EXPECT_EQ(SysfsPresentDeviceList().root(), "/tmp/fake-sys");
  EXPECT_EQ(SysfsPresentDeviceList("/elsewhere").root(), "/elsewhere");
  root.Set("");
  EXPECT_EQ(SysfsPresentDeviceList().root(), "/sys");
  root.Set(std::nullopt);
  EXPECT_EQ(SysfsPresentDeviceList::DefaultRoot(), "/sys");
}

}  // namespace
