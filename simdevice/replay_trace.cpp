// A small reader for the flat JSON objects of a call trace: nested values and fractions are
// not part of the format and are refused, so that a trace is never half understood.
#include "simdevice/replay_trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "platform/file_chunks.h"
#include "platform/hex_text.h"
#include "usb/trace_format.h"

namespace simdevice {
namespace {

class LineParser {
 public:
  explicit LineParser(std::string_view text) : text_(text) {}

  bool Object(TraceRecord* record, std::string* error) {
    SkipBlanks();
    if (!Take('{')) return Fail("a record is a JSON object: '{' expected", error);
    SkipBlanks();
    if (Take('}')) return End(error);
    for (;;) {
      std::string key;
      TraceValue value;
      SkipBlanks();
      if (!String(&key)) return Fail("a field name in quotes expected", error);
      SkipBlanks();
      if (!Take(':')) return Fail("':' expected after \"" + key + "\"", error);
      SkipBlanks();
      if (!Value(&value)) {
        return Fail("the value of \"" + key + "\" is not null, true, false, an integer or a string",
                    error);
      }
      if (!record->fields.emplace(key, std::move(value)).second) {
        return Fail("the field \"" + key + "\" appears twice", error);
      }
      SkipBlanks();
      if (Take('}')) return End(error);
      if (!Take(',')) return Fail("',' or '}' expected", error);
    }
  }

 private:
  bool Fail(const std::string& message, std::string* error) {
    *error = message + " at column " + std::to_string(index_ + 1);
    return false;
  }
  bool End(std::string* error) {
    SkipBlanks();
    return index_ == text_.size() || Fail("text after the record", error);
  }
  void SkipBlanks() {
    while (index_ < text_.size() && (text_[index_] == ' ' || text_[index_] == '\t' ||
                                     text_[index_] == '\r' || text_[index_] == '\n')) {
      ++index_;
    }
  }
  bool Take(char expected) {
    if (index_ < text_.size() && text_[index_] == expected) {
      ++index_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(index_, word.size()) != word) return false;
    index_ += word.size();
    return true;
  }
  // The four hex digits of a "\u" escape.
  bool CodeUnit(std::uint32_t* value) {
    if (!platform::ParseHex4(text_.substr(index_), value)) return false;
    index_ += 4;
    return true;
  }
  static void AppendUtf8(std::uint32_t codePoint, std::string* text) {
    if (codePoint < 0x80) {
      *text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
      *text += static_cast<char>(0xC0 | (codePoint >> 6));
      *text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
      *text += static_cast<char>(0xE0 | (codePoint >> 12));
      *text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      *text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
      *text += static_cast<char>(0xF0 | (codePoint >> 18));
      *text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
      *text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
      *text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
  }
  bool String(std::string* text) {
    if (!Take('"')) return false;
    while (index_ < text_.size()) {
      const char character = text_[index_++];
      if (character == '"') return true;
      if (static_cast<unsigned char>(character) < 0x20) return false;
      if (character != '\\') {
        *text += character;
        continue;
      }
      if (index_ >= text_.size()) return false;
      const char escape = text_[index_++];
      static constexpr std::string_view kEscapes = "\"\\/bfnrt";
      static constexpr std::string_view kMeanings = "\"\\/\b\f\n\r\t";
      if (const std::size_t at = kEscapes.find(escape); at != std::string_view::npos) {
        *text += kMeanings[at];
        continue;
      }
      std::uint32_t codePoint = 0;
      if (escape != 'u' || !CodeUnit(&codePoint)) return false;
      if (codePoint >= 0xD800 && codePoint < 0xDC00) {
        std::uint32_t low = 0;
        if (!Word("\\u") || !CodeUnit(&low) || low < 0xDC00 || low > 0xDFFF) return false;
        codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
      } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
        return false;
      }
      AppendUtf8(codePoint, text);
    }
    return false;
  }
  bool Value(TraceValue* value) {
    if (index_ < text_.size() && text_[index_] == '"') {
      value->kind = TraceValue::Kind::Text;
      return String(&value->text);
    }
    if (Word("null")) return true;
    if (Word("true") || Word("false")) {
      value->kind = TraceValue::Kind::Bool;
      value->number = text_[index_ - 4] == 't' ? 1 : 0;  // "true" or "alse"
      return true;
    }
    const char* start = text_.data() + index_;
    const char* end = text_.data() + text_.size();
    auto [stop, failure] = std::from_chars(start, end, value->number);
    if (failure != std::errc() || stop == start) return false;
    // A fraction or an exponent is not an integer of the format.
    if (stop != end && (*stop == '.' || *stop == 'e' || *stop == 'E')) return false;
    index_ += static_cast<std::size_t>(stop - start);
    value->kind = TraceValue::Kind::Number;
    return true;
  }

