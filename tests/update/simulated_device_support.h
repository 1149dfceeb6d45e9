// Support for the update tests that run against the simulated vendor library: a scenario file
// named through GPLUS_SIM_SCENARIO with its transfer trace read back, and fakes of the
// present-device list and the URL opener for the connection checks, and the context for
// running one phase function against the simulated device.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/present_devices.h"
#include "platform/url_opener.h"
#include "sequence_harness.h"
#include "temporary_folder.h"
#include "usb/hid_std_agent.h"

// One "transfer" line of the simulated library's trace.
struct TraceTransfer {
  std::string device;
  std::array<std::uint8_t, 16> command{};
  int direction = -1;
  int length = 0;
  std::uint16_t crc = 0;  // of the data phase's bytes
  int result = 0;

  std::uint16_t Op() const { return static_cast<std::uint16_t>(command[0] << 8 | command[1]); }
  // Little-endian 32-bit parameter at a command offset (2: block count, 6: block number).
  std::uint32_t Parameter32(int offset) const;
  std::uint16_t Parameter16(int offset) const;
};

// Writes the scenario text (plus a trace line) to a file in a fresh temporary folder and
// points GPLUS_SIM_SCENARIO at it; the simulated library reads it at its next factory call,
// that is when the next device agent is made. Restores the variable on destruction.
class ScopedScenario {
 public:
  explicit ScopedScenario(const std::string& text);
  ~ScopedScenario();
  ScopedScenario(const ScopedScenario&) = delete;
  ScopedScenario& operator=(const ScopedScenario&) = delete;

  // The transfers traced so far, in order.
  std::vector<TraceTransfer> Transfers() const;
  // Every trace line, for failure messages.
  std::string TraceText() const;

 private:
  test_support::TemporaryFolder m_folder;
  std::filesystem::path m_tracePath;
  std::optional<std::string> m_savedScenario;
};

// One phase function at a time against the simulated device, for as long as it lives: the
// scenario, then a device agent (made after it, so the simulated library plays that scenario)
// and the UpdateContext pointing at the view and that agent.
struct SimulatedPhaseContext {
  SimulatedPhaseContext(UpdateView& view, const std::string& scenarioText)
      : scenario(scenarioText), context(view, &agent) {}

  ScopedScenario scenario;
  C_GPUSBHIDStdAgentEx agent;
  ScopedUpdateContext context;
};

// The block numbers of the WriteBlock transfers, in order.
std::vector<std::uint32_t> WrittenBlocks(const std::vector<TraceTransfer>& transfers);
// The block numbers first to last, in order.
std::vector<std::uint32_t> BlockRange(std::uint32_t first, std::uint32_t last);

class ScriptedDeviceList : public platform::PresentDeviceList {
 public:
  explicit ScriptedDeviceList(std::optional<std::vector<std::string>> names = {})
      : m_names(std::move(names)) {}
  std::optional<std::vector<std::string>> FriendlyNames() override {
    ++m_calls;
    return m_names;
  }
  // The scripted list holds names only: no device shows up by its USB IDs.
  bool HasUsbDevice(std::uint16_t, std::uint16_t) override { return false; }
  int Calls() const { return m_calls; }

 private:
  std::optional<std::vector<std::string>> m_names;
  int m_calls = 0;
};

class RecordingUrlOpener : public platform::UrlOpener {
 public:
  void Open(const std::string& address) override { m_opened.push_back(address); }
  const std::vector<std::string>& Opened() const { return m_opened; }

 private:
  std::vector<std::string> m_opened;
};

// Installs a device list and an opener for the connection checks; uninstalls both after.
class ScopedConnectionServices {
 public:
  ScopedConnectionServices(platform::PresentDeviceList& list, platform::UrlOpener& opener);
  ~ScopedConnectionServices();
  ScopedConnectionServices(const ScopedConnectionServices&) = delete;
  ScopedConnectionServices& operator=(const ScopedConnectionServices&) = delete;
};
