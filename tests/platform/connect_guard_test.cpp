// The connection guard: a live holder is seen, the name comes free when the holder releases it
// or dies however it dies, and a guard that cannot be made is reported as such.
#include "platform/connect_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "scoped_environment.h"

namespace {

// A name no other test, program or parallel test run uses.
std::string UniqueName(const char* purpose) {
  static std::atomic<int> counter{0};
  return "fwu-guard-test-" + std::to_string(::getpid()) + "-" + purpose + "-" +
         std::to_string(counter++);
}

using platform::ConnectGuardStatus;

TEST(ConnectGuardTest, SecondTakerFindsTheNameHeldUntilReleased) {
  const std::string name = UniqueName("held");
  const platform::ConnectGuardResult first = platform::CreateConnectGuard(name);
  ASSERT_EQ(first.status, ConnectGuardStatus::kAcquired);
  ASSERT_NE(first.handle, platform::kNoConnectGuard);
  EXPECT_TRUE(platform::IsConnectGuardHeld(name));

  const platform::ConnectGuardResult second = platform::CreateConnectGuard(name);
  EXPECT_EQ(second.status, ConnectGuardStatus::kHeldElsewhere);
  EXPECT_EQ(second.handle, platform::kNoConnectGuard);
  // Probing must not take the name away from its holder.
  EXPECT_TRUE(platform::IsConnectGuardHeld(name));

  EXPECT_TRUE(platform::ReleaseConnectGuard(first.handle));
  EXPECT_FALSE(platform::IsConnectGuardHeld(name));
  const platform::ConnectGuardResult again = platform::CreateConnectGuard(name);
  EXPECT_EQ(again.status, ConnectGuardStatus::kAcquired);
  platform::ReleaseConnectGuard(again.handle);
}

TEST(ConnectGuardTest, NamesAreIndependent) {
  const platform::ConnectGuardResult one = platform::CreateConnectGuard(UniqueName("one"));
  const platform::ConnectGuardResult two = platform::CreateConnectGuard(UniqueName("two"));
  EXPECT_EQ(one.status, ConnectGuardStatus::kAcquired);
  EXPECT_EQ(two.status, ConnectGuardStatus::kAcquired);
  platform::ReleaseConnectGuard(one.handle);
  platform::ReleaseConnectGuard(two.handle);
}

TEST(ConnectGuardTest, GuardThatCannotBeMadeIsUnavailableAndHoldsNothing) {
  const platform::ConnectGuardResult tooLong = platform::CreateConnectGuard(std::string(200, 'x'));
  EXPECT_EQ(tooLong.status, ConnectGuardStatus::kUnavailable);
  EXPECT_EQ(tooLong.handle, platform::kNoConnectGuard);
  EXPECT_NE(tooLong.error, 0);
  EXPECT_FALSE(platform::IsConnectGuardHeld(std::string(200, 'x')));

  EXPECT_EQ(platform::CreateConnectGuard("").status, ConnectGuardStatus::kUnavailable);
  EXPECT_FALSE(platform::ReleaseConnectGuard(platform::kNoConnectGuard));
}

TEST(ConnectGuardTest, ProgramsStartedByTheHolderDoNotInheritTheGuard) {
  const platform::ConnectGuardResult guard = platform::CreateConnectGuard(UniqueName("exec"));
  ASSERT_EQ(guard.status, ConnectGuardStatus::kAcquired);
  const int flags = ::fcntl(guard.handle, F_GETFD);
  ASSERT_GE(flags, 0);
  EXPECT_TRUE(flags & FD_CLOEXEC);
  platform::ReleaseConnectGuard(guard.handle);
}

// A child process takes the name, reports through a pipe, and waits to be ended.
pid_t StartHolder(const std::string& name) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    const platform::ConnectGuardResult guard = platform::CreateConnectGuard(name);
    const char status = guard.status == ConnectGuardStatus::kAcquired ? 'y' : 'n';
    if (::write(ready[1], &status, 1) != 1) ::_exit(3);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char status = 0;
  const bool acquired = child > 0 && ::read(ready[0], &status, 1) == 1 && status == 'y';
  ::close(ready[0]);
  if (!acquired && child > 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
  }
  return child;
}

class ConnectGuardHolderEndsTest : public testing::TestWithParam<int> {};

TEST_P(ConnectGuardHolderEndsTest, NameComesFreeWhenTheHoldingProcessEnds) {
  const std::string name = UniqueName("process");
  const pid_t holder = StartHolder(name);
  ASSERT_GT(holder, 0);
  EXPECT_TRUE(platform::IsConnectGuardHeld(name));
  EXPECT_EQ(platform::CreateConnectGuard(name).status, ConnectGuardStatus::kHeldElsewhere);

  ASSERT_EQ(::kill(holder, GetParam()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFSIGNALED(status));

  const platform::ConnectGuardResult after = platform::CreateConnectGuard(name);
  EXPECT_EQ(after.status, ConnectGuardStatus::kAcquired);
  platform::ReleaseConnectGuard(after.handle);
}

INSTANTIATE_TEST_SUITE_P(Signals, ConnectGuardHolderEndsTest,
                         testing::Values(SIGKILL, SIGTERM, SIGHUP));

TEST(ConnectGuardNameTest, EnvironmentOverridesTheNameOnlyWhenNotEmpty) {
  test_support::ScopedEnvironment name("FWU_CONNECT_GUARD_NAME", std::nullopt);
  EXPECT_EQ(platform::ConnectGuardNameFromEnvironment(), "SCX_Connect_Multiplex_Prevention");
  name.Set("");
  EXPECT_EQ(platform::ConnectGuardNameFromEnvironment(), "SCX_Connect_Multiplex_Prevention");
  name.Set("side-by-side");
  EXPECT_EQ(platform::ConnectGuardNameFromEnvironment(), "side-by-side");
}

}  // namespace
