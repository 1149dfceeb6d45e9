// The window as the update sequence sees it: log lines, the progress bar, the two version
// fields, message boxes, the step timer and closing the main window. The Qt form view
// implements it; tests implement it with a scripted fake and a virtual clock.
#pragma once

#include <string>

#include "platform/message_box_types.h"
#include "update/message_text.h"

// The answer of a box that was dismissed without a choice (the window is closing):
// OK for an OK box, Cancel for OK/Cancel, No for Yes/No, so nothing goes ahead by default.
int DismissedAnswer(unsigned type);

inline constexpr const char* kApplicationTitle = "SCRIBOLANTE X FW Updater";

// The progress bar runs from 0 to this value; phase 0 sets the range, phase 5 fills it.
inline constexpr int kProgressMaximum = 10000;

// Threads: every operation may be called from the UI thread or from the UsbWorkerThread.
// A call from the worker runs on the UI thread while the worker waits for it (ArmStepTimer,
// StopStepTimer and CloseMainWindow may instead be queued to the UI thread). Once the view
// has begun closing, a call from the worker returns at once: a message box counts as
// dismissed (DismissedAnswer), the progress position reads 0, everything else does nothing.
class UpdateView {
 public:
  virtual ~UpdateView() = default;

  // Adds a line at the end of the operation log; with scrollToEnd the newest line is
  // brought into view. Lines are never removed.
  virtual void AddLogLine(const std::string& line, bool scrollToEnd) = 0;

  virtual void SetProgressRange(int low, int high) = 0;
  virtual int GetProgressPosition() = 0;
  virtual void SetProgressPosition(int position) = 0;

  // Control 1007, the device's current version, and 1008, the version to be installed.
  virtual void SetCurrentVersionText(const std::string& text) = 0;
  virtual void SetTargetVersionText(const std::string& text) = 0;

  // A modal box owned by the view. caption null: the application title; caption "": none.
  // type: MB_OK, MB_OKCANCEL or MB_YESNO, optionally with an icon. Returns the button
  // pressed (IDOK, IDCANCEL, IDYES, IDNO).
  virtual int ShowMessageBox(const std::string& text, const char* caption, unsigned type) = 0;
  // The same box with its OK and Cancel buttons relabelled "移動" and "キャンセル"; the answers
  // stay IDOK and IDCANCEL.
  virtual int ShowRelabelledMessageBox(const std::string& text, const char* caption,
                                       unsigned type) = 0;

  // The step timer: a repeating timer whose tick reaches the controller's OnTimer(0) on the
  // UI thread. Arming replaces any earlier arming.
  virtual void ArmStepTimer(unsigned milliseconds) = 0;
  virtual void StopStepTimer() = 0;

  // Asks the application's main window to close, which ends the application.
  virtual void CloseMainWindow() = 0;
};
