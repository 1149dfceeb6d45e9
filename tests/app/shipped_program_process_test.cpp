// The program as a plain build makes it (FWUpdater-shipped: the test switches compiled out),
// started with every test switch set: it must behave as if none were, asking before it writes,
// holding the system's own single-instance name and reporting no first paint.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QString>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "app_test_support.h"
#include "file_contents.h"
#include "platform/connect_guard.h"
#include "process_test_support.h"
#include "spawned_program.h"

namespace {

// How the refusal of a second copy reads when its box is answered without being shown.
const QString kRefusal = QStringLiteral("[複数起動検知]");

// Whether the process holds a socket bound to the abstract name: the kernel's socket list
// gives the name's inode, and the process's descriptors show which sockets are its own.
bool ProcessHoldsAbstractName(pid_t pid, const std::string& name) {
  std::ifstream sockets("/proc/net/unix");
  const std::string suffix = " @" + name;
  std::string inode;
  for (std::string line; std::getline(sockets, line);) {
    if (line.size() < suffix.size() ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    // Num RefCount Protocol Flags Type St Inode Path
    std::istringstream fields(line);
    std::string field;
    for (int index = 0; index < 7 && fields >> field; ++index) inode = field;
  }
  if (inode.empty()) return false;
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* descriptors = ::opendir(folder.c_str());
  if (descriptors == nullptr) return false;
  bool held = false;
  while (const dirent* entry = ::readdir(descriptors)) {
    char target[64] = {};
    const std::string link = folder + "/" + entry->d_name;
    if (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
        target == "socket:[" + inode + "]") {
      held = true;
    }
  }
  ::closedir(descriptors);
  return held;
}

using test_support::FileBytes;

class ShippedProgramTest : public ProcessTest {};

// Not one of the names is left in the program's bytes, where the test build's program has
// them all.
TEST_F(ShippedProgramTest, CarriesNoSwitchName) {
  const std::string shipped = FileBytes(FWU_SHIPPED_PROGRAM_PATH);
  const std::string testBuild = FileBytes(ProgramPath());
  ASSERT_FALSE(shipped.empty());
  for (const char* name : {"FWU_AUTO_ANSWER_VIEW_BOXES", "FWU_AUTO_ANSWER_BOXES",
                           "FWU_CONNECT_GUARD_NAME", "FWU_SYSFS_ROOT", "FWU_REPORT_FIRST_PAINT"}) {
    EXPECT_EQ(shipped.find(name), std::string::npos) << name;
    EXPECT_NE(testBuild.find(name), std::string::npos) << name;
  }
  EXPECT_NE(shipped.find("FWU_ECHO_UI"), std::string::npos) << "the diagnostic stays";
}

TEST_F(ShippedProgramTest, EveryTestSwitchIsIgnored) {
  if (platform::IsConnectGuardHeld(platform::kConnectGuardName)) {
    GTEST_SKIP() << "another program on this machine holds " << platform::kConnectGuardName;
  }
  UseProgram(FWU_SHIPPED_PROGRAM_PATH);
  WriteFirmware(2);
  // Start sets FWU_CONNECT_GUARD_NAME and FWU_SYSFS_ROOT of the test's own; the rest here. A
  // build that read them would answer the confirmation and the completion box itself, and end.
  SpawnedProgram& program = Start({{"FWU_AUTO_ANSWER_VIEW_BOXES", "5"},
                                   {"FWU_AUTO_ANSWER_BOXES", "1"},
                                   {"FWU_REPORT_FIRST_PAINT", "1"}});
  ASSERT_TRUE(program.WaitForOutput(kConfirmationBox, 60000))
      << program.ErrorOutput().toStdString();

  EXPECT_TRUE(WaitUntil(
      [&] { return ProcessHoldsAbstractName(program.pid(), platform::kConnectGuardName); }, 30000))
      << "the system's own guard name";
  // The box waits for an answer: nothing is written, nothing completes, the program runs on.
  EXPECT_FALSE(program.WaitForOutput(kCompletionBox, 3000)) << program.ErrorOutput().toStdString();
  EXPECT_EQ(TraceLines("command=f601"), 0);
  EXPECT_TRUE(program.Running());

  // A second copy meets the held name: its refusal is a box that waits too, not a line on
  // standard error followed by the end.
  SpawnedProgram& second = Start({{"FWU_AUTO_ANSWER_BOXES", "1"}});
  EXPECT_FALSE(second.WaitForOutput(kRefusal, 3000)) << second.ErrorOutput().toStdString();
  EXPECT_TRUE(second.Running());
  second.Signal(SIGTERM);
  EXPECT_TRUE(second.WaitForEnd(kHangTimeoutMs));
  EXPECT_TRUE(program.Running()) << "the first copy goes on";

  program.Signal(SIGTERM);
  ASSERT_TRUE(program.WaitForEnd(kHangTimeoutMs));
  EXPECT_TRUE(program.ExitedNormally()) << program.EndingSignal();
  const std::string errors = program.ErrorOutput().toStdString();
  EXPECT_EQ(errors.find("FWU first paint"), std::string::npos) << errors;
  ExpectNoSanitizerReport(errors);
}

}  // namespace
