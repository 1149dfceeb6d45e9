// The virtual-time driver of the update sequence and the scoped helpers of its tests.
#include "sequence_harness.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "fake_update_view.h"
#include "file_contents.h"

const char* ToString(RunEnd end) {
  switch (end) {
    case RunEnd::Closed:
      return "Closed";
    case RunEnd::UntilMet:
      return "UntilMet";
    case RunEnd::TimeLimit:
      return "TimeLimit";
    case RunEnd::Idle:
      return "Idle";
    case RunEnd::WorkerTimeout:
      return "WorkerTimeout";
    case RunEnd::TickLimit:
      return "TickLimit";
  }
  return "?";
}

namespace {

bool WaitUntilWorkerIdle(const UpdateController& controller, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (controller.BlockWriteInFlight()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace

RunEnd RunSequence(UpdateController& controller, FakeUpdateView& view, const RunOptions& options) {
  const std::uint64_t start = view.Now();
  const std::uint64_t limit =
      options.maxVirtualMs > std::numeric_limits<std::uint64_t>::max() - start
          ? std::numeric_limits<std::uint64_t>::max()
          : start + options.maxVirtualMs;
  for (int ticks = 0; ticks < options.maxTicks;) {
    if (view.CloseCount() > 0) return RunEnd::Closed;
    if (options.until && options.until()) return RunEnd::UntilMet;
    if (const auto deadline = view.Deadline()) {
      if (controller.BlockWriteInFlight()) {
        // The worker has re-armed the timer as its last act and is just leaving its step; let
        // it finish, so that a tick never overlaps a run and until() sees a settled state.
        if (!WaitUntilWorkerIdle(controller, options.workerTimeout)) return RunEnd::WorkerTimeout;
        continue;
      }
      if (*deadline > limit) return RunEnd::TimeLimit;
      // The timer is armed, so no block write is under way and the phase is ours to read.
      view.AdvanceToDeadline(UpdatePhase);
      controller.OnTimer(STEP_TIMER_ID);
      ++ticks;
      continue;
    }
    if (!controller.BlockWriteInFlight()) return RunEnd::Idle;
    const auto stop = [&] {
      return !controller.BlockWriteInFlight() || (options.until && options.until());
    };
    if (!view.WaitForArmOrClose(options.workerTimeout, stop)) {
      return RunEnd::WorkerTimeout;
    }
  }
  return RunEnd::TickLimit;
}

struct ScriptedResults::State {
  std::vector<int> results;
  std::atomic<int> calls{0};
};

ScriptedResults::ScriptedResults(std::vector<int> results) : m_state(std::make_shared<State>()) {
  if (results.empty()) throw std::invalid_argument("ScriptedResults needs a result");
  m_state->results = std::move(results);
}

std::function<int()> ScriptedResults::Step() {
  return [state = m_state] {
    const auto call = static_cast<std::size_t>(state->calls.fetch_add(1));
    return call < state->results.size() ? state->results[call] : state->results.back();
  };
}

int ScriptedResults::Calls() const {
  return m_state->calls.load();
}

ScopedWorkingFolder::ScopedWorkingFolder(const std::string& namePart)
    : m_folder(namePart), m_previous(std::filesystem::current_path()) {
  std::filesystem::current_path(m_folder.path());
}

ScopedWorkingFolder::~ScopedWorkingFolder() {
  // Out of the folder before it is removed.
  std::error_code error;
  std::filesystem::current_path(m_previous, error);
}

std::filesystem::path ScopedWorkingFolder::WriteFile(const std::string& name,
                                                     const std::vector<std::uint8_t>& bytes) {
  const auto file = m_folder.path() / name;
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  if (!stream) throw std::runtime_error("cannot write " + file.string());
  return file;
}

std::filesystem::path ScopedWorkingFolder::WriteFile(const std::string& name, std::size_t size,
                                                     std::uint8_t fill) {
  return WriteFile(name, std::vector<std::uint8_t>(size, fill));
}

std::filesystem::path ScopedWorkingFolder::MakeFolder(const std::string& name) {
  const auto folder = m_folder.path() / name;
  std::filesystem::create_directories(folder);
  return folder;
}

ScopedStateHome::ScopedStateHome()
    : m_folder("fwu-state"), m_variable("XDG_STATE_HOME", m_folder.path().string()) {}

ScopedStateHome::~ScopedStateHome() = default;

std::filesystem::path ScopedStateHome::HistoryFile() const {
  return m_folder.path() / "scribolante-fw-updater" / "history.log";
}

std::vector<std::string> ScopedStateHome::HistoryLines() const {
  return test_support::FileLines(HistoryFile());
}
