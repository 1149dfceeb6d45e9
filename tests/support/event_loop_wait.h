// Waiting on the Qt event loop in the tests that run one: one wait that keeps
// the loop serving while a condition comes true.
#pragma once

#include <functional>

// Runs the event loop until condition holds; false if it has not after timeoutMs (a guard
// against hanging, never a measure of speed).
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 30000);
