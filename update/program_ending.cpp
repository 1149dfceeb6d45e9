// The one ending of the program, in its orderly form and in the form that ends the process at
// once.
#include "update/program_ending.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "update/desktop_activity.h"
#include "update/update_history.h"
#include "update/update_outcome.h"

platform::ConnectGuardHandle g_hConnectGuard = platform::kNoConnectGuard;

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

void EndOpenAttemptAsClosed() {
  EndHistoryAttempt(kHistoryClosed);
}

int EndProgram() {
  NoteWritingStopped();
  EndOpenAttemptAsClosed();
  // A released guard is forgotten at once, so no later release can close a descriptor number
  // reused since.
  platform::ReleaseConnectGuard(g_hConnectGuard);
  g_hConnectGuard = platform::kNoConnectGuard;
  return UpdateExitStatus();
}

void EndProgramNow() noexcept {
  WriteOpenAttemptAsClosed();
  // UpdateExitStatus is one lock-free load: kExitNoUpdate unless the update was confirmed.
  ::_exit(UpdateExitStatus());
}
