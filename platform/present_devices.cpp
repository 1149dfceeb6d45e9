// The present-device list read from sysfs: USB disks by their SCSI vendor and model, other
// USB devices by their manufacturer and product strings.
#include "platform/present_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/file_chunks.h"
#include "platform/test_switches.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kAttributeLimit = 4096;

// One sysfs attribute, its trailing newline and the space padding of SCSI strings removed.
// nullopt when it cannot be opened or read (missing, not permitted, a directory, an I/O error).
std::optional<std::string> ReadAttribute(const fs::path& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  std::string text;
  char chunk[256];
  // Attributes are short; the bound keeps a strange file from being read without end.
  const ChunkReadEnd end =
      ReadInChunks(descriptor, chunk, [&text](const char* bytes, std::size_t size) {
        text.append(bytes, size);
        return text.size() < kAttributeLimit;
      });
  ::close(descriptor);
  if (end == ChunkReadEnd::Failed) return std::nullopt;
  const auto isPadding = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\0'; };
  std::size_t last = text.size();
  while (last > 0 && isPadding(text[last - 1])) --last;
  std::size_t begin = 0;
  while (begin < last && isPadding(text[begin])) ++begin;
  return text.substr(begin, last - begin);
}

// True when some directory from devicePath up to the top of the tree is a USB device or
// interface, which sysfs marks with a subsystem link to the usb bus.
bool RunsThroughUsb(const fs::path& top, fs::path devicePath) {
  std::error_code error;
  while (devicePath.has_relative_path() && devicePath != top) {
    const fs::path subsystem = fs::read_symlink(devicePath / "subsystem", error);
    if (!error && subsystem.filename() == "usb") return true;
    devicePath = devicePath.parent_path();
  }
  return false;
}

// The entries of a folder; a folder that cannot be listed, or stops listing, gives what it
// gave so far. The non-throwing increment keeps one bad entry from ending the scan by an
// exception.
std::vector<fs::path> ListFolder(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    entries.push_back(entry->path());
  }
  return entries;
}

void AddUsbDisks(const fs::path& top, std::vector<std::string>& names) {
  for (const fs::path& disk : ListFolder(top / "block")) {
    const fs::path device = disk / "device";
    std::error_code error;
    const fs::path resolved = fs::canonical(device, error);
    if (error || !RunsThroughUsb(top, resolved)) continue;
    const auto vendor = ReadAttribute(device / "vendor");
    const auto model = ReadAttribute(device / "model");
    if (!vendor || !model) continue;
    names.push_back(*vendor + " " + *model + " USB Device");
  }
}

void AddUsbDevices(const fs::path& top, std::vector<std::string>& names) {
  for (const fs::path& device : ListFolder(top / "bus" / "usb" / "devices")) {
    const auto manufacturer = ReadAttribute(device / "manufacturer");
    const auto product = ReadAttribute(device / "product");
    if (!manufacturer || !product) continue;
    names.push_back(*manufacturer + " " + *product);
  }
}

// A 16-bit ID written as hexadecimal digits, as sysfs shows idVendor and idProduct.
std::optional<std::uint16_t> HexId(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  std::uint16_t value = 0;
  const char* end = text->data() + text->size();
  const auto [stop, failure] = std::from_chars(text->data(), end, value, 16);
  if (failure != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

SysfsPresentDeviceList::SysfsPresentDeviceList(std::string root)
    : m_root(root.empty() ? DefaultRoot() : std::move(root)) {}

std::string SysfsPresentDeviceList::DefaultRoot() {
  return test_switches::SysfsRoot().value_or("/sys");
}

std::optional<std::vector<std::string>> SysfsPresentDeviceList::FriendlyNames() {
  std::error_code error;
  // Links in the tree resolve to real paths, so the walk up from a device compares against
  // the root's real path.
  const fs::path top = fs::canonical(m_root, error);
  if (error || !fs::is_directory(top, error)) return std::nullopt;
  std::vector<std::string> names;
  AddUsbDisks(top, names);
  AddUsbDevices(top, names);
  return names;
}

bool SysfsPresentDeviceList::HasUsbDevice(std::uint16_t vendorId, std::uint16_t productId) {
  std::error_code error;
  const fs::path top = fs::canonical(m_root, error);
  if (error) return false;
  for (const fs::path& device : ListFolder(top / "bus" / "usb" / "devices")) {
    if (HexId(ReadAttribute(device / "idVendor")) == vendorId &&
        HexId(ReadAttribute(device / "idProduct")) == productId) {
      return true;
    }
  }
  return false;
}

}  // namespace platform
