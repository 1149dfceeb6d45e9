// Scenario files, trace parsing and the small service fakes of the update tests.
#include "simulated_device_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "update/connection_checks.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kScenarioVariable = "GPLUS_SIM_SCENARIO";

std::uint8_t HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return static_cast<std::uint8_t>(digit - '0');
  if (digit >= 'a' && digit <= 'f') return static_cast<std::uint8_t>(digit - 'a' + 10);
  if (digit >= 'A' && digit <= 'F') return static_cast<std::uint8_t>(digit - 'A' + 10);
  ADD_FAILURE() << "not a hex digit: " << digit;
  return 0;
}

TraceTransfer ParseTransfer(const std::string& line) {
  TraceTransfer transfer;
  std::istringstream words(line);
  std::string word;
  words >> word;  // "transfer"
  while (words >> word) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (key == "device") {
      transfer.device = value;
    } else if (key == "command") {
      EXPECT_EQ(value.size(), 32u) << line;
      for (std::size_t index = 0; index < 16 && 2 * index + 1 < value.size(); ++index) {
        transfer.command[index] = static_cast<std::uint8_t>(HexValue(value[2 * index]) << 4 |
                                                            HexValue(value[2 * index + 1]));
      }
    } else if (key == "direction") {
      transfer.direction = std::stoi(value);
    } else if (key == "length") {
      transfer.length = std::stoi(value);
    } else if (key == "crc") {
      transfer.crc = static_cast<std::uint16_t>(std::stoul(value, nullptr, 16));
    } else if (key == "result") {
      transfer.result = std::stoi(value);
    }
  }
  return transfer;
}

}  // namespace

std::uint32_t TraceTransfer::Parameter32(int offset) const {
  return static_cast<std::uint32_t>(command[offset]) |
         static_cast<std::uint32_t>(command[offset + 1]) << 8 |
         static_cast<std::uint32_t>(command[offset + 2]) << 16 |
         static_cast<std::uint32_t>(command[offset + 3]) << 24;
}

std::uint16_t TraceTransfer::Parameter16(int offset) const {
  return static_cast<std::uint16_t>(command[offset] | command[offset + 1] << 8);
}

ScopedScenario::ScopedScenario(const std::string& text)
    : m_folder("fwu-scenario"), m_tracePath(m_folder.path() / "trace.txt") {
  const fs::path scenarioPath = m_folder.path() / "scenario.txt";
  std::ofstream(scenarioPath) << text << "\ntrace " << m_tracePath.string() << "\n";
  if (const char* saved = std::getenv(kScenarioVariable)) m_savedScenario = saved;
  ::setenv(kScenarioVariable, scenarioPath.c_str(), 1);
}

ScopedScenario::~ScopedScenario() {
  if (m_savedScenario) {
    ::setenv(kScenarioVariable, m_savedScenario->c_str(), 1);
  } else {
    ::unsetenv(kScenarioVariable);
  }
}

std::string ScopedScenario::TraceText() const {
  std::ifstream stream(m_tracePath);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

std::vector<TraceTransfer> ScopedScenario::Transfers() const {
  std::vector<TraceTransfer> transfers;
  std::ifstream stream(m_tracePath);
  std::string line;
  while (std::getline(stream, line)) {
    if (line.rfind("transfer ", 0) == 0) transfers.push_back(ParseTransfer(line));
  }
  return transfers;
}

std::vector<std::uint32_t> WrittenBlocks(const std::vector<TraceTransfer>& transfers) {
  std::vector<std::uint32_t> blocks;
  for (const TraceTransfer& transfer : transfers) {
    if (transfer.Op() == 0xF601) blocks.push_back(transfer.Parameter32(6));
  }
  return blocks;
}

std::vector<std::uint32_t> BlockRange(std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint32_t> blocks;
  for (std::uint32_t block = first; block <= last; ++block) blocks.push_back(block);
  return blocks;
}

ScopedConnectionServices::ScopedConnectionServices(platform::PresentDeviceList& list,
                                                   platform::UrlOpener& opener) {
  SetPresentDeviceList(&list);
  SetUrlOpener(&opener);
}

ScopedConnectionServices::~ScopedConnectionServices() {
  SetPresentDeviceList(nullptr);
  SetUrlOpener(nullptr);
}
