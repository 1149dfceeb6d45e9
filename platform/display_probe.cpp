// The display probe: Qt's choice of window platform worked out as Qt 6 makes it, then a real
// connection to the X server (libxcb, which Qt's own X11 plugin uses) or the Wayland socket.
#include "platform/display_probe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace platform {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsWayland(const std::string& name) {
  return name.rfind("wayland", 0) == 0;
}

// One connection attempt and its handshake, on a thread of its own, so that a server that
// accepts the connection and then never answers cannot hold the program. The thread is left to
// finish by itself when it does not in time; it owns everything it touches. Attempts take turns:
// libxcb reads the X authority file through a buffer libXau shares between threads, so an
// attempt still waiting on a silent server makes a later one wait (and time out) too.
bool ConnectsToX11(const std::string& display, std::chrono::milliseconds limit) {
  static std::mutex attemptsInTurn;
  auto attempt = std::make_shared<std::promise<bool>>();
  std::future<bool> answer = attempt->get_future();
  std::thread([attempt, display] {
    const std::lock_guard<std::mutex> turn(attemptsInTurn);
    xcb_connection_t* connection =
        xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    const bool connected = connection != nullptr && xcb_connection_has_error(connection) == 0;
    if (connection != nullptr) xcb_disconnect(connection);
    attempt->set_value(connected);
  }).detach();
  return answer.wait_for(limit) == std::future_status::ready && answer.get();
}

// The compositor's socket as libwayland-client finds it: WAYLAND_DISPLAY (wayland-0 when
// unset), absolute or under XDG_RUNTIME_DIR. Empty when it cannot be named.
std::string WaylandSocketPath(const DisplaySettings& settings) {
  const std::string name = settings.waylandDisplay.value_or("wayland-0");
  if (name.empty()) return {};
  if (name.front() == '/') return name;
  if (settings.runtimeFolder.empty()) return {};
  return settings.runtimeFolder + "/" + name;
}

bool ConnectsToUnixSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (socket < 0) return false;
  int result;
  do {
    result = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  // A compositor whose queue of new connections is full is there all the same.
  const bool connected = result == 0 || errno == EAGAIN;
  ::close(socket);
  return connected;
}

}  // namespace

DisplaySettings DisplaySettingsFromEnvironment(std::string platformOption,
                                               std::optional<std::string> displayOption) {
  DisplaySettings settings;
  settings.platformOption = std::move(platformOption);
  settings.displayOption = std::move(displayOption);
  settings.qpaPlatform = Environment("QT_QPA_PLATFORM");
  settings.x11Display = Environment("DISPLAY");
  if (std::getenv("WAYLAND_DISPLAY") != nullptr)
    settings.waylandDisplay = Environment("WAYLAND_DISPLAY");
  settings.waylandSocket = Environment("WAYLAND_SOCKET");
  settings.sessionType = Environment("XDG_SESSION_TYPE");
  settings.runtimeFolder = Environment("XDG_RUNTIME_DIR");
  return settings;
}

std::vector<std::string> PlatformsQtWouldTry(const DisplaySettings& settings) {
  std::string list = settings.platformOption;
  if (list.empty()) list = settings.qpaPlatform;
  if (list.empty()) {
    const bool waylandSession =
        settings.waylandDisplay.has_value() || settings.sessionType == "wayland";
    list = waylandSession ? "wayland;xcb" : "xcb";
  }
  std::vector<std::string> names;
  for (const std::string& entry : Split(list, ';')) {
    const std::string name = entry.substr(0, entry.find(':'));
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

DisplayProbe ProbeDisplay(const DisplaySettings& settings, std::chrono::milliseconds x11Limit) {
  DisplayProbe probe;
  for (const std::string& name : PlatformsQtWouldTry(settings)) {
    if (name == "xcb") {
      const std::string display = settings.displayOption.value_or(settings.x11Display);
      if (display.empty()) continue;
      probe.anyDisplayNamed = true;
      if (ConnectsToX11(display, x11Limit)) {
        probe.reachable = true;
        return probe;
      }
      probe.tried.push_back("X11 " + display);
    } else if (IsWayland(name)) {
      // A connection handed down by the compositor is taken as it is.
      if (!settings.waylandSocket.empty()) {
        probe.reachable = true;
        return probe;
      }
      // Unnamed, the compositor's default socket is tried all the same, as libwayland does.
      const std::string path = WaylandSocketPath(settings);
      if (ConnectsToUnixSocket(path)) {
        probe.reachable = true;
        return probe;
      }
      if (!settings.waylandDisplay.has_value() && settings.sessionType != "wayland") continue;
      probe.anyDisplayNamed = true;
      probe.tried.push_back(path.empty()
                                ? "Wayland " + settings.waylandDisplay.value_or("wayland-0") +
                                      " (XDG_RUNTIME_DIR not set)"
                                : "Wayland " + path);
    } else {
      // offscreen, minimal, vnc, linuxfb, eglfs and the like draw without a display server;
      // a plugin only Qt knows is Qt's to judge.
      probe.reachable = true;
      return probe;
    }
  }
  return probe;
}

}  // namespace platform
