// The test switches: read from the environment when the build defines FWU_TEST_SWITCHES,
// otherwise fixed at "not set", so the shipped program carries no trace of them.
#include "platform/test_switches.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform::test_switches {

#if defined(FWU_TEST_SWITCHES)

namespace {

std::optional<std::string> NonEmpty(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

bool IsOne(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

bool Compiled() {
  return true;
}

long AutoAnsweredViewBoxes() {
  const char* value = std::getenv("FWU_AUTO_ANSWER_VIEW_BOXES");
  return value != nullptr ? std::max(0L, std::strtol(value, nullptr, 10)) : 0L;
}

bool AutoAnswerAppBoxes() {
  return IsOne("FWU_AUTO_ANSWER_BOXES");
}

std::optional<std::string> ConnectGuardName() {
  return NonEmpty("FWU_CONNECT_GUARD_NAME");
}

std::optional<std::string> SysfsRoot() {
  return NonEmpty("FWU_SYSFS_ROOT");
}

bool ReportFirstPaint() {
  return IsOne("FWU_REPORT_FIRST_PAINT");
}

long CheckCallLimitSeconds() {
  const char* value = std::getenv("FWU_CHECK_CALL_LIMIT_SECONDS");
  if (value == nullptr) return 0;
  char* end = nullptr;
  const long seconds = std::strtol(value, &end, 10);
  return end != value && *end == '\0' && seconds >= 1 && seconds <= 86400 ? seconds : 0;
}

#else

bool Compiled() {
  return false;
}

long AutoAnsweredViewBoxes() {
  return 0;
}

bool AutoAnswerAppBoxes() {
  return false;
}

std::optional<std::string> ConnectGuardName() {
  return std::nullopt;
}

std::optional<std::string> SysfsRoot() {
  return std::nullopt;
}

bool ReportFirstPaint() {
  return false;
}

long CheckCallLimitSeconds() {
  return 0;
}

#endif

}  // namespace platform::test_switches
