// Whether a window can be opened at all: which of Qt's window platforms the program would use,
// and a real connection to its display server, made before Qt is started.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// What decides where Qt opens its windows: the command line's -platform and -display values and
// the environment the session gives. Empty means not given or not set.
struct DisplaySettings {
  std::string platformOption;                 // -platform NAME[:options] or a ";" list
  std::optional<std::string> displayOption;   // -display NAME (X11)
  std::string qpaPlatform;                    // QT_QPA_PLATFORM
  std::string x11Display;                     // DISPLAY
  std::optional<std::string> waylandDisplay;  // WAYLAND_DISPLAY (set, even empty, counts)
  std::string waylandSocket;                  // WAYLAND_SOCKET: a connection handed down
  std::string sessionType;                    // XDG_SESSION_TYPE
  std::string runtimeFolder;                  // XDG_RUNTIME_DIR
};

// The settings of this process: its environment and the given command-line values.
DisplaySettings DisplaySettingsFromEnvironment(std::string platformOption,
                                               std::optional<std::string> displayOption);

// The platforms Qt tries, in its order: -platform, else QT_QPA_PLATFORM, else "wayland;xcb" in
// a Wayland session (WAYLAND_DISPLAY set or XDG_SESSION_TYPE wayland), else "xcb". Each entry is
// a plugin name without its ":options".
std::vector<std::string> PlatformsQtWouldTry(const DisplaySettings& settings);

struct DisplayProbe {
  bool reachable = false;
  // Unreachable: whether any display was named at all (DISPLAY, -display, WAYLAND_DISPLAY, a
  // Wayland session), and what was tried ("X11 :99", "Wayland /run/user/1000/wayland-0").
  bool anyDisplayNamed = false;
  std::vector<std::string> tried;
};

// Goes through the platforms Qt would try, in order, until one can be used. Platforms that
// draw without a display server (offscreen, minimal, vnc, linuxfb, eglfs, ...) and names this
// function does not know are left to Qt. X11 is tried with a real connection to the display
// (an X server that is gone or refuses us fails), Wayland by connecting to the compositor's
// socket. An X server that takes the connection but never answers counts as unreachable after
// x11Limit. Any thread; blocks for at most x11Limit per X11 entry.
DisplayProbe ProbeDisplay(const DisplaySettings& settings,
                          std::chrono::milliseconds x11Limit = std::chrono::seconds(10));

}  // namespace platform
