// The library's factory: builds a fresh simulated world for every agent, from the scenario
// named by GPLUS_SIM_SCENARIO (read again at every call); without one, an empty bus.
#pragma once

#include <cstdio>
#include <memory>

#include "simdevice/scenario.h"
#include "simdevice/trace_writer.h"
#include "usb/vendor_interfaces.h"

namespace simdevice {

inline constexpr const char* kScenarioVariable = "GPLUS_SIM_SCENARIO";

// The line written to the error stream at every factory call that finds no scenario named.
inline constexpr const char* kNoScenarioNotice =
    "GPlusUSBLibEx.so: simulated device library; no scenario named (GPLUS_SIM_SCENARIO), so no "
    "device is listed\n";

// The factory as exported: reads the scenario (on an error writes one line to errors and
// returns kResultScenarioError), then CreateAgent. Without a scenario named (the variable unset
// or empty) it writes kNoScenarioNotice to errors and creates an agent whose scans list no
// device. Never throws.
int CreateAgentFromEnvironment(int version, I_GPUsbDeviceAgent** agent, std::FILE* errors);

// Creates an agent over a given scenario; trace may be null. Traces the factory call, then
// answers as the scenario says: 0 with a new agent, a failure code, or 0 with no agent.
int CreateAgent(int version, I_GPUsbDeviceAgent** agent, const Scenario& scenario,
                std::shared_ptr<TraceWriter> trace);

}  // namespace simdevice
