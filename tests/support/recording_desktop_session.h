// The double of the desktop session: records what the update tells the desktop, in order, and
// whether a writing stretch is open, so a test can check it at any moment (a message box).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/desktop_session.h"

// Installed for its lifetime through SetDesktopSession; any thread may report to it.
class RecordingDesktopSession : public platform::DesktopSession {
 public:
  RecordingDesktopSession();
  ~RecordingDesktopSession() override;

  RecordingDesktopSession(const RecordingDesktopSession&) = delete;
  RecordingDesktopSession& operator=(const RecordingDesktopSession&) = delete;

  void WritingStarted() override;
  void WritingProgress(int percent) override;
  void WritingStopped() override;

  // "started", "progress <percent>", "stopped", in the order they came.
  std::vector<std::string> Events() const;
  // The events without the progress ones.
  std::vector<std::string> Stretches() const;
  std::vector<int> Percents() const;
  // A stretch is open (started and not yet stopped).
  bool Writing() const;

 private:
  void Record(std::string event);

  mutable std::mutex m_mutex;
  std::vector<std::string> m_events;
  std::vector<int> m_percents;
  bool m_writing = false;
};
