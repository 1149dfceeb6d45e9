// The window as the update phases see it, for the fuzz targets: it records messages and the
// progress bar, answers the one question from a value the target chooses, and shows nothing.
#pragma once

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "update/update_view.h"

namespace fuzz {

class RecordingView : public UpdateView {
 public:
  void AddLogLine(const std::string& line, bool) override { logLines.push_back(line); }
  void SetProgressRange(int low, int high) override {
    FUZZ_CHECK(low == 0 && high == 10000, "the progress range is 0..10000");
    rangeSet = true;
  }
  int GetProgressPosition() override { return position; }
  void SetProgressPosition(int newPosition) override {
    FUZZ_CHECK(newPosition >= 0 && newPosition <= 10000,
               "progress position " + std::to_string(newPosition) + " outside 0..10000");
    position = newPosition;
    ++positionChanges;
  }
  void SetCurrentVersionText(const std::string& text) override { currentVersion = text; }
  void SetTargetVersionText(const std::string& text) override { targetVersion = text; }
  int ShowMessageBox(const std::string& text, const char*, unsigned type) override {
    messages.push_back(text);
    if ((type & MB_TYPEMASK) == MB_YESNO) return answerYes ? IDYES : IDNO;
    return IDOK;
  }
  int ShowRelabelledMessageBox(const std::string& text, const char* caption,
                               unsigned type) override {
    return ShowMessageBox(text, caption, type);
  }
  void ArmStepTimer(unsigned) override {}
  void StopStepTimer() override {}
  void CloseMainWindow() override {}

  std::string LastMessage() const { return messages.empty() ? std::string() : messages.back(); }

  std::vector<std::string> logLines;
  std::vector<std::string> messages;
  std::string currentVersion;
  std::string targetVersion;
  int position = 0;
  int positionChanges = 0;
  bool rangeSet = false;
  bool answerYes = true;
};

}  // namespace fuzz
