// The switches that let tests, benchmarks and the demo steer the program from the environment.
// They are read only in builds configured with FWU_TEST_SWITCHES=ON; any other build answers
// "not set" for every one of them, whatever the environment holds.
#pragma once

#include <optional>
#include <string>

namespace platform::test_switches {

// True when this build reads the switches at all.
bool Compiled();

// FWU_AUTO_ANSWER_VIEW_BOXES=<n>: how many boxes of the update sequence are answered with
// their default button without being shown; 0 when not set.
long AutoAnsweredViewBoxes();

// FWU_AUTO_ANSWER_BOXES=1: the application shell's own boxes answer their default button.
bool AutoAnswerAppBoxes();

// FWU_CONNECT_GUARD_NAME, when set and not empty: the single-instance guard's name.
std::optional<std::string> ConnectGuardName();

// FWU_SYSFS_ROOT, when set and not empty: where the present-device list is read from.
std::optional<std::string> SysfsRoot();

// FWU_REPORT_FIRST_PAINT=1: the first paint of the main window is reported on standard error.
bool ReportFirstPaint();

// FWU_CHECK_CALL_LIMIT_SECONDS=<n>: how long the library conformance check lets one check's
// library calls take; 0 when not set, or not a whole number of seconds from 1 on.
long CheckCallLimitSeconds();

}  // namespace platform::test_switches
