// Reading a call trace the updater wrote with --record (JSON Lines; format in SCENARIOS.md),
// for the replay setting: a header line, then one flat JSON object per call.
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

// One recorded call: its fields by name.
struct TraceRecord {
  std::map<std::string, TraceValue, std::less<>> fields;

  // The field, or null when the record has none of that name.
  const TraceValue* Find(std::string_view key) const;
  // A number field, or fallback when missing or not a number.
  std::int64_t NumberOr(std::string_view key, std::int64_t fallback) const;
};

inline constexpr const char* kTraceFormatName = "scribolante-fw-updater-trace";
inline constexpr int kTraceFormatVersion = 1;
// A trace larger than this is refused rather than read into memory.
inline constexpr std::size_t kMaxTraceFileSize = 256u * 1024 * 1024;

// Parses one line holding a flat JSON object. False with *error set otherwise.
bool ParseTraceLine(std::string_view line, TraceRecord* record, std::string* error);

// Reads a whole trace: the header is checked (format and version), the records come back in
// order, their seq numbers 1, 2, 3 ... False with *error naming the line otherwise.
bool ReadTraceFile(const std::string& path, std::vector<TraceRecord>* records, std::string* error);

}  // namespace simdevice
