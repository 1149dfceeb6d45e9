// The conformance check for a GPlusUSBLibEx.so port: loads the library the updater would load
// (or a named file), runs what the updater relies on step by step, and prints one TAP line per
// check. It needs no display. With exactly one device listed it opens it and reads its device
// information; it builds no other command than that read, so it never writes to a device.
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check_library/tap_report.h"
#include "usb/ascii_text.h"
#include "usb/library_exports.h"
#include "usb/library_loader.h"
#include "usb/vendor_call_values.h"

namespace {

// What the check passes into the library is exactly what the updater passes.
using namespace usb;
using namespace check_library;

// Names longer than this count as unterminated; list positions beyond this are not examined.
constexpr std::size_t kNameLimit = 4096;
constexpr int kPositionLimit = 64;

// The factory's name as a C++ compiler spells it without extern "C", for a precise hint.
constexpr const char* kMangledFactoryName =
    "_Z28GPAPI_CreateGPUsbDeviceAgentiPP18I_GPUsbDeviceAgent";

const char* const kUsage =
    "Usage: scribolante-fw-updater-check-library [LIBRARY]\n"
    "Checks a GPlusUSBLibEx.so against what the SCRIBOLANTE X FW Updater relies on and prints\n"
    "one TAP line per check. Without LIBRARY it checks the library the updater loads: the\n"
    "GPlusUSBLibEx.so in the updater's own folder. With exactly one device in firmware update\n"
    "mode connected it also opens the device and reads its device information; it never\n"
    "writes to a device.\n"
    "Exit status: 0 every check passed, 1 a check failed, 2 the check could not run.\n";

// The checks in their order; those after a failed step that they need are skipped.
const char* const kLoads = "the library file loads with every symbol resolved";
const char* const kExports = "it exports GPAPI_CreateGPUsbDeviceAgent with C linkage";
const char* const kFactory = "the factory answers 0 with an agent";
const char* const kEnumerate = "Enumerate with the updater's filter answers 0";
const char* const kCount = "GetCount answers the number of listed devices";
const char* const kNames = "GetDeviceInfo answers every listed position with a terminated name";
const char* const kDistinct = "the listed names are distinct";
const char* const kStable = "the names stay the same across two more rebuilds";
const char* const kOutOfRange = "positions outside the list are refused without a crash";
const char* const kOpen = "OpenDevice(0, 1) answers 0 with a device";
const char* const kInterface = "GetInterface(2) answers 0 with the HID interface";
const char* const kHidName = "the HID interface's name equals the list's";
const char* const kDeviceInfo = "the device-information read answers 0 and fills 16 bytes";
const char* const kSecondAgent = "the agent is released and a second agent lists devices";

const char* const kOrder[] = {kLoads,     kExports,  kFactory,    kEnumerate,  kCount,
                              kNames,     kDistinct, kStable,     kOutOfRange, kOpen,
                              kInterface, kHidName,  kDeviceInfo, kSecondAgent};

class LibraryCheck {
 public:
  explicit LibraryCheck(std::chrono::seconds callLimit) : m_report(callLimit) {}
  int Run(const std::string& path);

 private:
  bool Load(const std::string& path);
  bool Rebuild(I_GPUsbDeviceAgent* agent, std::string* problem);
  bool ReadNames(I_GPUsbDeviceAgent* agent, int count, std::vector<std::string>* names,
                 std::string* problem);
  void CheckAgent(I_GPUsbDeviceAgent* agent);
  void CheckDevice(I_GPUsbDeviceAgent* agent, const std::string& listedName);
  std::string ReadDeviceInformation(I_GPHidDeviceEx* hid);
  void CheckSecondAgent();
  // Skips the checks from first to last, in their order, for the reason given.
  void Skip(const char* first, const char* last, const char* reason);

  TapReport m_report;
  GPAPI_CreateGPUsbDeviceAgentFunction m_factory = nullptr;
};

// The request the updater's scan builds: mode 0, its device IDs, scan option 1.
DeviceFilter UpdaterFilter() {
  DeviceFilter filter{};
  filter.scanOption = kScanOption;
  filter.filterEnabled = 1;
  filter.vendorId = kDeviceVendorId;
  filter.productId = kDeviceProductId;
  filter.extraId = kDeviceExtraId;
  return filter;
}

bool LibraryCheck::Load(const std::string& path) {
  m_report.Begin(kLoads);
  // RTLD_NOW binds every symbol the library needs now, as the updater's loader does.
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    m_report.Fail(reason != nullptr ? reason : "dlopen failed");
    Skip(kExports, kExports, "the library cannot be loaded");
    return false;
  }
  m_report.End(true);

