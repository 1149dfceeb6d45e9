// Hex digits in text, written and read back.
#include "platform/hex_text.h"

#include <charconv>
#include <cstdio>

namespace platform {
namespace {

constexpr std::string_view kLowerDigits = "0123456789abcdef";

std::string FourDigits(const char* format, std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string HexDigits(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  text.reserve(size * 2);
  for (std::size_t index = 0; index < size; ++index) {
    text += kLowerDigits[bytes[index] >> 4];
    text += kLowerDigits[bytes[index] & 0x0F];
  }
  return text;
}

bool DecodeHexDigits(std::string_view text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  for (std::size_t index = 0; index < text.size(); index += 2) {
    int value = 0;
    for (const char digit : {text[index], text[index + 1]}) {
      const std::size_t found = kLowerDigits.find(digit);
      if (found == std::string_view::npos) return false;
      value = value * 16 + static_cast<int>(found);
    }
    *bytes += static_cast<char>(value);
  }
  return true;
}

std::string Hex4(std::uint16_t value) {
  return FourDigits("%04x", value);
}

std::string UpperHex4(std::uint16_t value) {
  return FourDigits("%04X", value);
}

bool ParseHex4(std::string_view digits, std::uint32_t* value) {
  if (digits.size() < 4) return false;
  const char* start = digits.data();
  const auto [stop, failure] = std::from_chars(start, start + 4, *value, 16);
  return failure == std::errc() && stop == start + 4;
}

}  // namespace platform