  std::string_view text_;
  std::size_t index_ = 0;
};

}  // namespace

std::string TraceValue::Show() const {
  switch (kind) {
    case Kind::Null:
      return "null";
    case Kind::Bool:
      return number != 0 ? "true" : "false";
    case Kind::Number:
      return std::to_string(number);
    case Kind::Text:
      return "\"" + text + "\"";
  }
  return {};
}

const TraceValue* TraceRecord::Find(std::string_view key) const {
  const auto found = fields.find(key);
  return found != fields.end() ? &found->second : nullptr;
}

std::int64_t TraceRecord::NumberOr(std::string_view key, std::int64_t fallback) const {
  const TraceValue* value = Find(key);
  return value != nullptr && value->kind == TraceValue::Kind::Number ? value->number : fallback;
}

bool ParseTraceLine(std::string_view line, TraceRecord* record, std::string* error) {
  return LineParser(line).Object(record, error);
}

namespace {

// The calls of one session as they are read; Finish checks its end.
class SessionReader {
 public:
  SessionReader(int version, RecordedSession* session) : version_(version), session_(session) {
    session_->records.clear();
  }

  bool Add(TraceRecord record, std::string* problem) {
    const std::int64_t seq = record.NumberOr(trace_format::kSeq, 0);
    const bool entering = record.Find(trace_format::kOp) != nullptr;
    std::vector<TraceRecord>& records = session_->records;
    if (version_ == 1 || entering) {
      if (version_ == 1 && !entering) return Refuse("a record without \"op\"", problem);
      const std::int64_t expected = static_cast<std::int64_t>(records.size()) + 1;
      if (seq != expected) return Refuse("seq " + std::to_string(expected) + " expected", problem);
      records.push_back(std::move(record));
      // Version 2: unanswered until its return record comes, if ever.
      records.back().answered = version_ == 1;
      return true;
    }
    // The return of a call that has entered and not yet returned: its results join its
    // arguments. Normally the call just entered; another thread's call may have come between.
    if (seq < 1 || seq > static_cast<std::int64_t>(records.size()) ||
        records[static_cast<std::size_t>(seq - 1)].answered) {
      return Refuse("a return record without its call (seq " + std::to_string(seq) + ")", problem);
    }
    TraceRecord& call = records[static_cast<std::size_t>(seq - 1)];
    for (auto& [key, value] : record.fields) {
      if (key == trace_format::kSeq || key == trace_format::kMs) continue;
      if (key == trace_format::kInterface || key == trace_format::kObject ||
          !call.fields.emplace(key, std::move(value)).second) {
        return Refuse("the field \"" + key + "\" is already in the call's record", problem);
      }
    }
    call.answered = true;
    return true;
  }

 private:
  static bool Refuse(const std::string& message, std::string* problem) {
    *problem = message;
    return false;
  }

  const int version_;
  RecordedSession* const session_;
};

}  // namespace

bool ParseTrace(std::string_view text, const std::string& path, RecordedSession* session,
                std::string* error) {
  if (text.size() > kMaxTraceFileSize) {
    *error =
        "the trace '" + path + "' is larger than " + std::to_string(kMaxTraceFileSize) + " bytes";
    return false;
  }
  *session = RecordedSession();
  std::optional<SessionReader> reader;
  std::string_view rest = text;
  for (int number = 1; !rest.empty(); ++number) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const std::string where = "trace '" + path + "' line " + std::to_string(number) + ": ";
    TraceRecord record;
    std::string problem;
    if (!ParseTraceLine(line, &record, &problem)) {
      *error = where + problem;
      return false;
    }
    // A header starts a session: a later recording into the same file, or a new load.
    if (record.Find(trace_format::kFormat) != nullptr || !reader) {
      const TraceValue* format = record.Find(trace_format::kFormat);
      const std::int64_t version = record.NumberOr(trace_format::kVersion, 0);
      if (format == nullptr || *format != TraceValue::Of(std::string(trace_format::kFormatName)) ||
          version < 1 || version > trace_format::kFormatVersion) {
        *error = where + "not the header of a version 1 to " +
                 std::to_string(trace_format::kFormatVersion) + " trace of scribolante-fw-updater";
        return false;
      }
      reader.emplace(static_cast<int>(version), session);
      ++session->sessions;
      session->headerLine = number;
      continue;
    }
    if (!reader->Add(std::move(record), &problem)) {
      *error = where + problem;
      return false;
    }
  }
  if (!reader) {
    *error = "trace '" + path + "' is empty";
    return false;
  }
  return true;
}

bool ReadTraceFile(const std::string& path, RecordedSession* session, std::string* error) {
  // Without blocking: a trace named in a scenario may be a FIFO nobody writes.
  const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat status {};
  if (file < 0 || ::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
    const std::string reason = file < 0 ? std::strerror(errno) : "not a regular file";
    if (file >= 0) ::close(file);
    *error = "cannot read the trace '" + path + "': " + reason;
    return false;
  }
  std::string text;
  char buffer[65536];
  // Past the limit one chunk is enough for ParseTrace to refuse the file as too large.
  const platform::ChunkReadEnd end =
      platform::ReadInChunks(file, buffer, [&text](const char* bytes, std::size_t size) {
        if (text.size() > kMaxTraceFileSize) return false;
        text.append(bytes, size);
        return true;
      });
  if (end == platform::ChunkReadEnd::Failed) {
    *error = "cannot read the trace '" + path + "': " + std::strerror(errno);
    ::close(file);
    return false;
  }
  ::close(file);
  return ParseTrace(text, path, session, error);
}

}  // namespace simdevice
