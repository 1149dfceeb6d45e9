// Appends the lines of the update history: one write of a whole line to a file opened for
// appending, so that two copies of the program never interleave their lines.
#include "update/update_history.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>

namespace {

constexpr const char* kHistoryFolder = "scribolante-fw-updater";
constexpr const char* kHistoryFileName = "history.log";

std::mutex historyMutex;
std::optional<HistoryAttempt> openAttempt;  // guarded by historyMutex
bool failureReported = false;               // guarded by historyMutex

// Control characters would break the line or its fields; backslash is escaped so that the
// escapes can be told from the text.
std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

// A message of several lines becomes one, its lines joined by a space.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line;
}

std::string LocalTime(std::time_t when) {
  std::tm local{};
  // The zone as it is now, not as it was at the first call (localtime_r alone keeps that).
  tzset();
  if (localtime_r(&when, &local) == nullptr) return "0000-00-00T00:00:00+00:00";
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff;
  // Offsets lie within a day; the bound only keeps the text short.
  const int minutes = static_cast<int>(std::min((offset < 0 ? -offset : offset) / 60, 24L * 60));
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return std::string(stamp) + zone;
}

// Creates the folders and appends line in one write. An empty string, or why it failed.
std::string Append(const std::string& path, const std::string& line) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  if (error) return error.message();
  const int file = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (file < 0) return std::strerror(errno);
  std::string failure;
  const char* next = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t written = ::write(file, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure = written < 0 ? std::strerror(errno) : "nothing written";
      break;
    }
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::close(file) != 0 && failure.empty()) failure = std::strerror(errno);
  return failure;
}

}  // namespace

void BeginHistoryAttempt(const HistoryAttempt& attempt) {
  const std::lock_guard lock(historyMutex);
  openAttempt = attempt;
}

void EndHistoryAttempt(std::string_view outcome) {
  const std::time_t now = std::time(nullptr);
  const std::lock_guard lock(historyMutex);
  if (!openAttempt) return;
  const std::string line = FormatHistoryLine(*openAttempt, outcome, now) + "\n";
  openAttempt.reset();
  const std::string path = HistoryFilePath();
  const std::string failure = path.empty() ? "no home folder" : Append(path, line);
  if (!failure.empty() && !failureReported) {
    failureReported = true;
    std::fprintf(stderr, "scribolante-fw-updater: the update history could not be written (%s: %s)\n",
                 path.empty() ? "history.log" : path.c_str(), failure.c_str());
  }
}

bool HistoryAttemptOpen() {
  const std::lock_guard lock(historyMutex);
  return openAttempt.has_value();
}

std::string HistoryFilePath() {
  std::string base;
  const char* state = std::getenv("XDG_STATE_HOME");
  // A relative XDG_STATE_HOME is to be ignored; it would also point into the working folder.
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    base = std::string(home) + "/.local/state";
  }
  return base + "/" + kHistoryFolder + "/" + kHistoryFileName;
}

std::string FormatHistoryLine(const HistoryAttempt& attempt, std::string_view outcome,
                              std::time_t when) {
  char crc[8];
  std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(attempt.crc));
  return LocalTime(when) + "\t" + Escaped(attempt.firmwareFileName) + "\t" +
         std::to_string(attempt.fileLength) + "\t" + crc + "\t" + Escaped(attempt.deviceVersion) +
         "\t" + Escaped(OneLine(outcome));
}
