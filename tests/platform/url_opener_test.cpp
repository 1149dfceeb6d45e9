// The desktop URL opener without a GUI application: it starts xdg-open itself, found on the
// PATH, with the address as one untouched argument. A recording xdg-open stands in.
#include "platform/url_opener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "scoped_environment.h"
#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;

class DesktopUrlOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_record = m_folder / "opened.txt";
    const fs::path script = m_folder / "xdg-open";
    // One line per call: the argument count, then each argument in brackets.
    std::ofstream(script) << "#!/bin/sh\n{ printf '%s' \"$#\"; for a in \"$@\"; do printf ' [%s]' "
                             "\"$a\"; done; echo; } >> '"
                          << m_record.string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    m_path.emplace("PATH", m_folder.string() + ":" + (path != nullptr ? path : ""));
  }

  // The recorded calls once at least `lines` have arrived (or after a generous wait).
  std::string WaitForCalls(int lines) {
    std::string text;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      std::ifstream stream(m_record);
      std::ostringstream content;
      content << stream.rdbuf();
      text = content.str();
      if (std::count(text.begin(), text.end(), '\n') >= lines) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
  }

  test_support::TemporaryFolder m_temporary{"fwu-opener"};
  const fs::path m_folder = m_temporary.path();
  fs::path m_record;
  std::optional<test_support::ScopedEnvironment> m_path;  // PATH with the recording xdg-open first
};

TEST_F(DesktopUrlOpenerTest, PassesTheAddressAsOneArgumentWithoutAShell) {
  platform::DesktopUrlOpener opener;
  const std::string address = "https://support.example.com/page.html?a=1;b=$HOME&c='x'";
  opener.Open(address);
  EXPECT_EQ(WaitForCalls(1), "1 [" + address + "]\n");
}

TEST_F(DesktopUrlOpenerTest, ShellMetacharactersArriveAsTextAndRunNothing) {
  // Without blanks, which an address cannot hold: $IFS would give a shell its blank.
  const fs::path substituted = m_folder / "ran-substitution";
  const fs::path chained = m_folder / "ran-after-semicolon";
  const std::string lead = "https://example.com/p?x=$(mkdir$IFS" + substituted.string() + ")";
  const std::string tail = ";mkdir$IFS" + chained.string() + ";echo$IFS'quoted'";
  platform::DesktopUrlOpener opener;
  opener.Open(lead + tail);

  const std::string calls = WaitForCalls(1);
  // One call with one argument that still holds the text after the semicolons, untouched.
  ASSERT_EQ(calls.rfind("1 [" + lead, 0), 0u) << calls;
  EXPECT_NE(calls.find(tail + "]\n"), std::string::npos) << calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 1);
  // A shell would have made the first folder before it started the opener.
  EXPECT_FALSE(fs::exists(substituted));
}

TEST_F(DesktopUrlOpenerTest, OpensOnlyWebAddresses) {
  platform::DesktopUrlOpener opener;
  for (const char* refused : {"--help", "file:///etc/passwd", "not an address", "", "https://"}) {
    opener.Open(refused);
  }
  // A good address last: once it has arrived, nothing else was started before it.
  opener.Open("http://example.com/");
  EXPECT_EQ(WaitForCalls(1), "1 [http://example.com/]\n");
}

}  // namespace
