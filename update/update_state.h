// The process-wide state of the update sequence. Plain variables without a lock: the step
// timer is stopped from the start of every step until the phase, or in phase 4 the worker,
// re-arms it, so at most one thread runs a step at a time, and each hand-over (the post of a
// block-write request, the re-arm of the timer) orders the two threads' accesses.
#pragma once

#include <cstdint>

class UpdateView;
class C_GPUSBHIDStdAgentEx;

struct UpdateContextRecord {
  UpdateView* view;                   // owner of every message box and of the controls
  C_GPUSBHIDStdAgentEx* deviceAgent;  // every device operation goes through it
};

// The current phase, 0..6.
extern std::uint32_t UpdatePhase;
// Created when the view's window is created; lasts as long as the controller that made it.
extern UpdateContextRecord* UpdateContext;
// Phase-2 polls that found no device.
extern std::uint32_t ConnectionPollCount;

// Phase result codes.
inline constexpr int kPhaseAdvance = 0;
inline constexpr int kPhaseWait = 1;
inline constexpr int kPhaseRestart = -1;
inline constexpr int kPhaseEnd = 2;

// True from the moment the view has begun closing (UpdateController::Shutdown) until the
// controller is destroyed or OnCreate runs again. Atomic, callable from any thread: a block-write
// run checks it between blocks and returns early, and the worker then makes no move after its run.
bool UpdateClosing();
// Set by the controller only; tests may use it to simulate a closing view.
void SetUpdateClosing(bool closing);
