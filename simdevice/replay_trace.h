// Reading a call trace the updater wrote with --record (JSON Lines; format in SCENARIOS.md),
// for the replay setting: one or more sessions, each a header line, then the calls as flat
// JSON objects (version 1: one per call; version 2: one as the call enters, one as it returns).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace simdevice {

// A field's value; traces hold only null, booleans, integers and strings.
struct TraceValue {
  enum class Kind { Null, Bool, Number, Text };
  Kind kind = Kind::Null;
  std::int64_t number = 0;  // Bool: 0 or 1
  std::string text;

  static TraceValue Of(std::int64_t value) { return {Kind::Number, value, {}}; }
  static TraceValue Of(std::string value) { return {Kind::Text, 0, std::move(value)}; }
  static TraceValue OfText(const char* value) {
    return value ? Of(std::string(value)) : TraceValue{};
  }
  friend bool operator==(const TraceValue&, const TraceValue&) = default;
  // As the trace writes it: null, true, 42, "text" (without escapes).
  std::string Show() const;
};

// One recorded call: its fields by name (arguments and results together).
struct TraceRecord {
  std::map<std::string, TraceValue, std::less<>> fields;
  // False for a call whose session has no return record for it: the device never answered.
  bool answered = true;

  // The field, or null when the record has none of that name.
  const TraceValue* Find(std::string_view key) const;
  // A number field, or fallback when missing or not a number.
  std::int64_t NumberOr(std::string_view key, std::int64_t fallback) const;
};

// A trace larger than this is refused rather than read into memory.
inline constexpr std::size_t kMaxTraceFileSize = 256u * 1024 * 1024;

// Parses one line holding a flat JSON object. False with *error set otherwise.
bool ParseTraceLine(std::string_view line, TraceRecord* record, std::string* error);

// What a trace holds for the replay: the calls of its last session.
struct RecordedSession {
  std::vector<TraceRecord> records;  // in order, seq 1, 2, 3 ...
  int sessions = 0;                  // how many sessions the trace holds
  int headerLine = 0;                // the line of the last session's header
};

// Reads a whole trace from text (path only names it in messages): every session is checked
// (header format and version, seq numbers, each return record matching a call that entered and
// had not returned) and the last one's calls come back. False with *error naming the line
// otherwise.
bool ParseTrace(std::string_view text, const std::string& path, RecordedSession* session,
                std::string* error);

// Reads the regular file at path (never blocking on a FIFO or device) and parses it.
bool ReadTraceFile(const std::string& path, RecordedSession* session, std::string* error);

}  // namespace simdevice