  m_report.Begin(kExports);
  // Bound through the updater's own loader and export table, from the same file.
  m_factory = usbLibraryLoader.GetExport<usb::exports::GPAPI_CreateGPUsbDeviceAgent>();
  const bool mangled = m_factory == nullptr && ::dlsym(handle, kMangledFactoryName) != nullptr;
  ::dlclose(handle);  // the loader holds its own reference
  if (m_factory == nullptr) {
    return m_report.Fail(mangled ? "found only under its C++ name: declare it extern \"C\""
                                 : "no such export (missing, hidden or misspelt)");
  }
  return m_report.End(true);
}

bool LibraryCheck::Rebuild(I_GPUsbDeviceAgent* agent, std::string* problem) {
  DeviceFilter filter = UpdaterFilter();
  EnumerateRequest request{0, 0, &filter};
  const int result = agent->Enumerate(&request);
  if (result != 0) *problem = Format("Enumerate answered %d", result);
  return result == 0;
}

bool LibraryCheck::ReadNames(I_GPUsbDeviceAgent* agent, int count, std::vector<std::string>* names,
                             std::string* problem) {
  names->clear();
  for (int position = 0; position < std::min(count, kPositionLimit); ++position) {
    I_DeviceInfo* info = agent->GetDeviceInfo(position);
    if (info == nullptr) {
      *problem = Format("GetDeviceInfo(%d) answered null for a listed position", position);
      return false;
    }
    const char* name = info->GetName();
    if (name == nullptr) {
      *problem = Format("GetName of position %d answered null", position);
      return false;
    }
    const std::size_t length = ::strnlen(name, kNameLimit);
    if (length == kNameLimit) {
      *problem = Format("the name at position %d has no terminator within %zu bytes", position,
                        kNameLimit);
      return false;
    }
    if (length == 0) {
      *problem = Format("the name at position %d is empty", position);
      return false;
    }
    names->emplace_back(name, length);
  }
  return true;
}

int LibraryCheck::Run(const std::string& path) {
  m_report.Comment("library: " + path);
  if (!Load(path)) {
    Skip(kFactory, kSecondAgent, "the library cannot be used");
    return m_report.Finish();
  }

  m_report.Begin(kFactory);
  I_GPUsbDeviceAgent* agent = nullptr;
  const int result = m_factory(kFactoryVersion, &agent);
  if (result != 0 || agent == nullptr) {
    m_report.Fail(result != 0 ? Format("the factory answered %d", result)
                              : std::string("the factory answered 0 but gave no agent"));
    Skip(kEnumerate, kSecondAgent, "there is no agent");
    return m_report.Finish();
  }
  m_report.End(true);
  CheckAgent(agent);
  m_report.Begin(kSecondAgent);
  agent->Release();
  CheckSecondAgent();
  return m_report.Finish();
}

void LibraryCheck::Skip(const char* first, const char* last, const char* reason) {
  bool skipping = false;
  for (const char* name : kOrder) {
    if (name == first) skipping = true;
    if (skipping) m_report.Skip(name, reason);
    if (name == last) break;
  }
}

