// How closely the sequence keeps its waits in the real Qt event loop (offscreen): the 100 ms
// before the first step, the 1000 ms between connection polls, and the 1 ms hand-offs between
// phases and between worker runs. Uses the real form view and controller with scripted phase
// steps, so only the timing machinery is measured. Prints one line per wait:
//   <name> samples=<n> median_error_ms=<x> worst_error_ms=<y>
// Usage: timing_fidelity [first-step repeats] [polls] [worker hand-offs]
#include <stdlib.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "update/update_controller.h"
#include "update/update_state.h"
#include "update/view/fw_updater_view.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

struct Errors {
  std::vector<double> values;  // measured wait less the wait asked for, in ms

  void Add(double measured, double wanted) { values.push_back(measured - wanted); }

  void Print(const char* name) {
    if (values.empty()) {
      std::printf("%s samples=0\n", name);
      return;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double worst = 0;
    for (double value : sorted) worst = std::max(worst, std::abs(value));
    std::printf("%s samples=%zu median_error_ms=%.3f worst_error_ms=%.3f\n", name, sorted.size(),
                median, worst);
    std::fflush(stdout);
  }
};

// Runs one sequence in a fresh view until a step ends it (or a generous guard runs out).
void RunSequence(const PhaseSteps& steps, QEventLoop& loop, Clock::time_point* created) {
  SetPhaseStepsForTesting(steps);
  {
    CFWUpdaterView view;
    view.show();
    if (created) *created = Clock::now();
    if (view.OnCreate()) {
      QTimer::singleShot(std::chrono::minutes(3), &loop, &QEventLoop::quit);
      loop.exec();
    }
    view.BeginClose();
  }
  ResetPhaseStepsForTesting();
}

int Quit(QEventLoop& loop, int result) {
  QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  return result;
}

// The window is created, 100 ms later phase 0 runs; the step ends the sequence at once.
void MeasureFirstStep(int repeats, Errors& errors) {
  for (int repeat = 0; repeat < repeats; ++repeat) {
    QEventLoop loop;
    Clock::time_point created;
    PhaseSteps steps;
    steps.loadFirmwareImage = [&] {
      errors.Add(Milliseconds(Clock::now() - created), kFirstStepDelayMs);
      return Quit(loop, kPhaseEnd);
    };
    RunSequence(steps, loop, &created);
  }
}

// Phases 0 and 1 advance, then phase 2 polls with no device: each poll re-arms at 1000 ms
// from its own end. Also collects the two phase hand-offs before the first poll.
void MeasurePolls(int polls, Errors& pollErrors, Errors& phaseErrors) {
  QEventLoop loop;
  Clock::time_point stepEnd;
  int done = 0;
  PhaseSteps steps;
  steps.loadFirmwareImage = [&] {
    stepEnd = Clock::now();
    return kPhaseAdvance;
  };
  steps.selectDevice = [&] {
    phaseErrors.Add(Milliseconds(Clock::now() - stepEnd), kNextStepDelayMs);
    stepEnd = Clock::now();
    return kPhaseAdvance;
  };
  steps.checkConnection = [&] {
    const auto now = Clock::now();
    if (done == 0) {
      phaseErrors.Add(Milliseconds(now - stepEnd), kNextStepDelayMs);
    } else {
      pollErrors.Add(Milliseconds(now - stepEnd), kPollIntervalMs);
    }
    if (++done > polls) return Quit(loop, kPhaseEnd);
    stepEnd = Clock::now();
    return kPhaseWait;
  };
  RunSequence(steps, loop, nullptr);
}

// Phases 0 to 3 advance at once, then the worker yields handOffs times before it answers 0;
// phase 5 ends the sequence. Every gap between two steps is a 1 ms hand-off.
void MeasureHandOffs(int handOffs, Errors& runErrors, Errors& phaseErrors) {
  QEventLoop loop;
  Clock::time_point stepEnd;
  int runs = 0;
  auto phase = [&](int result) {
    if (stepEnd != Clock::time_point{}) {
      phaseErrors.Add(Milliseconds(Clock::now() - stepEnd), kNextStepDelayMs);
    }
    stepEnd = Clock::now();
    return result;
  };
  PhaseSteps steps;
  steps.loadFirmwareImage = [&] { return phase(kPhaseAdvance); };
  steps.selectDevice = [&] { return phase(kPhaseAdvance); };
  steps.checkConnection = [&] { return phase(kPhaseAdvance); };
  steps.queryDeviceInfo = [&] { return phase(kPhaseAdvance); };
  // On the worker: the end of one run and the start of the next are ordered by the
  // controller's hand-over, so the plain clock values are safe to share.
  steps.writeFirmwareBlocks = [&] {
    const auto now = Clock::now();
    if (runs == 0) {
      phaseErrors.Add(Milliseconds(now - stepEnd), kNextStepDelayMs);
    } else {
      runErrors.Add(Milliseconds(now - stepEnd), kNextStepDelayMs);
    }
    stepEnd = Clock::now();
    return ++runs > handOffs ? kPhaseAdvance : kPhaseWait;
  };
  steps.confirmImageChecksum = [&] {
    phaseErrors.Add(Milliseconds(Clock::now() - stepEnd), kNextStepDelayMs);
    return Quit(loop, kPhaseEnd);
  };
  RunSequence(steps, loop, nullptr);
}

int Argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::max(1, std::atoi(argv[index])) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  const int firstStepRepeats = Argument(argc, argv, 1, 30);
  const int polls = Argument(argc, argv, 2, 15);
  const int handOffs = Argument(argc, argv, 3, 500);

  Errors firstStep, pollSpacing, phaseHandOffs, runHandOffs;
  MeasureFirstStep(firstStepRepeats, firstStep);
  MeasureHandOffs(handOffs, runHandOffs, phaseHandOffs);
  MeasurePolls(polls, pollSpacing, phaseHandOffs);

  firstStep.Print("first_step_100ms");
  pollSpacing.Print("poll_spacing_1000ms");
  phaseHandOffs.Print("phase_handoff_1ms");
  runHandOffs.Print("worker_handoff_1ms");
  return 0;
}
