// The --record trace file: JSON Lines appended straight to the file, one write per line, so a
// trace stays readable up to its last call, the one that never returned included, even when
// the program is killed.
#include "usb/call_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/file_chunks.h"
#include "platform/hex_text.h"
#include "platform/json_string.h"
#include "platform/sha256.h"
#include "usb/trace_format.h"

namespace usb {
namespace {

// Only a file that is already a trace (or an empty one) is added to.
using trace_format::kTraceStart;

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const auto sinceEpoch = time.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(milliseconds));
  return text;
}

// Size and SHA-256 of a file; false when it cannot be read to its end.
bool HashFile(const std::string& path, std::int64_t* size, std::string* sha256) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  platform::Sha256 hash;
  std::int64_t total = 0;
  char buffer[65536];
  const platform::ChunkReadEnd end =
      platform::ReadInChunks(file, buffer, [&](const char* bytes, std::size_t size) {
        hash.Update(bytes, size);
        total += static_cast<std::int64_t>(size);
        return true;
      });
  ::close(file);
  if (end != platform::ChunkReadEnd::EndOfFile) return false;
  const auto digest = hash.Finish();
  *size = total;
  *sha256 = platform::HexDigits(digest.data(), digest.size());
  return true;
}

const char* KindOfFile(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a file";
}

ssize_t ReadAt(int file, char* buffer, std::size_t size, off_t offset) {
  ssize_t got = 0;
  do {
    got = ::pread(file, buffer, size, offset);
  } while (got < 0 && errno == EINTR);
  return got;
}

std::mutex activeMutex;
std::shared_ptr<CallRecorder> activeRecorder;

}  // namespace

void TraceFields::Key(std::string_view key) {
  if (!body_.empty()) body_ += ',';
  body_ += platform::JsonString(key);
  body_ += ':';
}

TraceFields& TraceFields::Number(std::string_view key, std::int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

TraceFields& TraceFields::Text(std::string_view key, std::string_view value) {
  Key(key);
  body_ += platform::JsonString(value);
  return *this;
}

TraceFields& TraceFields::TextOrNull(std::string_view key, const char* value) {
  return value != nullptr ? Text(key, value) : Null(key);
}

TraceFields& TraceFields::Null(std::string_view key) {
  Key(key);
  body_ += "null";
  return *this;
}

TraceFields& TraceFields::Bool(std::string_view key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

std::unique_ptr<CallRecorder> CallRecorder::Open(const std::string& path,
                                                 std::string programVersion, std::string* error) {
  // A FIFO, a socket or a device is never opened: a write into a pipe nobody reads would
  // block, and opening a device can act on it. Checked again on the open file below, in case
  // the name changed in between.
  struct stat named {};
  if (::stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
    *error = "the trace " + path + " is " + KindOfFile(named.st_mode) + ", not a regular file";
    return nullptr;
  }
  // Read-write only to check what the file already holds; appended to, never truncated.
  const int file =
      ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (file < 0) {
    *error = "cannot write the trace " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat status {};
  if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(file);
    *error = "the trace " + path + " is " + KindOfFile(status.st_mode) + ", not a regular file";
    return nullptr;
  }
  bool needsLineBreak = false;
  if (status.st_size > 0) {
    // Only a trace of an earlier run is added to: anything else is not ours to touch.
    char start[kTraceStart.size()];
    const ssize_t got = ReadAt(file, start, sizeof start, 0);
    if (std::string_view(start, got > 0 ? static_cast<std::size_t>(got) : 0) != kTraceStart) {
      ::close(file);
      *error = "the trace file " + path + " exists and is not a trace; it is left as it is";
      return nullptr;
    }
    // An earlier recording cut off in mid-line keeps that line to itself.
    char last = '\n';
    needsLineBreak = ReadAt(file, &last, 1, status.st_size - 1) == 1 && last != '\n';
  }
  return std::unique_ptr<CallRecorder>(
      new CallRecorder(file, path, std::move(programVersion), needsLineBreak));
}

CallRecorder::CallRecorder(int file, std::string path, std::string programVersion,
                           bool needsLineBreak)
    : file_(file),
      path_(std::move(path)),
      programVersion_(std::move(programVersion)),
      needsLineBreak_(needsLineBreak) {}

CallRecorder::~CallRecorder() {
  ::close(file_);
}

void CallRecorder::WriteLine(std::string line) {
  if (failed_) return;
  if (needsLineBreak_) line.insert(line.begin(), '\n');
  line += '\n';
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t result = ::write(file_, line.data() + written, line.size() - written);
    if (result < 0 && errno == EINTR) continue;
    // A write that would block ends the recording as a failing one does: waiting for the
    // trace would hold the call and with it the update.
    if (result <= 0) {
      const std::string reason = result < 0 ? std::strerror(errno) : "nothing written";
      std::fprintf(stderr,
                   "scribolante-fw-updater: the trace %s cannot be written (%s); recording "
                   "stops, the update goes on\n",
                   path_.c_str(), reason.c_str());
      std::fflush(stderr);
      failed_ = true;
      return;
    }
    written += static_cast<std::size_t>(result);
  }
  needsLineBreak_ = false;
}

void CallRecorder::WriteHeader(const std::string* libraryPath, bool loaded) {
  headerWritten_ = true;
  headerLibrary_ = libraryPath != nullptr ? *libraryPath : std::string();
  headerLoaded_ = loaded;
  // Each session numbers its calls from 1.
  sequence_ = 0;
  TraceFields header;
  header.Text(trace_format::kFormat, trace_format::kFormatName)
      .Number(trace_format::kVersion, trace_format::kFormatVersion);
  header.Text("program", programVersion_);
  std::int64_t size = 0;
  std::string sha256;
  if (libraryPath == nullptr || libraryPath->empty()) {
    header.Null("library");
  } else {
    header.Text("library", *libraryPath);
  }
  if (libraryPath != nullptr && !libraryPath->empty() && HashFile(*libraryPath, &size, &sha256)) {
    header.Number("librarySize", size).Text("librarySha256", sha256);
  } else {
    header.Null("librarySize").Null("librarySha256");
  }
  header.Bool("libraryLoaded", loaded).Text("started", IsoTime(startTime_));
  WriteLine("{" + header.body() + "}");
}

void CallRecorder::NoteLibrary(const std::string& libraryPath, bool loaded) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (headerWritten_ && headerLibrary_ == libraryPath && headerLoaded_ == loaded) return;
  WriteHeader(&libraryPath, loaded);
}

