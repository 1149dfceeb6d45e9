// The connection guard: a system-wide named lock that keeps two programs from talking to the
// device at the same time. The kernel drops it when the holding process ends, however it ends.
#pragma once

#include <string>

namespace platform {

// The name every copy of the updater takes.
inline constexpr const char* kConnectGuardName = "SCX_Connect_Multiplex_Prevention";

// A guard handle is a file descriptor (an abstract-namespace UNIX socket bound to the name);
// kNoConnectGuard means none is held.
using ConnectGuardHandle = int;
inline constexpr ConnectGuardHandle kNoConnectGuard = -1;

enum class ConnectGuardStatus {
  kAcquired,       // this process now holds the name
  kHeldElsewhere,  // a live process holds the name
  kUnavailable,    // the guard could not be created for another reason; run unguarded
};

struct ConnectGuardResult {
  ConnectGuardStatus status;
  // Valid only with kAcquired; owned by the caller, who gives it back with
  // ReleaseConnectGuard (or lets process exit drop it).
  ConnectGuardHandle handle;
  int error;  // errno of the failed step; 0 with kAcquired
};

// Tries to take the named guard. Any thread may call it. The descriptor is close-on-exec, so a
// program started by this one (a browser showing the support page) never keeps the name alive.
ConnectGuardResult CreateConnectGuard(const std::string& name);

// Drops the guard at once; kNoConnectGuard is accepted and does nothing. Returns whether a
// guard was released.
bool ReleaseConnectGuard(ConnectGuardHandle handle);

// Whether some live process, this one included, holds the name. Reads the kernel's list of
// UNIX sockets without touching the name; where that list cannot be read, probes by taking
// the name and dropping it again. False for a name that cannot be a guard at all.
bool IsConnectGuardHeld(const std::string& name);

// The name this process uses: kConnectGuardName, or, in a build with the test switches, the
// environment variable FWU_CONNECT_GUARD_NAME when it is set and not empty. The override lets
// tests run copies side by side with a user's own copy without disturbing it.
std::string ConnectGuardNameFromEnvironment();

}  // namespace platform
