// Definitions of the process-wide state of the update sequence.
#include "update/update_state.h"

#include <atomic>

std::uint32_t UpdatePhase = 0;
UpdateContextRecord* UpdateContext = nullptr;
std::uint32_t ConnectionPollCount = 0;

namespace {
// The one piece of shared state read outside the step hand-overs: the UI thread sets it while
// the worker may be in the middle of a run.
std::atomic<bool> closing{false};
}  // namespace

bool UpdateClosing() {
  return closing.load(std::memory_order_acquire);
}

void SetUpdateClosing(bool value) {
  closing.store(value, std::memory_order_release);
}
