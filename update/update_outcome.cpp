// The update's outcome, kept in one lock-free flag so that any thread, and a path that ends
// the process at once, can read it.
#include "update/update_outcome.h"

#include <atomic>

namespace {
std::atomic<bool> completed{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

void NoteUpdateCompleted() {
  completed.store(true, std::memory_order_release);
}

bool UpdateCompleted() {
  return completed.load(std::memory_order_acquire);
}

void ResetUpdateOutcome() {
  completed.store(false, std::memory_order_release);
}

int UpdateExitStatus() {
  return UpdateCompleted() ? kExitUpdateCompleted : kExitNoUpdate;
}
