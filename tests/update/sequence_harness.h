// The driver of headless update-sequence tests: runs the controller's steps on virtual time
// (see fake_update_view.h), plus scoped helpers for scripted phases, the UpdateContext and a
// temporary working folder.
//
// RunSequence(controller, view, options) plays the UI thread's message loop on the calling
// thread, which must be the view's UI thread:
//   repeat:
//     - the main window was asked to close                       -> RunEnd::Closed
//     - options.until() is true                                  -> RunEnd::UntilMet
//     - the timer is armed while the worker is still leaving its step (it re-arms as its last
//       act): wait until it has left, so a tick never overlaps a worker run
//     - the timer is armed: if its deadline lies beyond the start + options.maxVirtualMs
//       -> RunEnd::TimeLimit; else move virtual time to it, record the tick and call
//       controller.OnTimer(STEP_TIMER_ID)
//     - no timer, and a block-write run is in flight on the worker: wait (real time, up to
//       options.workerTimeout) until the worker re-arms the timer, closes the window, or
//       finishes, or until() becomes true; none of these by then -> RunEnd::WorkerTimeout
//     - no timer and no worker run: nothing will ever happen     -> RunEnd::Idle
//   after options.maxTicks ticks                                 -> RunEnd::TickLimit
// so a whole update with 180 polls and a restart runs in milliseconds. until() runs on the UI
// thread between ticks and, while the worker is busy, every few milliseconds; it may read the
// view's records and atomics at any time, but UpdatePhase and the other plain variables only
// when no block write is in flight (!controller.BlockWriteInFlight()), as the real UI thread
// would. A test failure, not a hang, follows when the worker never answers.
//
// Examples:
//   EXPECT_EQ(RunSequence(controller, view), RunEnd::Closed);
//   RunSequence(controller, view, {.until = [&] { return view.MessageBoxes().size() == 1; }});
//   RunSequence(controller, view, {.maxVirtualMs = 5000});   // the first five seconds
//   auto ticks = view.Ticks();   // e.g. 179 silent polls: ticks in phase 2, 1000 ms apart
//
// Scoped helpers (each restores what it changed when it goes out of scope):
// - ScopedPhaseSteps steps({.checkConnection = ..., .writeFirmwareBlocks = ...}): scripts
//   RunPhase's operations (see PhaseSteps in update/update_controller.h); unset members stay
//   real. ScriptedResults(...) makes a step answer a fixed list, then a last value forever.
// - ScopedUpdateContext context(view, agent): points UpdateContext at a view and a device
//   agent (may be null), for testing a phase function without a controller.
// - ScopedWorkingFolder folder("name-part"): a fresh temporary folder, whose name contains
//   the given part, made the current working directory;
//   WriteFile(name, bytes) / WriteFile(name, size, fill) / MakeFolder(name) add entries;
//   path() is its absolute path. The old working directory comes back on destruction.
// - ScopedStateHome state: XDG_STATE_HOME pointed at a fresh temporary folder, where the update
//   history goes; HistoryLines() reads the history back, one string per line.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scoped_environment.h"
#include "temporary_folder.h"
#include "update/update_controller.h"
#include "update/update_state.h"

class FakeUpdateView;

enum class RunEnd { Closed, UntilMet, TimeLimit, Idle, WorkerTimeout, TickLimit };
const char* ToString(RunEnd end);

struct RunOptions {
  std::function<bool()> until{};
  std::uint64_t maxVirtualMs = std::numeric_limits<std::uint64_t>::max();
  std::chrono::milliseconds workerTimeout{10000};
  int maxTicks = 100000;
};

RunEnd RunSequence(UpdateController& controller, FakeUpdateView& view,
                   const RunOptions& options = {});

// A step that answers results one by one, then repeats the last one; counts its calls.
struct ScriptedResults {
  explicit ScriptedResults(std::vector<int> results);
  std::function<int()> Step();
  int Calls() const;

 private:
  struct State;
  std::shared_ptr<State> m_state;
};

class ScopedPhaseSteps {
 public:
  explicit ScopedPhaseSteps(const PhaseSteps& steps) { SetPhaseStepsForTesting(steps); }
  ~ScopedPhaseSteps() { ResetPhaseStepsForTesting(); }
  ScopedPhaseSteps(const ScopedPhaseSteps&) = delete;
  ScopedPhaseSteps& operator=(const ScopedPhaseSteps&) = delete;
};

class ScopedUpdateContext {
 public:
  ScopedUpdateContext(UpdateView& view, C_GPUSBHIDStdAgentEx* agent)
      : m_record{&view, agent}, m_saved(UpdateContext) {
    UpdateContext = &m_record;
  }
  ~ScopedUpdateContext() { UpdateContext = m_saved; }
  ScopedUpdateContext(const ScopedUpdateContext&) = delete;
  ScopedUpdateContext& operator=(const ScopedUpdateContext&) = delete;

 private:
  UpdateContextRecord m_record;
  UpdateContextRecord* m_saved;
};

class ScopedWorkingFolder {
 public:
  explicit ScopedWorkingFolder(const std::string& namePart = "fwu-test");
  ~ScopedWorkingFolder();
  ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
  ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

  const std::filesystem::path& path() const { return m_folder.path(); }
  std::filesystem::path WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes);
  std::filesystem::path WriteFile(const std::string& name, std::size_t size, std::uint8_t fill);
  std::filesystem::path MakeFolder(const std::string& name);

 private:
  test_support::TemporaryFolder m_folder;
  std::filesystem::path m_previous;
};

class ScopedStateHome {
 public:
  ScopedStateHome();
  ~ScopedStateHome();
  ScopedStateHome(const ScopedStateHome&) = delete;
  ScopedStateHome& operator=(const ScopedStateHome&) = delete;

  const std::filesystem::path& path() const { return m_folder.path(); }
  std::filesystem::path HistoryFile() const;
  std::vector<std::string> HistoryLines() const;

 private:
  test_support::TemporaryFolder m_folder;
  test_support::ScopedEnvironment m_variable;
};
