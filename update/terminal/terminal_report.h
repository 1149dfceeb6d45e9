// What the terminal run tells its user and its script: message and log lines on standard
// error, the progress line, and with --json one JSON object per event on standard output.
#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/json_string.h"

// The outcomes of the end event, as the history names them, and one for every other ending.
inline constexpr const char* kTerminalOutcomeFailed = "failed";

// The events' strings are JSON string literals, as the call trace writes them.
using platform::JsonString;

// The progress line's words: " 42 %  1.3 / 3.0 MiB" (KiB for an image under one MiB), then
// the time left when known ("残り約 0:12", translated in the context "TerminalView").
QString ProgressText(int percent, std::uint64_t bytes, std::uint64_t totalBytes,
                     std::optional<std::chrono::seconds> timeLeft);

// The time the rest will take at the pace so far; nothing until there is a pace to go by.
std::optional<std::chrono::seconds> TimeLeft(std::uint64_t bytes, std::uint64_t totalBytes,
                                             std::chrono::steady_clock::duration elapsed);

// Owned by the terminal run; UI thread only (the view hands the worker's calls over first).
// With json, standard output is the JSON stream alone: the descriptor is kept for it, and
// standard output itself is pointed at standard error, so that nothing else the process prints
// (a library's chatter) can slip between the events.
class TerminalReport {
 public:
  explicit TerminalReport(bool json);
  ~TerminalReport();

  TerminalReport(const TerminalReport&) = delete;
  TerminalReport& operator=(const TerminalReport&) = delete;

  bool json() const { return m_json != nullptr; }

  // A box's text, already translated: one line on standard error (line breaks as spaces), and
  // the message event.
  void Message(const QString& text);
  // A line of the operation log, marked "[log] ".
  void Log(const std::string& line);
  // A line of the terminal's own (a note, the question): standard error only. endLine false
  // leaves the cursor after it, for an answer typed there.
  void Notice(const QString& text, bool endLine = true);

  void File(const std::string& name, const std::string& version, std::uint64_t bytes,
            std::uint16_t crc);
  void Device(const std::string& version);
  // A new attempt's writes begin: the pace is measured from here.
  void StartProgress(std::uint64_t totalBytes);
  // percent of the bar, bytes of the image written so far. On a terminal, the one line
  // rewritten in place; otherwise a line at every 10 %; with json, the progress event only.
  void Progress(int percent, std::uint64_t bytes);
  // The last event.
  void End(const char* outcome, int status);

 private:
  void Event(const std::string& object);
  void Line(const QString& text);
  // Ends a progress line left open, so the next line starts on a line of its own.
  void CloseProgressLine();

  std::FILE* m_json = nullptr;
  const bool m_errorIsTerminal;
  bool m_progressLineOpen = false;
  int m_lastTenth = 0;
  std::uint64_t m_totalBytes = 0;
  std::chrono::steady_clock::time_point m_progressStart;
};
