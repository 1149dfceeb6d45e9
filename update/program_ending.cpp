// The one ending of the program, in its orderly form and in the form that ends the process at
// once, with the guard it releases and the outcome it reports.
#include "update/program_ending.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "update/desktop_activity.h"

platform::ConnectGuardHandle g_hConnectGuard = platform::kNoConnectGuard;

namespace {
// Set once the device has confirmed the whole image; one lock-free flag, so that any thread,
// and a path that ends the process at once, can read it.
std::atomic<bool> updateCompleted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

platform::ConnectGuardStatus TakeConnectGuard(const std::string& guardName) {
  const platform::ConnectGuardResult guard = platform::CreateConnectGuard(guardName);
  g_hConnectGuard = guard.handle;
  if (guard.status == platform::ConnectGuardStatus::kUnavailable) {
    // No box: the program runs unguarded, and its end has nothing to release.
    std::fprintf(stderr, "FWUpdater: connection guard unavailable (%s); running unguarded\n",
                 std::strerror(guard.error));
  }
  return guard.status;
}

int EndStartRefusedByGuard() {
  return kExitAnotherCopy;
}

void NoteAttemptOutcome(std::string_view outcome) {
  // A failure's message is a sentence of its own, never the word for completion.
  if (outcome == kHistoryCompleted) updateCompleted.store(true, std::memory_order_release);
  EndHistoryAttempt(outcome);
}

bool UpdateCompleted() {
  return updateCompleted.load(std::memory_order_acquire);
}

void ResetUpdateOutcome() {
  updateCompleted.store(false, std::memory_order_release);
}

int UpdateExitStatus() {
  return UpdateCompleted() ? kExitUpdateCompleted : kExitNoUpdate;
}

int EndProgram() {
  NoteWritingStopped();
  NoteAttemptOutcome(kHistoryClosed);
  // A released guard is forgotten at once, so no later release can close a descriptor number
  // reused since.
  platform::ReleaseConnectGuard(g_hConnectGuard);
  g_hConnectGuard = platform::kNoConnectGuard;
  return UpdateExitStatus();
}

void EndProgramNow() noexcept {
  EndHistoryAttemptNow();
  // UpdateExitStatus is one lock-free load.
  ::_exit(UpdateExitStatus());
}
