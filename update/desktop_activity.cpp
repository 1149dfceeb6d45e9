// The update's side of the desktop session: one writing stretch at a time, progress passed on
// once per whole percent.
#include "update/desktop_activity.h"

#include <algorithm>
#include <atomic>

#include "update/update_view.h"

namespace {

std::atomic<platform::DesktopSession*> desktopSession{nullptr};
// Atomics, since the stretch begins on the UI thread and may end on the worker.
std::atomic<bool> writing{false};
std::atomic<int> lastPercent{-1};

}  // namespace

void SetDesktopSession(platform::DesktopSession* session) {
  desktopSession.store(session);
}

void NoteWritingStarted() {
  if (writing.exchange(true)) return;
  lastPercent.store(0);
  if (platform::DesktopSession* session = desktopSession.load()) {
    session->WritingStarted();
    session->WritingProgress(0);
  }
}

void NoteWritingProgress(int position) {
  if (!writing.load()) return;
  const int percent = std::clamp(position, 0, kProgressMaximum) * 100 / kProgressMaximum;
  if (lastPercent.exchange(percent) == percent) return;
  if (platform::DesktopSession* session = desktopSession.load()) session->WritingProgress(percent);
}

void NoteWritingStopped() {
  if (!writing.exchange(false)) return;
  if (platform::DesktopSession* session = desktopSession.load()) session->WritingStopped();
}
