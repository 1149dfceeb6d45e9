// Reads scenario files (format: SCENARIOS.md) into a Scenario, with errors that name the line.
#pragma once

#include <string>
#include <string_view>

#include "simdevice/scenario.h"

namespace simdevice {

struct ScenarioError {
  int line = 0;  // 1-based; 0 when the error is about the file as a whole
  std::string message;
};

// Parses scenario text. True with *scenario filled in, or false with *error set; *scenario
// is then unspecified.
bool ParseScenario(std::string_view text, Scenario* scenario, ScenarioError* error);

// Reads a scenario file (at most kMaxScenarioFileSize bytes) and parses it.
bool LoadScenarioFile(const std::string& path, Scenario* scenario, ScenarioError* error);

inline constexpr std::size_t kMaxScenarioFileSize = 1024 * 1024;

// The one line the library writes to stderr for a bad scenario, without the line break:
// "GPlusUSBLibEx.so: scenario <path> line <n>: <message>" (no "line <n>" for line 0).
std::string FormatScenarioError(const std::string& path, const ScenarioError& error);

}  // namespace simdevice
