// What the desktop is told while the device is being written: sleep held off, and the
// progress shown on the dock. The workflow reports; an implementation talks to the desktop.
#pragma once

namespace platform {

// One writing stretch runs from WritingStarted to WritingStopped: from the user's yes to the
// moment the block writes and the checksum exchange have stopped, however they stopped. A
// restart after a failure is a new stretch. Calls may come from the UI thread or the
// UsbWorkerThread, one at a time in the order the update makes them (its hand-overs order
// them); an implementation must neither block nor fail the caller: whatever the desktop does
// not offer is left out.
class DesktopSession {
 public:
  virtual ~DesktopSession() = default;

  virtual void WritingStarted() = 0;
  // The bar's position in whole percent (0..100), called only when the whole percent changes.
  virtual void WritingProgress(int percent) = 0;
  // Also called when no stretch is open; then nothing happens.
  virtual void WritingStopped() = 0;
};

}  // namespace platform
