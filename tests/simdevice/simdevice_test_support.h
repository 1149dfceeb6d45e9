// Helpers shared by the simulated-library tests: temporary folders, scenario set-up, command
// blocks and trace lines.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "file_contents.h"
#include "platform/crc16.h"
#include "platform/hex_text.h"
#include "simdevice/scenario.h"
#include "simdevice/scenario_parser.h"
#include "temporary_folder.h"

namespace simdevice::testing {

// A fresh temporary folder, removed with everything in it, and files written into it.
class TemporaryFolder {
 public:
  std::string File(const std::string& name) const { return (folder_.path() / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(File(name), std::ios::binary) << text;
    return File(name);
  }

 private:
  test_support::TemporaryFolder folder_{"simdevice"};
};

using test_support::FileLines;

// The lines of a trace that begin with a given operation word.
inline std::vector<std::string> LinesOf(const std::vector<std::string>& lines,
                                        const std::string& operation) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(operation + " ", 0) == 0) found.push_back(line);
  }
  return found;
}

inline Scenario ParseOrFail(const std::string& text) {
  Scenario scenario;
  ScenarioError error;
  EXPECT_TRUE(ParseScenario(text, &scenario, &error))
      << "line " << error.line << ": " << error.message;
  return scenario;
}

// The CRC-16 of some bytes as the trace writes it: four lower-case hex digits.
inline std::string CrcText(const std::uint8_t* data, std::size_t length) {
  return platform::Hex4(platform::Crc16(data, length));
}

using CommandBytes = std::array<std::uint8_t, 16>;

inline CommandBytes Command(std::uint8_t operation) {
  CommandBytes bytes{};
  bytes[0] = 0xF6;
  bytes[1] = operation;
  bytes[14] = 'G';
  bytes[15] = 'P';
  return bytes;
}

inline CommandBytes WriteBlockCommand(std::uint32_t blockCount, std::uint32_t block,
                                      std::uint16_t crc) {
  CommandBytes bytes = Command(1);
  for (int index = 0; index < 4; ++index) {
    bytes[2 + index] = static_cast<std::uint8_t>(blockCount >> (8 * index));
    bytes[6 + index] = static_cast<std::uint8_t>(block >> (8 * index));
  }
  bytes[10] = static_cast<std::uint8_t>(crc);
  bytes[11] = static_cast<std::uint8_t>(crc >> 8);
  return bytes;
}

inline CommandBytes ConfirmChecksumCommand(std::uint16_t crc) {
  CommandBytes bytes = Command(3);
  bytes[2] = static_cast<std::uint8_t>(crc);
  bytes[3] = static_cast<std::uint8_t>(crc >> 8);
  return bytes;
}

// A 32 KiB block whose bytes depend on a seed, so blocks differ from each other.
inline std::vector<std::uint8_t> BlockData(std::uint32_t seed) {
  std::vector<std::uint8_t> data(32768);
  for (std::size_t index = 0; index < data.size(); ++index) {
    data[index] = static_cast<std::uint8_t>((index * 31 + seed * 7 + (index >> 8)) & 0xFF);
  }
  return data;
}

}  // namespace simdevice::testing