std::int64_t CallRecorder::ElapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start_)
      .count();
}

std::int64_t CallRecorder::Enter(std::string_view interfaceName, int object,
                                 std::string_view operation, const TraceFields& arguments) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A call reaches a library that has loaded, even when the load itself was not seen (the
  // recording started after it): the header says so rather than guess the file.
  if (!headerWritten_) WriteHeader(nullptr, true);
  const std::int64_t sequence = ++sequence_;
  TraceFields record;
  record.Number(trace_format::kSeq, sequence).Number(trace_format::kMs, ElapsedMs());
  record.Text(trace_format::kInterface, interfaceName);
  if (object != 0) record.Number(trace_format::kObject, object);
  record.Text(trace_format::kOp, operation);
  std::string line = "{" + record.body();
  if (!arguments.body().empty()) line.append(",").append(arguments.body());
  WriteLine(line + "}");
  return sequence;
}

void CallRecorder::Return(std::int64_t sequence, const TraceFields& results) {
  std::lock_guard<std::mutex> lock(mutex_);
  TraceFields record;
  record.Number(trace_format::kSeq, sequence).Number(trace_format::kMs, ElapsedMs());
  std::string line = "{" + record.body();
  if (!results.body().empty()) line.append(",").append(results.body());
  WriteLine(line + "}");
}

int CallRecorder::NewObject(TracedObject kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ++objects_[static_cast<int>(kind)];
}

bool StartCallRecording(const std::string& path, const std::string& programVersion,
                        std::string* error) {
  std::shared_ptr<CallRecorder> recorder = CallRecorder::Open(path, programVersion, error);
  if (!recorder) return false;
  std::lock_guard<std::mutex> lock(activeMutex);
  activeRecorder = std::move(recorder);
  return true;
}

void StopCallRecording() {
  std::lock_guard<std::mutex> lock(activeMutex);
  activeRecorder.reset();
}

std::shared_ptr<CallRecorder> ActiveCallRecorder() {
  std::lock_guard<std::mutex> lock(activeMutex);
  return activeRecorder;
}

}  // namespace usb