void LibraryCheck::CheckAgent(I_GPUsbDeviceAgent* agent) {
  std::string problem;
  m_report.Begin(kEnumerate);
  if (!Rebuild(agent, &problem)) {
    m_report.Fail(problem);
    Skip(kCount, kDeviceInfo, "the list cannot be had");
    return;
  }
  m_report.End(true);

  m_report.Begin(kCount);
  const int count = agent->GetCount();
  if (count < 0) {
    m_report.Fail(Format("GetCount answered %d", count));
    Skip(kNames, kDeviceInfo, "the list cannot be counted");
    return;
  }
  m_report.Note(Format("%d device(s) listed", count));
  m_report.End(true);

  m_report.Begin(kNames);
  std::vector<std::string> names;
  if (!ReadNames(agent, count, &names, &problem)) {
    m_report.Fail(problem);
    Skip(kDistinct, kDeviceInfo, "the names cannot be had");
    return;
  }
  for (std::size_t position = 0; position < names.size(); ++position) {
    m_report.Note(Format("position %zu: %s", position, Printable(names[position].c_str()).c_str()));
  }
  if (count > kPositionLimit)
    m_report.Note(Format("positions from %d on not examined", kPositionLimit));
  m_report.End(true);

  // The updater carries open devices over a rebuild by name with ASCII letter case ignored.
  m_report.Begin(kDistinct);
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  bool distinct = true;
  for (std::size_t first = 0; first < names.size() && distinct; ++first) {
    for (std::size_t second = first + 1; second < names.size() && distinct; ++second) {
      if (usb::EqualIgnoringAsciiCase(names[first].c_str(), names[second].c_str())) {
        m_report.Note("listed twice: " + Printable(names[first].c_str()) + " and " +
                      Printable(names[second].c_str()));
        distinct = false;
      }
    }
  }
  m_report.End(distinct);

  // The updater follows an open device across a rebuild by its name; positions may change,
  // so with more devices listed than are examined, other names may come first: only the
  // count is compared then, and the examined names must still be readable.
  m_report.Begin(kStable);
  bool stable = true;
  const bool wholeList = count <= kPositionLimit;
  for (int rebuild = 1; rebuild <= 2 && stable; ++rebuild) {
    std::vector<std::string> again;
    const int countAgain = Rebuild(agent, &problem) ? agent->GetCount() : -1;
    if (countAgain < 0 || !ReadNames(agent, countAgain, &again, &problem)) {
      if (countAgain < 0 && problem.empty()) problem = Format("GetCount answered %d", countAgain);
      m_report.Note(Format("rebuild %d: ", rebuild) + problem);
      stable = false;
      break;
    }
    if (!wholeList) {
      if (countAgain != count) {
        m_report.Note(Format("first list: %d devices; rebuild %d: %d", count, rebuild, countAgain));
        stable = false;
      }
      continue;
    }
    std::sort(again.begin(), again.end());
    if (again != sorted) {
      std::string first;
      std::string now;
      for (const std::string& name : sorted) first.append(" ").append(Printable(name.c_str()));
      for (const std::string& name : again) now.append(" ").append(Printable(name.c_str()));
      m_report.Note("first list:" + (first.empty() ? std::string(" (none)") : first));
      m_report.Note(Format("rebuild %d:", rebuild) + (now.empty() ? std::string(" (none)") : now));
      stable = false;
    }
  }
  if (!wholeList)
    m_report.Note(Format("names at positions from %d on not compared", kPositionLimit));
  m_report.End(stable);

  // The first position past the list, however long, as the list stands after the rebuilds.
  m_report.Begin(kOutOfRange);
  const int listedNow = agent->GetCount();
  if (listedNow < 0) {
    m_report.Fail(Format("GetCount answered %d", listedNow));
    Skip(kOpen, kDeviceInfo, "the list cannot be counted");
    return;
  }
  bool refused = true;
  for (int position : {-1, listedNow, INT_MAX}) {
    if (agent->GetDeviceInfo(position) != nullptr) {
      m_report.Note(Format("GetDeviceInfo(%d) answered an object, not null", position));
      refused = false;
    }
  }
  for (int position : {-1, listedNow}) {
    I_UsbDevice* device = nullptr;
    const int opened = agent->OpenDevice(position, kOpenAccess, &device);
    if (opened == 0) {
      m_report.Note(Format("OpenDevice(%d, 1) answered 0", position));
      refused = false;
      if (device != nullptr) device->Release();
    }
  }
  m_report.End(refused);

  if (count != 1) {
    const char* reason = count == 0 ? "no device listed: connect one device in firmware "
                                      "update mode to run the device checks"
                                    : "more than one device listed: connect exactly one";
    Skip(kOpen, kDeviceInfo, reason);
    return;
  }
  // A fresh list for the device checks, whatever the rebuilds above left behind.
  m_report.Watch("rebuilding the list for the device checks");
  bool listed = Rebuild(agent, &problem);
  if (listed && agent->GetCount() != 1) problem = Format("GetCount answered %d", agent->GetCount());
  listed = listed && agent->GetCount() == 1 && ReadNames(agent, 1, &names, &problem);
  m_report.Unwatch();
  if (!listed) {
    problem = "the list cannot be rebuilt with the one device: " + problem;
    Skip(kOpen, kDeviceInfo, problem.c_str());
    return;
  }
  CheckDevice(agent, names[0]);
}

