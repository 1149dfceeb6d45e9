// The agent lock's guard: entered and left with its scope, recursive on one thread, left on
// an exception, and doing nothing without a section.
#include "usb/agent_lock.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "test_support.h"

namespace usb_test {
namespace {

using Guard = C_GPUsbDeviceAgentWrapperThreadLock;

TEST(AgentLockTest, ExistsFromStartUpAndGuardsItsScopeRecursively) {
  ASSERT_NE(Guard::agentLock.section, nullptr);
  EXPECT_FALSE(AgentLockTakenElsewhere());
  {
    Guard outer;
    EXPECT_TRUE(AgentLockTakenElsewhere());
    {
      Guard inner;  // the same thread again: no deadlock
      EXPECT_TRUE(AgentLockTakenElsewhere());
    }
    EXPECT_TRUE(AgentLockTakenElsewhere()) << "still held by the outer guard";
  }
  EXPECT_FALSE(AgentLockTakenElsewhere());
}

TEST(AgentLockTest, AnExceptionLeavesTheLock) {
  try {
    Guard guard;
    throw std::runtime_error("passing through");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(AgentLockTakenElsewhere());
}

TEST(AgentLockTest, WithoutASectionLockingDoesNothing) {
  std::recursive_mutex* const section = Guard::agentLock.section;
  Guard::agentLock.section = nullptr;
  {
    Guard guard;
    Guard::agentLock.section = section;
    EXPECT_FALSE(AgentLockTakenElsewhere()) << "nothing was entered";
    // Left without unlocking the section it never entered.
  }
  EXPECT_FALSE(AgentLockTakenElsewhere());
  Guard::agentLock.section = section;
}

}  // namespace
}  // namespace usb_test
