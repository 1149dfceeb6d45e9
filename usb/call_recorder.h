// The call trace the program writes with --record: every call it makes into the vendor library,
// as JSON Lines (a header, then two records per call, one as it enters the library and one as
// it returns; format in simdevice/SCENARIOS.md), so that a session with a real device can be
// replayed by the simulated library, up to a call the device never answered.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace usb {

// The fields of one record, in the order added, as the inside of a JSON object. Strings are
// written as the library's bytes, with '"', '\' and control characters escaped.
class TraceFields {
 public:
  TraceFields& Number(std::string_view key, std::int64_t value);
  TraceFields& Text(std::string_view key, std::string_view value);
  // A string, or null for a null pointer.
  TraceFields& TextOrNull(std::string_view key, const char* value);
  TraceFields& Null(std::string_view key);
  TraceFields& Bool(std::string_view key, bool value);

  const std::string& body() const { return body_; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

// The kinds of library object a record names; each kind is numbered from 1 in the order the
// library hands them out.
enum class TracedObject { Agent, UsbDevice, HidDevice, DeviceInfo };

// One trace file. Thread-safe: the UI thread and the update worker both record through it.
// Writing never changes a call and never holds one: the file is a regular file opened without
// blocking, and a write that fails or would block is reported once on standard error and ends
// the recording while the program goes on.
class CallRecorder {
 public:
  // Opens a regular file for appending: a new or empty file, or one that already holds a trace
  // (this recording is appended after it as a session of its own). Nothing is ever emptied or
  // overwritten. A FIFO, socket, device or folder is refused without being opened for writing,
  // and a file holding anything else is left alone (it may be the firmware the user meant to
  // name): null with *error set to one line, as for a file that cannot be opened.
  static std::unique_ptr<CallRecorder> Open(const std::string& path, std::string programVersion,
                                            std::string* error);
  ~CallRecorder();

  CallRecorder(const CallRecorder&) = delete;
  CallRecorder& operator=(const CallRecorder&) = delete;

  // A load of the vendor library: that file, with its size and SHA-256 (null when it cannot be
  // read), and whether the load succeeded. A load unlike the last one written (another file, or
  // success after failure) starts a new session with its own header, so every header describes
  // the load whose calls follow it; repeating the same load adds nothing.
  void NoteLibrary(const std::string& libraryPath, bool loaded);

  // Writes the record of a call about to enter the library: seq, ms, interface, object (when
  // not 0), op, then the arguments. Returns the seq that Return completes.
  std::int64_t Enter(std::string_view interfaceName, int object, std::string_view operation,
                     const TraceFields& arguments);
  // Writes what the call of that seq returned: seq, ms, then the results.
  void Return(std::int64_t sequence, const TraceFields& results);

  // The next number of an object of that kind.
  int NewObject(TracedObject kind);

 private:
  CallRecorder(int file, std::string path, std::string programVersion, bool needsLineBreak);
  // Writes one line; on the first failure says so once and stops recording. Needs mutex_.
  void WriteLine(std::string line);
  // Starts a session. Needs mutex_.
  void WriteHeader(const std::string* libraryPath, bool loaded);
  std::int64_t ElapsedMs() const;

  std::mutex mutex_;
  int file_;
  const std::string path_;
  const std::string programVersion_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  const std::chrono::system_clock::time_point startTime_ = std::chrono::system_clock::now();
  bool needsLineBreak_;  // an earlier trace in the file ends without one
  bool headerWritten_ = false;
  std::string headerLibrary_;  // the load the last header describes
  bool headerLoaded_ = false;
  bool failed_ = false;
  std::int64_t sequence_ = 0;
  int objects_[4] = {};
};

// Starts recording into path for the rest of the process (or until StopCallRecording): the
// vendor objects the HID device agent obtains from then on are recorded. false with *error
// (one line) when the file cannot be used; nothing is recorded then.
bool StartCallRecording(const std::string& path, const std::string& programVersion,
                        std::string* error);
// Objects obtained before keep recording into their recorder; new ones are not recorded.
void StopCallRecording();
// The recorder new vendor objects are recorded into, or null. Any thread.
std::shared_ptr<CallRecorder> ActiveCallRecorder();

}  // namespace usb
