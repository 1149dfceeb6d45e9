// The test switches as test builds read them: each takes effect only with a meaningful value.
#include "platform/test_switches.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "scoped_environment.h"

namespace {

namespace switches = platform::test_switches;

using Variable = test_support::ScopedEnvironment;

TEST(TestSwitchesTest, FlagsTakeOnlyOne) {
  Variable boxes("FWU_AUTO_ANSWER_BOXES", "1");
  Variable paint("FWU_REPORT_FIRST_PAINT", "1");
  EXPECT_TRUE(switches::AutoAnswerAppBoxes());
  EXPECT_TRUE(switches::ReportFirstPaint());
  for (const std::optional<std::string>& value :
       {std::optional<std::string>{}, std::optional<std::string>{"0"},
        std::optional<std::string>{""}, std::optional<std::string>{"yes"}}) {
    boxes.Set(value);
    paint.Set(value);
    EXPECT_FALSE(switches::AutoAnswerAppBoxes()) << value.value_or("(unset)");
    EXPECT_FALSE(switches::ReportFirstPaint()) << value.value_or("(unset)");
  }
}

TEST(TestSwitchesTest, AnsweredBoxCountIsNeverNegative) {
  Variable count("FWU_AUTO_ANSWER_VIEW_BOXES", "3");
  EXPECT_EQ(switches::AutoAnsweredViewBoxes(), 3);
  count.Set("-2");
  EXPECT_EQ(switches::AutoAnsweredViewBoxes(), 0);
  count.Set("many");
  EXPECT_EQ(switches::AutoAnsweredViewBoxes(), 0);
  count.Set(std::nullopt);
  EXPECT_EQ(switches::AutoAnsweredViewBoxes(), 0);
}

TEST(TestSwitchesTest, CallLimitIsAWholeNumberOfSecondsFromOne) {
  Variable limit("FWU_CHECK_CALL_LIMIT_SECONDS", "2");
  EXPECT_EQ(switches::CheckCallLimitSeconds(), 2);
  for (const char* value : {"0", "-5", "2s", "", "many"}) {
    limit.Set(value);
    EXPECT_EQ(switches::CheckCallLimitSeconds(), 0) << value;
  }
}

TEST(TestSwitchesTest, NamesCountOnlyWhenNotEmpty) {
  Variable guard("FWU_CONNECT_GUARD_NAME", "side-by-side");
  Variable root("FWU_SYSFS_ROOT", "/tmp/fake-sys");
  EXPECT_EQ(switches::ConnectGuardName(), "side-by-side");
  EXPECT_EQ(switches::SysfsRoot(), "/tmp/fake-sys");
  guard.Set("");
  root.Set("");
  EXPECT_EQ(switches::ConnectGuardName(), std::nullopt);
  EXPECT_EQ(switches::SysfsRoot(), std::nullopt);
}

}  // namespace
