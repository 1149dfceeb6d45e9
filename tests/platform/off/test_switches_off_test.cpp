// The test switches as a plain build compiles them: every variable set, none of them read.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/connect_guard.h"
#include "platform/present_devices.h"
#include "platform/test_switches.h"

namespace {

namespace switches = platform::test_switches;

TEST(TestSwitchesOffTest, EverySwitchIsIgnored) {
  ::setenv("FWU_AUTO_ANSWER_VIEW_BOXES", "5", 1);
  ::setenv("FWU_AUTO_ANSWER_BOXES", "1", 1);
  ::setenv("FWU_CONNECT_GUARD_NAME", "side-by-side", 1);
  ::setenv("FWU_SYSFS_ROOT", "/tmp/fake-sys", 1);
  ::setenv("FWU_REPORT_FIRST_PAINT", "1", 1);
  ::setenv("FWU_CHECK_CALL_LIMIT_SECONDS", "2", 1);

  EXPECT_EQ(switches::AutoAnsweredViewBoxes(), 0);
  EXPECT_FALSE(switches::AutoAnswerAppBoxes());
  EXPECT_EQ(switches::ConnectGuardName(), std::nullopt);
  EXPECT_EQ(switches::SysfsRoot(), std::nullopt);
  EXPECT_FALSE(switches::ReportFirstPaint());
  EXPECT_EQ(switches::CheckCallLimitSeconds(), 0);

  // And so the platform layer keeps to the system's own names.
  EXPECT_EQ(platform::ConnectGuardNameFromEnvironment(), "SCX_Connect_Multiplex_Prevention");
  EXPECT_EQ(platform::SysfsPresentDeviceList::DefaultRoot(), "/sys");
  EXPECT_EQ(platform::SysfsPresentDeviceList().root(), "/sys");
}

}  // namespace
