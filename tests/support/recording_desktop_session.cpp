// The recording desktop session.
#include "recording_desktop_session.h"

#include "update/desktop_activity.h"

RecordingDesktopSession::RecordingDesktopSession() {
  SetDesktopSession(this);
}

RecordingDesktopSession::~RecordingDesktopSession() {
  SetDesktopSession(nullptr);
}

void RecordingDesktopSession::WritingStarted() {
  std::lock_guard lock(m_mutex);
  m_writing = true;
  m_events.push_back("started");
}

void RecordingDesktopSession::WritingProgress(int percent) {
  std::lock_guard lock(m_mutex);
  m_percents.push_back(percent);
  m_events.push_back("progress " + std::to_string(percent));
}

void RecordingDesktopSession::WritingStopped() {
  std::lock_guard lock(m_mutex);
  m_writing = false;
  m_events.push_back("stopped");
}

std::vector<std::string> RecordingDesktopSession::Events() const {
  std::lock_guard lock(m_mutex);
  return m_events;
}

std::vector<std::string> RecordingDesktopSession::Stretches() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> stretches;
  for (const std::string& event : m_events) {
    if (event.rfind("progress", 0) != 0) stretches.push_back(event);
  }
  return stretches;
}

std::vector<int> RecordingDesktopSession::Percents() const {
  std::lock_guard lock(m_mutex);
  return m_percents;
}

bool RecordingDesktopSession::Writing() const {
  std::lock_guard lock(m_mutex);
  return m_writing;
}
