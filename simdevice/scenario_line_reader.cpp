// Reading scenario text one line at a time (scenario_line_reader.h): words, numbers and the
// settings already given, with messages that say what is wrong with the line.
#include "simdevice/scenario_line_reader.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace simdevice {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Well-formed UTF-8 without NUL bytes (names end up in C strings).
bool IsValidUtf8(std::string_view text) {
  std::size_t index = 0;
  while (index < text.size()) {
    const auto lead = static_cast<unsigned char>(text[index]);
    int extra = 0;
    std::uint32_t codePoint = 0;
    if (lead == 0) return false;
    if (lead < 0x80) {
      ++index;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      codePoint = lead & 0x07;
    } else {
      return false;
    }
    if (index + extra >= text.size()) return false;
    for (int follow = 1; follow <= extra; ++follow) {
      const auto byte = static_cast<unsigned char>(text[index + follow]);
      if ((byte & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[extra] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    index += extra + 1;
  }
  return true;
}

}  // namespace

std::string Quote(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('\'');
  quoted.append(text);
  quoted.push_back('\'');
  return quoted;
}

bool ScenarioLineReader::ReadLine(int number, std::string_view line) {
  line_ = number;
  if (!IsValidUtf8(line)) return Fail("not valid UTF-8 text");
  if (auto comment = line.find('#'); comment != std::string_view::npos) {
    line = line.substr(0, comment);
  }
  words_.clear();
  afterKey_ = {};
  std::size_t index = 0;
  while (index < line.size()) {
    while (index < line.size() && IsBlank(line[index])) ++index;
    const std::size_t start = index;
    while (index < line.size() && !IsBlank(line[index])) ++index;
    if (index > start) {
      words_.push_back(line.substr(start, index - start));
      if (words_.size() == 1) afterKey_ = line.substr(index);
    }
  }
  return true;
}

std::string_view ScenarioLineReader::RestOfLine() const {
  std::string_view rest = afterKey_;
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
  return rest;
}

int ScenarioLineReader::Claim(const std::string& key) {
  auto [where, inserted] = claimed_.emplace(key, line_);
  return inserted ? 0 : where->second;
}

bool ScenarioLineReader::ClaimOnce(const std::string& setting) {
  if (const int earlier = Claim(setting); earlier != 0) {
    return Fail(Quote(setting) + " is already set on line " + std::to_string(earlier));
  }
  return true;
}

bool ScenarioLineReader::Number(std::string_view word, std::string_view what, std::int64_t min,
                                std::int64_t max, std::int64_t* value) {
  std::string_view digits = word;
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t magnitude = 0;
  const char* end = digits.data() + digits.size();
  auto [stop, failure] = std::from_chars(digits.data(), end, magnitude, base);
  const std::string range = " is out of range " + std::to_string(min) + ".." + std::to_string(max);
  if (digits.empty() || stop != end ||
      (failure != std::errc() && failure != std::errc::result_out_of_range)) {
    return Fail(std::string(what) + " " + Quote(word) + " is not a number");
  }
  if (failure == std::errc::result_out_of_range ||
      magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return Fail(std::string(what) + " " + std::string(word) + range);
  }
  const std::int64_t signedValue =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (signedValue < min || signedValue > max) {
    return Fail(std::string(what) + " " + std::string(word) + range);
  }
  *value = signedValue;
  return true;
}

bool ScenarioLineReader::Count(std::string_view word, std::string_view what, std::uint64_t* value) {
  std::int64_t number = 0;
  if (!Number(word, what, 1, kMaxCount, &number)) return false;
  *value = static_cast<std::uint64_t>(number);
  return true;
}

bool ScenarioLineReader::Code(std::string_view word, int* code) {
  std::int64_t number = 0;
  if (!Number(word, "code", std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
              &number)) {
    return false;
  }
  if (number == 0) return Fail("code 0 is no failure (0 means success)");
  *code = static_cast<int>(number);
  return true;
}

}  // namespace simdevice
