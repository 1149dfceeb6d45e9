// The display probe: Qt's order of platforms, and real connections to a Wayland socket and to
// an X server that is missing or never answers, each played by a socket of the test's own.
#include "platform/display_probe.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::DisplaySettings;
using platform::PlatformsQtWouldTry;
using platform::ProbeDisplay;

using Names = std::vector<std::string>;

// A listening socket that accepts connections into its queue and never answers them.
class SilentServer {
 public:
  explicit SilentServer(const std::string& unixPath) {
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, unixPath.c_str(), sizeof address.sun_path - 1);
    m_listening = ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::listen(m_socket, 8) == 0;
  }
  // On the loopback TCP port of X display number 6000 + n, the first free one from 50 on.
  SilentServer() {
    for (m_displayNumber = 50; m_displayNumber < 200 && !m_listening; ++m_displayNumber) {
      if (m_socket >= 0) ::close(m_socket);
      m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(static_cast<std::uint16_t>(6000 + m_displayNumber));
      m_listening = ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::listen(m_socket, 8) == 0;
    }
    --m_displayNumber;
  }
  ~SilentServer() { ::close(m_socket); }

  bool listening() const { return m_listening; }
  int displayNumber() const { return m_displayNumber; }

 private:
  int m_socket = -1;
  bool m_listening = false;
  int m_displayNumber = 0;
};

class DisplayProbeTest : public ::testing::Test {
 protected:
  test_support::TemporaryFolder m_temporary{"fwu-display"};
  const fs::path m_folder = m_temporary.path();
};

TEST(PlatformsQtWouldTry, TheOptionBeatsTheVariableWhichBeatsTheSession) {
  DisplaySettings settings;
  EXPECT_EQ(PlatformsQtWouldTry(settings), Names{"xcb"});
  settings.sessionType = "wayland";
  EXPECT_EQ(PlatformsQtWouldTry(settings), (Names{"wayland", "xcb"}));
  settings.sessionType = "x11";
  settings.waylandDisplay = "";  // set, even empty, makes a Wayland session for Qt
  EXPECT_EQ(PlatformsQtWouldTry(settings), (Names{"wayland", "xcb"}));
  settings.qpaPlatform = "xcb:nograb;;offscreen";
  EXPECT_EQ(PlatformsQtWouldTry(settings), (Names{"xcb", "offscreen"}));
  settings.platformOption = "minimal";
  EXPECT_EQ(PlatformsQtWouldTry(settings), Names{"minimal"});
  // Nothing but separators names no platform, and is no reason to fail.
  settings.platformOption = ":;:x";
  EXPECT_EQ(PlatformsQtWouldTry(settings), Names{});
  EXPECT_FALSE(ProbeDisplay(settings).reachable);
}

TEST_F(DisplayProbeTest, AWaylandSocketCountsOnlyWhileACompositorListensOnIt) {
  DisplaySettings settings;
  settings.waylandDisplay = "wayland-test";
  settings.runtimeFolder = m_folder.string();
  const std::string path = (m_folder / "wayland-test").string();
  {
    const SilentServer compositor(path);
    ASSERT_TRUE(compositor.listening());
    EXPECT_TRUE(ProbeDisplay(settings).reachable);
    // An absolute WAYLAND_DISPLAY is the socket itself, whatever XDG_RUNTIME_DIR says.
    settings.waylandDisplay = path;
    settings.runtimeFolder.clear();
    EXPECT_TRUE(ProbeDisplay(settings).reachable);
  }
  {
    // Asked for by name without WAYLAND_DISPLAY, Wayland is the default socket, wayland-0.
    const SilentServer compositor((m_folder / "wayland-0").string());
    DisplaySettings unnamed;
    unnamed.qpaPlatform = "wayland";
    unnamed.runtimeFolder = m_folder.string();
    EXPECT_TRUE(ProbeDisplay(unnamed).reachable);
  }
  // The socket file stays behind a compositor that has gone.
  ASSERT_TRUE(fs::exists(path));
  const platform::DisplayProbe probe = ProbeDisplay(settings);
  EXPECT_FALSE(probe.reachable);
  EXPECT_TRUE(probe.anyDisplayNamed);
  EXPECT_EQ(probe.tried, Names{"Wayland " + path});
}

TEST_F(DisplayProbeTest, AnXServerThatIsGoneOrNeverAnswersIsUnreachableAndQtsNextChoiceCounts) {
  DisplaySettings settings;
  settings.qpaPlatform = "xcb";
  settings.x11Display = ":4093";  // no server has that number here
  platform::DisplayProbe probe = ProbeDisplay(settings);
  EXPECT_FALSE(probe.reachable);
  EXPECT_EQ(probe.tried, Names{"X11 :4093"});

  {
    // -display names the display Qt opens, over DISPLAY.
    const SilentServer server;
    ASSERT_TRUE(server.listening());
    settings.displayOption = "127.0.0.1:" + std::to_string(server.displayNumber());
    probe = ProbeDisplay(settings, std::chrono::milliseconds(300));
    EXPECT_FALSE(probe.reachable);
    EXPECT_EQ(probe.tried, Names{"X11 " + *settings.displayOption});

    // Qt goes on to the next platform of its list when one fails.
    settings.qpaPlatform = "xcb;offscreen";
    EXPECT_TRUE(ProbeDisplay(settings, std::chrono::milliseconds(300)).reachable);
  }
  // Once the silent server has gone, the attempts left waiting on it end, and a new one answers
  // in its turn.
  settings.qpaPlatform = "xcb";
  settings.displayOption.reset();
  probe = ProbeDisplay(settings);
  EXPECT_FALSE(probe.reachable);
  EXPECT_EQ(probe.tried, Names{"X11 :4093"});
}

}  // namespace
