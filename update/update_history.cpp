// Appends the lines of the update history: one write of a whole line, under the file's lock, to
// a file opened for appending, so that two copies of the program never interleave their lines;
// and the line of the open attempt kept ready for an ending that can only make system calls.
#include "update/update_history.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "platform/hex_text.h"

namespace {

constexpr const char* kHistoryFolder = "scribolante-fw-updater";
constexpr const char* kHistoryFileName = "history.log";
// Long enough for the time field "2026-12-08T16:31:05+09:00".
constexpr std::size_t kTimeFieldLength = 25;
// A line is at least this long (the time, five tabs, the length and the CRC), so a file shorter
// than this many times kHistoryLinesKept cannot hold too many lines.
constexpr std::size_t kShortestLine = kTimeFieldLength + 5 + 1 + 4;
// A history that has grown beyond this (written by something else) is trimmed from its tail.
constexpr off_t kLongestHistoryRead = 16 << 20;

std::mutex historyMutex;
std::optional<HistoryAttempt> openAttempt;  // guarded by historyMutex
bool failureReported = false;               // guarded by historyMutex

// The open attempt as the ending finds it. BeginHistoryAttempt fills the buffers while the state
// is kPreparing and publishes them with kReady; the first ending moves kReady on (the ordinary
// one to kNothing, EndHistoryAttemptNow to kWriting while it reads them), so an attempt
// ends exactly once.
enum PreparedState : int { kNothing, kPreparing, kReady, kWriting };
std::atomic<int> preparedState{kNothing};
static_assert(std::atomic<int>::is_always_lock_free);
char preparedPath[4096];
// A line break (written only after a line left unfinished), the line, its line break.
char preparedLine[4096];
std::size_t preparedLength = 0;  // 0: the line did not fit, nothing to write
long preparedOffsetSeconds = 0;  // the UTC offset of the attempt's start

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

void PutDigits(char* out, long long value, int count) {
  for (int index = count - 1; index >= 0; --index) {
    out[index] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// "YYYY-MM-DDTHH:MM:SS" of a count of seconds in local time, written into out[0..18] with
// arithmetic alone (localtime_r takes a lock): the civil date from days since 1970-01-01.
void PutCivilTime(long long seconds, char* out) {
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  if (year < 0 || year > 9999) return;  // the time field keeps what it had
  PutDigits(out, year, 4);
  PutDigits(out + 5, month, 2);
  PutDigits(out + 8, day, 2);
  PutDigits(out + 11, rest / 3600, 2);
  PutDigits(out + 14, rest / 60 % 60, 2);
  PutDigits(out + 17, rest % 60, 2);
}

// Creates the folders of path that are missing, each with mode 0700 as the folders of a user's
// state should be; folders that exist are left as they are. 0, or the errno of the failure.
int CreateFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

// Opens the history for appending (created with mode 0600) with its lock held. A file that
// another copy renamed over while this one waited for the lock is opened again. waitBriefly:
// try the lock for about a second and then write without it, for an ending that must not wait
// on anyone. Async-signal-safe. The descriptor, or -1 with errno.
int OpenLocked(const char* path, bool waitBriefly) {
  for (int round = 0; round < 8; ++round) {
    const int file = ::open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    if (file < 0) return -1;
    bool locked = false;
    for (int attempt = 0; !locked && attempt < 100; ++attempt) {
      locked = ::flock(file, waitBriefly ? LOCK_EX | LOCK_NB : LOCK_EX) == 0;
      if (!locked && !waitBriefly && errno != EINTR) break;
      if (!locked && waitBriefly) {
        const timespec pause{0, 10'000'000};
        ::nanosleep(&pause, nullptr);
      }
    }
    if (!locked) return file;
    struct stat opened {};
    struct stat named {};
    if (::fstat(file, &opened) == 0 && ::stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino) {
      return file;
    }
    ::close(file);
  }
  errno = EAGAIN;
  return -1;
}

// Appends one line to the history opened by OpenLocked. text[0] is a line break written only
// when the file ends in a line left unfinished, text[1..length) the line with its own line
// break; it goes in one write. A short write is cut back off, so the file never ends in a part
// of this line that the next one would run on from. Async-signal-safe. 0, or an errno.
int AppendWholeLine(int file, const char* text, std::size_t length) {
  struct stat status {};
  if (::fstat(file, &status) != 0) return errno;
  const off_t before = status.st_size;
  char last = '\n';
  if (before > 0 && ::pread(file, &last, 1, before - 1) != 1) last = '\n';
  const char* start = last == '\n' ? text + 1 : text;
  const std::size_t count = length - static_cast<std::size_t>(start - text);
  ssize_t written;
  do {
    written = ::write(file, start, count);
  } while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(count)) return 0;
  const int error = written < 0 ? errno : ENOSPC;
  // Should the cut fail too, the next line starts with a line break of its own.
  [[maybe_unused]] const int cut = written > 0 ? ::ftruncate(file, before) : 0;
  return error;
}

// Keeps the newest kHistoryLinesKept lines of the history opened (and locked) as file: a file
// with more is rewritten beside itself and renamed over, so a reader never sees half of it.
// An empty string, or why it failed.
std::string KeepNewestLines(int file, const std::string& path) {
  struct stat status {};
  if (::fstat(file, &status) != 0) return std::strerror(errno);
  if (static_cast<std::size_t>(status.st_size) <= kHistoryLinesKept * kShortestLine) return {};
  const off_t from = std::max<off_t>(0, status.st_size - kLongestHistoryRead);
  std::string text(static_cast<std::size_t>(status.st_size - from), '\0');
  if (::pread(file, text.data(), text.size(), from) != static_cast<ssize_t>(text.size())) {
    return "cannot read the history back";
  }
  // The start of the newest lines: just after the line break before them.
  std::size_t keepFrom = text.size();
  std::size_t lines = 0;
  for (std::size_t position = text.size(); position > 0; --position) {
    if (text[position - 1] != '\n' || position == text.size()) continue;
    if (++lines == kHistoryLinesKept) {
      keepFrom = position;
      break;
    }
  }
  if (keepFrom == text.size()) {
    if (from == 0) return {};  // no more lines than kept
    // A tail of fewer lines than kept, of a file too large to read: keep its whole lines.
    const std::size_t first = text.find('\n');
    keepFrom = first == std::string::npos ? text.size() : first + 1;
  }

  std::string temporary = path + ".XXXXXX";
  const int copy = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (copy < 0) return std::strerror(errno);
  const std::size_t count = text.size() - keepFrom;
  const bool written =
      ::write(copy, text.data() + keepFrom, count) == static_cast<ssize_t>(count) &&
      ::fsync(copy) == 0;
  const int error = errno;
  if (::close(copy) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return std::strerror(written ? errno : error);
  }
  return {};
}

// Creates the folders and appends line (with its leading break, see AppendWholeLine), then
// keeps the history to its bound. An empty string, or why it failed.
std::string Append(const std::string& path, const std::string& line) {
  if (const int error = CreateFolders(path)) return std::strerror(error);
  const int file = OpenLocked(path.c_str(), false);
  if (file < 0) return std::strerror(errno);
  std::string failure;
  if (const int error = AppendWholeLine(file, line.data(), line.size())) {
    failure = std::strerror(error);
  } else {
    failure = KeepNewestLines(file, path);
  }
  if (::close(file) != 0 && failure.empty()) failure = std::strerror(errno);
  return failure;
}

// The line EndHistoryAttemptNow writes, made ready while the state is kPreparing.
void Prepare(const HistoryAttempt& attempt, const std::string& path, std::time_t now) {
  preparedLength = 0;
  tzset();
  std::tm local{};
  preparedOffsetSeconds = localtime_r(&now, &local) != nullptr ? local.tm_gmtoff : 0;
  const std::string line = FormatHistoryLine(attempt, kHistoryClosed, now);
  if (path.empty() || path.size() >= sizeof preparedPath || line.size() + 2 > sizeof preparedLine) {
    return;
  }
  std::memcpy(preparedPath, path.c_str(), path.size() + 1);
  preparedLine[0] = '\n';
  std::memcpy(preparedLine + 1, line.data(), line.size());
  preparedLine[line.size() + 1] = '\n';
  preparedLength = line.size() + 2;
  // The ending writes its own time over the first field: it must have the prepared width.
  if (line.size() < kTimeFieldLength || line[kTimeFieldLength] != '\t') preparedLength = 0;
}

}  // namespace

void BeginHistoryAttempt(const HistoryAttempt& attempt) {
  const std::time_t now = std::time(nullptr);
  const std::lock_guard lock(historyMutex);
  int state = preparedState.load(std::memory_order_acquire);
  do {
    if (state == kWriting) return;  // the process is ending
  } while (!preparedState.compare_exchange_weak(state, kPreparing, std::memory_order_acq_rel));
  openAttempt = attempt;
  const std::string path = HistoryFilePath();
  // Ready for an ending that cannot create them; a failure shows when the line is written.
  if (!path.empty()) CreateFolders(path);
  Prepare(attempt, path, now);
  preparedState.store(kReady, std::memory_order_release);
}

void EndHistoryAttempt(std::string_view outcome) {
  const std::time_t now = std::time(nullptr);
  const std::lock_guard lock(historyMutex);
  int ready = kReady;
  if (!preparedState.compare_exchange_strong(ready, kNothing, std::memory_order_acq_rel)) return;
  if (!openAttempt) return;
  // The leading break is written only after a line left unfinished (AppendWholeLine).
  std::string line = "\n";
  line.append(FormatHistoryLine(*openAttempt, outcome, now)).append("\n");
  openAttempt.reset();
  const std::string path = HistoryFilePath();
  const std::string failure = path.empty() ? "no home folder" : Append(path, line);
  if (!failure.empty() && !failureReported) {
    failureReported = true;
    std::fprintf(stderr,
                 "scribolante-fw-updater: the update history could not be written (%s: %s)\n",
                 path.empty() ? "history.log" : path.c_str(), failure.c_str());
  }
}

void EndHistoryAttemptNow() noexcept {
  int ready = kReady;
  if (!preparedState.compare_exchange_strong(ready, kWriting, std::memory_order_acq_rel)) return;
  const int savedErrno = errno;
  if (preparedLength > 0) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    PutCivilTime(static_cast<long long>(now.tv_sec) + preparedOffsetSeconds, preparedLine + 1);
    const int file = OpenLocked(preparedPath, true);
    if (file >= 0) {
      AppendWholeLine(file, preparedLine, preparedLength);
      ::close(file);
    }
  }
  errno = savedErrno;
  preparedState.store(kNothing, std::memory_order_release);
}

bool HistoryAttemptOpen() {
  return preparedState.load(std::memory_order_acquire) == kReady;
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
  return LocalTime(when) + "\t" + Escaped(attempt.firmwareFileName) + "\t" +
         std::to_string(attempt.fileLength) + "\t" + platform::UpperHex4(attempt.crc) + "\t" +
         Escaped(attempt.deviceVersion) + "\t" + Escaped(OneLine(outcome));
}
