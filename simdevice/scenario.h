// The simulated world a scenario file describes: which devices each scan lists, which calls
// fail, how the device answers, and where the call trace goes. Plain values; the parser
// (scenario_parser.h) fills them and the simulated agent only reads them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simdevice {

// From Enumerate call fromScan on (1-based, per agent), the scan lists these device names.
struct ListChange {
  std::uint64_t fromScan = 1;
  std::vector<std::string> names;
};

// Injected failures of one operation, by 1-based call number, or at every call.
struct CallFailures {
  std::map<std::uint64_t, int> atCall;
  std::optional<int> always;

  // The code the call fails with, or nothing when it goes through.
  std::optional<int> CodeFor(std::uint64_t call) const;
};

// Which block a rejecting device asks for in its BlockStatus reply.
enum class RejectNaming { Same, Zero, Beyond, Number };

struct RejectRule {
  std::uint32_t block = 1;
  std::uint32_t times = 1;  // writes of that block still to be rejected
  RejectNaming naming = RejectNaming::Same;
  std::uint32_t number = 0;  // the block named when naming is Number
};

enum class ChecksumMode { Auto, Accept, Refuse };

// Everything one simulated device does on its own; each device gets a copy.
struct DeviceBehaviour {
  std::uint8_t status = 0;
  std::uint8_t versionMajor = 1;
  std::uint8_t versionMinor = 0;
  std::vector<RejectRule> rejects;
  bool rejectAll = false;
  ChecksumMode checksum = ChecksumMode::Auto;
};

inline constexpr const char* kDefaultDeviceName = "SCRIBOLANTE-X-1";
inline constexpr const char* kDefaultDevicePrefix = "SCRIBOLANTE-X-";

struct Scenario {
  // Sorted by fromScan; a later entry with the same fromScan replaced the earlier one.
  std::vector<ListChange> lists{ListChange{1, {kDefaultDeviceName}}};

  std::optional<int> factoryFailure;  // non-zero code the factory returns
  bool factoryReturnsNull = false;    // factory answers 0 but gives no agent

  CallFailures enumerateFailures;
  CallFailures openFailures;
  CallFailures interfaceFailures;
  std::map<std::uint64_t, int> transferFailures;        // exchange -> code
  std::map<std::uint64_t, std::uint64_t> shortReplies;  // exchange -> bytes written
  std::vector<std::uint64_t> unplugAt;                  // exchanges that unplug their device
  std::vector<std::uint64_t> hangAt;                    // exchanges that never return
  bool unstableNames = false;  // every Enumerate gives the listed devices new names

  DeviceBehaviour device;

  std::uint64_t rate = 0;             // bytes per second; 0: no delay
  std::uint64_t checksumDelayMs = 0;  // how long ConfirmChecksum takes to answer
  int attributeA = 0x0F37;
  int attributeB = 0x0100;

  // The USB identity of every simulated device, matched against an enabled filter.
  std::uint16_t vendorId = 0x0F37;
  std::uint16_t productId = 0x0100;
  std::uint16_t extraId = 0x0200;

  std::string tracePath;  // empty: no trace
  int traceLine = 0;      // the line that named it, for error messages

  // A trace recorded by the updater to answer every call from (replay_session.h); empty:
  // none. Relative paths are taken from the scenario file's folder.
  std::string replayPath;
  int replayLine = 0;

  // The names the given 1-based scan lists (empty before the first list change).
  const std::vector<std::string>& NamesForScan(std::uint64_t scan) const;
};

}  // namespace simdevice