void LibraryCheck::CheckDevice(I_GPUsbDeviceAgent* agent, const std::string& listedName) {
  m_report.Begin(kOpen);
  I_UsbDevice* device = nullptr;
  const int opened = agent->OpenDevice(0, kOpenAccess, &device);
  if (opened != 0 || device == nullptr) {
    m_report.Fail(opened != 0 ? Format("OpenDevice answered %d", opened)
                              : std::string("OpenDevice answered 0 but gave no device"));
    Skip(kInterface, kDeviceInfo, "the device is not open");
    return;
  }
  m_report.End(true);

  m_report.Begin(kInterface);
  I_GPHidDeviceEx* hid = nullptr;
  const int taken = device->GetInterface(kHidInterfaceKind, &hid);
  // As the updater does: the USB device goes back as soon as the HID interface is held.
  device->Release();
  if (taken != 0 || hid == nullptr) {
    m_report.Fail(taken != 0 ? Format("GetInterface answered %d", taken)
                             : std::string("GetInterface answered 0 but gave no interface"));
    Skip(kHidName, kDeviceInfo, "there is no HID interface");
    return;
  }
  m_report.End(true);

  m_report.Begin(kHidName);
  I_DeviceInfo* info = hid->GetDeviceInfo();
  const char* name = info != nullptr ? info->GetName() : nullptr;
  if (name == nullptr) {
    m_report.Fail(info == nullptr ? "GetDeviceInfo answered null" : "GetName answered null");
  } else if (::strnlen(name, kNameLimit) == kNameLimit || listedName != name) {
    m_report.Fail("the list says " + Printable(listedName.c_str()) + ", the interface " +
                  (::strnlen(name, kNameLimit) == kNameLimit ? std::string("an unterminated name")
                                                             : Printable(name)));
  } else {
    m_report.End(true);
  }

  m_report.Begin(kDeviceInfo);
  const std::string problem = ReadDeviceInformation(hid);
  // Within the check's limit: a Release that never returns is this check's fault too.
  hid->Release();
  if (problem.empty()) {
    m_report.End(true);
  } else {
    m_report.Fail(problem);
  }
}

// Two device-information reads into buffers prefilled with different bytes: a byte the library
// wrote holds the device's value in both, a byte it left alone keeps its fill. Answers what is
// wrong, or nothing.
std::string LibraryCheck::ReadDeviceInformation(I_GPHidDeviceEx* hid) {
  // The only command this program ever sends, as the updater sends it.
  constexpr unsigned char kFills[2] = {0xAA, 0x55};
  constexpr int kReplySize = kDeviceInfoReplySize;
  unsigned char replies[2][kReplySize];
  for (int read = 0; read < 2; ++read) {
    std::memset(replies[read], kFills[read], kReplySize);
    const int result =
        hid->Transfer(kDeviceInfoCommand, kDirectionFromDevice, replies[read], kReplySize,
                      kTransferFifthArgument, kTransferSixthArgument, kTransferSeventhArgument);
    if (result != 0) return Format("read %d: Transfer answered %d", read + 1, result);
  }
  for (int index = 0; index < kReplySize; ++index) {
    for (int read = 0; read < 2; ++read) {
      if (replies[read][index] == kFills[read] && replies[1 - read][index] != kFills[read]) {
        return Format("read %d answered 0 but left byte %d unwritten", read + 1, index);
      }
    }
  }
  const unsigned state = replies[0][kDeviceInfoStateOffset];
  m_report.Note(Format("device state %u (%s), firmware version %u.%u", state,
                       state == 0 ? "firmware update mode" : "not in firmware update mode",
                       replies[0][kDeviceInfoVersionMajorOffset],
                       replies[0][kDeviceInfoVersionMinorOffset]));
  return {};
}

void LibraryCheck::CheckSecondAgent() {
  I_GPUsbDeviceAgent* agent = nullptr;
  const int result = m_factory(kFactoryVersion, &agent);
  if (result != 0 || agent == nullptr) {
    m_report.Fail(result != 0 ? Format("the second factory call answered %d", result)
                              : std::string("the second factory call gave no agent"));
    return;
  }
  std::string problem;
  const bool rebuilt = Rebuild(agent, &problem);
  const int count = rebuilt ? agent->GetCount() : -1;
  agent->Release();
  if (!rebuilt) {
    m_report.Fail("second agent: " + problem);
  } else if (count < 0) {
    m_report.Fail(Format("second agent: GetCount answered %d", count));
  } else {
    m_report.Note(Format("%d device(s) listed", count));
    m_report.End(true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    const bool help =
        argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
    std::fputs(kUsage, help ? stdout : stderr);
    return help ? kAllPassed : kCouldNotRun;
  }
  if (argc == 2) {
    if (std::strlen(argv[1]) >= C_USBLibraryLoader::kPathCapacity) {
      std::printf("Bail out! the library path is longer than the updater accepts (%zu bytes)\n",
                  C_USBLibraryLoader::kPathCapacity - 1);
      return kCouldNotRun;
    }
    usbLibraryLoader.SetLibraryPath(argv[1]);
  }
  const std::string path = C_USBLibraryLoader::LibraryFilePath();
  if (path.empty()) {
    std::printf("Bail out! the program's own folder cannot be found\n");
    return kCouldNotRun;
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    std::printf("Bail out! no library file at %s\n", path.c_str());
    return kCouldNotRun;
  }
  ReportCrashes();
  std::printf("TAP version 14\n");
  return LibraryCheck(CallLimit()).Run(path);
}
