// The call trace: one line per library call appended to a file, each written out at once, so
// a test or a person can follow what the updater asked of the device even after a crash.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace simdevice {

class TraceWriter {
 public:
  // Opens (creating if missing) the file for appending. Null with *error set on failure.
  static std::unique_ptr<TraceWriter> Open(const std::string& path, std::string* error);
  ~TraceWriter();

  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Appends the line and a line break in one write. Safe from any thread. A failing write
  // (disk full) is ignored: the trace must never change what the device does.
  void WriteLine(std::string_view line);

 private:
  explicit TraceWriter(int file) : file_(file) {}

  std::mutex mutex_;
  int file_;
};

}  // namespace simdevice
