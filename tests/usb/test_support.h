// Helpers shared by the USB layer's tests: temporary folders, the simulated library's place, and
// a way to bring the process's library loader back to its start state. (The recorder of the
// ownerless boxes is in tests/support/recorded_message_boxes.h.)
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "recorded_message_boxes.h"
#include "temporary_folder.h"

namespace usb_test {

// A fresh temporary folder, removed with its contents at the end.
using TemporaryFolder = test_support::TemporaryFolder;

// Unloads the vendor library and selects the default location again.
void ResetLibraryLoader();

// The simulated vendor library built beside this test program.
std::filesystem::path SimulatedLibraryPath();

// True when another thread cannot take the agent lock at this moment (so the calling
// thread, or some other, holds it).
bool AgentLockTakenElsewhere();

// Writes text to a file, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& text);

}  // namespace usb_test
