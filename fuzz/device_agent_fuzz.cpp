// Fuzzes the HID device agent and its facade: scans, counts, opens, transfers, closes and
// rescans, chosen by the input, over vendor lists of any claimed count and any names.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_vendor_library.h"
#include "fuzz_support.h"
#include "usb/ascii_text.h"
#include "usb/hid_device_agent.h"
#include "usb/hid_std_agent.h"

namespace {

using fuzz::FuzzInput;
using usb_test::FakeHidDevice;
using usb_test::FakeVendorAgent;
using usb_test::ListedName;

constexpr int kMaxOperations = 96;
constexpr std::size_t kMaxListedNames = 24;
// A name the list does not hold makes the by-name lookup walk the whole claimed count. The
// program only ever looks up names taken from the list, so such lookups are tried only while
// the claimed count is modest.
constexpr int kCountForUnlistedLookups = 1 << 16;

std::string FlipAsciiCase(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return name;
}

// A name as a vendor library might report it: empty, a copy of an earlier one (exactly or in
// other letter case), arbitrary bytes (not UTF-8, cut at a NUL by the C string), long, or none.
ListedName NextName(FuzzInput& input, const std::vector<ListedName>& earlier) {
  const std::uint8_t kind = input.Byte();
  const ListedName* previous = earlier.empty() ? nullptr : &earlier[input.Byte() % earlier.size()];
  switch (kind % 8) {
    case 0:
      return std::string();
    case 1:
      if (previous && *previous) return FlipAsciiCase(**previous);
      return std::string("Scribolante X");
    case 2:
      if (previous) return *previous;
      return std::string("SCRIBOLANTE X");
    case 3:
      return std::string(300 + input.Byte(), static_cast<char>('A' + kind % 26));
    case 4:
      return std::nullopt;
    default:
      return input.Text(40);
  }
}

// The count a list claims: its own length, close to it, or anything at all.
int ClaimedCount(FuzzInput& input, std::size_t listed) {
  const int length = static_cast<int>(listed);
  switch (input.Byte() % 6) {
    case 0:
    case 1:
      return length;
    case 2:
      return length + static_cast<int>(input.Byte() % 7) - 3;
    case 3:
      return -static_cast<int>(input.Byte()) - 1;
    case 4:
      return input.Flag() ? INT_MAX : INT_MIN;
    default:
      return input.Int32();
  }
}

void ChooseNextList(FuzzInput& input, FakeVendorAgent& vendor) {
  std::vector<ListedName> names;
  const std::size_t count = input.Byte() % (kMaxListedNames + 1);
  for (std::size_t index = 0; index < count; ++index) names.push_back(NextName(input, names));
  vendor.SetNextList(std::move(names), ClaimedCount(input, count));
}

// Mostly positions near the table, sometimes any int.
int Position(FuzzInput& input) {
  const std::uint8_t choice = input.Byte();
  if (choice < 0xF0) return static_cast<int>(choice % 20) - 2;
  return input.Int32();
}

// The agent's table must hold only live objects from the vendor, each once, each at a position
// the vendor lists under its name (letter case aside, as a rescan carries it), and nothing
// may be open that the table does not hold.
void CheckTable(const C_HIDDeviceAgentEx& agent, const FakeVendorAgent& vendor) {
  std::set<const I_GPHidDeviceEx*> held;
  const int claimed = const_cast<FakeVendorAgent&>(vendor).GetCount();
  for (int position = 0; position < C_HIDDeviceAgentEx::kDeviceSlots; ++position) {
    I_GPHidDeviceEx* device = agent.devices[position];
    if (device == nullptr) continue;
    FUZZ_CHECK(vendor.IsHandedOut(device), "the table holds an object the vendor never gave");
    auto* fuzzDevice = static_cast<FakeHidDevice*>(device);
    FUZZ_CHECK(fuzzDevice->releaseCount == 0, "the table holds a released device");
    FUZZ_CHECK(held.insert(device).second, "one device held at two positions");
    FUZZ_CHECK(position < claimed, "a device held beyond the listed count");
    const char* listed = vendor.NameAt(position);
    const std::string name = fuzzDevice->name();
    FUZZ_CHECK(usb::EqualIgnoringAsciiCase(listed, name.c_str()),
               "device \"" + name + "\" held at position " + std::to_string(position) +
                   " where the list has another name");
  }
  FUZZ_CHECK(vendor.OpenHidDevices().size() == held.size(), "an open device the table lost");
  FUZZ_CHECK(vendor.OpenUsbCount() == 0, "a USB device object was kept");
  FUZZ_CHECK(agent.currentIndex >= -1 && agent.currentIndex < C_HIDDeviceAgentEx::kDeviceSlots,
             "current position " + std::to_string(agent.currentIndex));
}

// A name to look up: one from the list, one in other letter case, or any bytes; none when
// only listed names may be looked up and the chosen position has none.
std::optional<std::string> LookupName(FuzzInput& input, FakeVendorAgent& vendor,
                                      bool allowUnlisted) {
  const std::uint8_t choice = input.Byte();
  const char* listed = vendor.NameAt(choice % 16);
  if (!allowUnlisted || choice < 0x80) {
    if (listed == nullptr) return std::nullopt;
    return std::string(listed);
  }
  switch (choice >> 6) {
    case 2:
      return FlipAsciiCase(listed ? listed : "scribolante x");
    default:
      return input.Text(40);
  }
}

void RunOperation(FuzzInput& input, C_GPUSBHIDStdAgentEx& facade, C_HIDDeviceAgentEx& agent,
                  FakeVendorAgent& vendor) {
  const int claimed = vendor.GetCount();
  const bool unlistedLookups = claimed <= kCountForUnlistedLookups;
  switch (input.Byte() % 12) {
    case 0:
      ChooseNextList(input, vendor);
      break;
    case 1: {
      vendor.enumerateResult = input.Byte() % 4 == 0 ? 1 + input.Byte() : 0;
      const int mode = input.Byte() % 3;
      const int expected = vendor.enumerateResult == 0 ? 1 : 0;
      FUZZ_CHECK(facade.Scan(mode) == expected, "Scan misreported the listing");
      if (expected == 0) FUZZ_CHECK(vendor.OpenHidDevices().empty(), "open after a failed scan");
      break;
    }
    case 2:
      FUZZ_CHECK(facade.GetDeviceCount() == vendor.GetCount(),
                 "the device count is not the vendor's");
      break;
    case 3: {
      const int position = Position(input);
      const int result = facade.Connect(position);
      if (position < 0 || position >= claimed) {
        FUZZ_CHECK(result == 0, "connected outside the list");
      }
      if (result == 1) {
        const int opened = agent.currentIndex;
        FUZZ_CHECK(opened >= 0 && opened <= position, "Connect opened past its position");
        FUZZ_CHECK(std::strcmp(vendor.NameAt(opened), vendor.NameAt(position)) == 0,
                   "Connect opened a device of another name");
      }
      break;
    }
    case 4: {
      const int position = Position(input);
      const int direction = input.Byte() & 1;
      const int length = input.Byte() % 65;
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length));
      const std::uint8_t command[16] = {0xF6, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'};
      const std::size_t transfersBefore = vendor.transfers.size();
      const int result = facade.SendCommand(position, command, direction, buffer.data(), length);
      if (vendor.transfers.size() == transfersBefore) {
        FUZZ_CHECK(result == C_HIDDeviceAgentEx::kNoDeviceOpen, "no transfer, yet not 17");
      } else {
        // The device found by that name; a rescan may have carried it over from a listing of
        // the name in other letter case.
        const char* listed = vendor.NameAt(position);
        const std::string& reached = vendor.transfers.back().device;
        FUZZ_CHECK(usb::EqualIgnoringAsciiCase(listed, reached.c_str()),
                   "the command reached a device of another name");
        FUZZ_CHECK(result == 0, "the vendor's transfer result was not passed on");
      }
      break;
    }
    case 5: {
      const std::optional<std::string> name = LookupName(input, vendor, unlistedLookups);
      if (name) agent.CloseByName(name->c_str());
      break;
    }
    case 6:
      agent.CloseAll();
      FUZZ_CHECK(vendor.OpenHidDevices().empty(), "CloseAll left a device open");
      break;
    case 7: {
      const int position = Position(input);
      if (agent.OpenAt(position) == 1) {
        FUZZ_CHECK(agent.currentIndex == position && agent.devices[position] != nullptr,
                   "OpenAt reported success without the device");
      }
      break;
    }
    case 8:
      vendor.enumerateResult = 0;
      FUZZ_CHECK(agent.Rescan() == 1, "a rescan of a working list failed");
      break;
    case 9:
      vendor.openResult = input.Byte() % 5 == 0 ? 3 : 0;
      vendor.openYieldsNull = input.Byte() % 7 == 0;
      vendor.interfaceResult = input.Byte() % 6 == 0 ? 4 : 0;
      break;
    case 10: {
      int value = -7;
      const int position = Position(input);
      const int result = input.Flag() ? agent.GetAttributeAAt(position, &value)
                                      : agent.GetAttributeBAt(position, &value);
      FUZZ_CHECK(result == 17 ? value == -7 : (result == 0 && (value == 0x41 || value == 0x42)),
                 "an attribute query answered " + std::to_string(result));
      break;
    }
    default: {
      const int position = Position(input);
      const char* name = facade.GetDeviceName(position);
      if (position < 0 || position >= claimed) {
        FUZZ_CHECK(name == nullptr, "a name outside the list");
      } else {
        const char* listed = vendor.NameAt(position);
        FUZZ_CHECK(name == listed || (name && listed && std::strcmp(name, listed) == 0),
                   "GetDeviceName is not the listed name");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  FakeVendorAgent vendor;
  ChooseNextList(input, vendor);
  {
    C_GPUSBHIDStdAgentEx facade;
    C_HIDDeviceAgentEx& agent = *C_GPUSBHIDStdAgentEx::hidAgent;
    agent.agent = &vendor;
    for (int operation = 0; operation < kMaxOperations && !input.empty(); ++operation) {
      RunOperation(input, facade, agent, vendor);
      CheckTable(agent, vendor);
    }
  }
  FUZZ_CHECK(C_GPUSBHIDStdAgentEx::hidAgent == nullptr, "the agent outlived its facade");
  const std::string unreleased = vendor.Unreleased();
  FUZZ_CHECK(unreleased.empty(), unreleased);
  return 0;
}
