// Reading scenario text one line at a time: the words of a line, the numbers in them and the
// settings already given, each mistake as the message a scenario error carries. What each
// setting means is the parser's (scenario_parser.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simdevice {

// A word as the messages quote it: 'word'.
std::string Quote(std::string_view text);

class ScenarioLineReader {
 public:
  // The largest number of scans, calls, exchanges, blocks or bytes a setting may name.
  static constexpr std::int64_t kMaxCount = 4294967295;

  // Takes line number `number` apart into its blank-separated words, the comment from '#' on
  // removed; false with message() set when the line is not valid UTF-8 text.
  bool ReadLine(int number, std::string_view line);

  const std::string& message() const { return message_; }

 protected:
  int lineNumber() const { return line_; }
  // The words of the line last read; none for a blank or comment line.
  const std::vector<std::string_view>& words() const { return words_; }
  // The rest of the line after its first word, blanks around it removed: a path that may hold
  // blanks.
  std::string_view RestOfLine() const;

  // Sets message() to text; always false, so a check can end with `return Fail(...)`.
  bool Fail(std::string text) {
    message_ = std::move(text);
    return false;
  }
  // Claims key for the current line: 0 when no line claimed it before, else that line.
  int Claim(const std::string& key);
  // A setting that may be given only once (per distinct key, e.g. "fail transfer 3").
  bool ClaimOnce(const std::string& setting);
  // word as a number in min..max, decimal or 0x-hexadecimal, what naming it in the message.
  bool Number(std::string_view word, std::string_view what, std::int64_t min, std::int64_t max,
              std::int64_t* value);
  // word as a 1-based count (1..kMaxCount).
  bool Count(std::string_view word, std::string_view what, std::uint64_t* value);
  // word as a failure code: any int but 0, which means success.
  bool Code(std::string_view word, int* code);

 private:
  std::string message_;
  int line_ = 0;
  std::vector<std::string_view> words_;
  std::string_view afterKey_;  // the line after its first word, comment removed
  std::map<std::string, int> claimed_;
};

}  // namespace simdevice
