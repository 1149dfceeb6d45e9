// The connection guard over an abstract-namespace UNIX socket: binding the name reserves it
// system-wide (per network namespace) until the socket is closed, which the kernel also does
// when the process dies, so a crashed or killed copy never leaves a stale lock behind.
#include "platform/connect_guard.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fstream>

#include "platform/test_switches.h"

namespace platform {

ConnectGuardResult CreateConnectGuard(const std::string& name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // The abstract namespace: a leading zero byte, then the name without a terminator.
  if (name.empty() || name.size() + 1 > sizeof(address.sun_path)) {
    return {ConnectGuardStatus::kUnavailable, kNoConnectGuard, ENAMETOOLONG};
  }
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

  const int socketDescriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socketDescriptor < 0) {
    return {ConnectGuardStatus::kUnavailable, kNoConnectGuard, errno};
  }
  if (::bind(socketDescriptor, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int error = errno;
    ::close(socketDescriptor);
    const auto status =
        error == EADDRINUSE ? ConnectGuardStatus::kHeldElsewhere : ConnectGuardStatus::kUnavailable;
    return {status, kNoConnectGuard, error};
  }
  return {ConnectGuardStatus::kAcquired, socketDescriptor, 0};
}

bool ReleaseConnectGuard(ConnectGuardHandle handle) {
  if (handle == kNoConnectGuard) {
    return false;
  }
  return ::close(handle) == 0;
}

bool IsConnectGuardHeld(const std::string& name) {
  // The kernel's socket list shows an abstract name as "@name" at the end of its line. Reading
  // it leaves the name alone, where taking and dropping it could turn away a copy that is just
  // starting.
  std::ifstream sockets("/proc/net/unix");
  if (sockets) {
    const std::string suffix = " @" + name;
    std::string line;
    while (std::getline(sockets, line)) {
      if (line.size() >= suffix.size() &&
          line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return true;
      }
    }
    return false;
  }
  const ConnectGuardResult probe = CreateConnectGuard(name);
  ReleaseConnectGuard(probe.handle);
  return probe.status == ConnectGuardStatus::kHeldElsewhere;
}

std::string ConnectGuardNameFromEnvironment() {
  return test_switches::ConnectGuardName().value_or(kConnectGuardName);
}

}  // namespace platform
