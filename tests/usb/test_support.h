// Helpers shared by the USB layer's tests: a recording message-box presenter, temporary
// folders, and a way to bring the process's library loader back to its start state.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "temporary_folder.h"

namespace usb_test {

struct ShownBox {
  std::string text;
  std::string caption;
  unsigned type;
};

// Installs a presenter that records every ownerless box and answers OK; the destructor
// restores the default presenter.
class RecordedMessageBoxes {
 public:
  RecordedMessageBoxes();
  ~RecordedMessageBoxes();
  RecordedMessageBoxes(const RecordedMessageBoxes&) = delete;
  RecordedMessageBoxes& operator=(const RecordedMessageBoxes&) = delete;

  std::vector<ShownBox> boxes() const;
};

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
