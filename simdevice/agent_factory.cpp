// Scenario loading, the factory's trace line and the failures a scenario injects into it.
#include "simdevice/agent_factory.h"

#include <cstdlib>
#include <string>

#include "simdevice/replay_session.h"
#include "simdevice/result_codes.h"
#include "simdevice/scenario_parser.h"
#include "simdevice/simulated_objects.h"
#include "simdevice/simulated_world.h"

namespace simdevice {
namespace {

// Writes the one line about a scenario that cannot be played, and answers the factory's result
// for it.
int ReportScenarioError(std::FILE* errors, const std::string& path, const ScenarioError& error) {
  std::fputs((FormatScenarioError(path, error) + "\n").c_str(), errors);
  std::fflush(errors);
  return kResultScenarioError;
}

}  // namespace

int CreateAgent(int version, I_GPUsbDeviceAgent** agent, const Scenario& scenario,
                std::shared_ptr<TraceWriter> trace) {
  if (agent) *agent = nullptr;
  int result = kResultOk;
  if (version != 1 || !agent) {
    result = kResultInvalidArgument;
  } else if (scenario.factoryFailure) {
    result = *scenario.factoryFailure;
  }
  if (trace) {
    trace->WriteLine("factory version=" + std::to_string(version) +
                     " result=" + std::to_string(result));
  }
  if (result != kResultOk || scenario.factoryReturnsNull) return result;
  *agent = new SimulatedAgent(std::make_shared<SimulatedWorld>(scenario, std::move(trace)));
  return kResultOk;
}

int CreateAgentFromEnvironment(int version, I_GPUsbDeviceAgent** agent, std::FILE* errors) {
  try {
    if (agent) *agent = nullptr;
    Scenario scenario;
    const char* path = std::getenv(kScenarioVariable);
    if (path == nullptr || *path == '\0') {
      // Nobody asked for a device: the agent works and its bus stays empty, so a program that
      // finds this library where the maker's should be never updates a device that is not there.
      std::fputs(kNoScenarioNotice, errors);
      std::fflush(errors);
      scenario.lists = {ListChange{1, {}}};
    } else {
      ScenarioError error;
      if (!LoadScenarioFile(path, &scenario, &error)) {
        return ReportScenarioError(errors, path, error);
      }
    }
    if (!scenario.replayPath.empty()) {
      std::string message;
      const std::shared_ptr<ReplaySession> session =
          ReplaySessionFor(scenario.replayPath, errors, &message);
      if (!session) {
        return ReportScenarioError(errors, path, ScenarioError{scenario.replayLine, message});
      }
      return CreateReplayAgent(session, version, agent);
    }
    std::shared_ptr<TraceWriter> trace;
    if (!scenario.tracePath.empty()) {
      std::string message;
      trace = TraceWriter::Open(scenario.tracePath, &message);
      if (!trace) {
        return ReportScenarioError(errors, path, ScenarioError{scenario.traceLine, message});
      }
    }
    return CreateAgent(version, agent, scenario, std::move(trace));
  } catch (...) {
    return kResultInternalError;
  }
}

}  // namespace simdevice
