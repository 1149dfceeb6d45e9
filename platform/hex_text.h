// Hex digits in text: the bytes of a trace (command blocks, read buffers, hashes), the CRC-16
// values the trace, the history and the terminal report show, and reading them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Lower-case hex digits of any bytes, two for each byte.
std::string HexDigits(const std::uint8_t* bytes, std::size_t size);

// The bytes of HexDigits' text appended to bytes: an even number of lower-case digits. False
// for anything else; bytes then holds the bytes read before the fault.
bool DecodeHexDigits(std::string_view text, std::string* bytes);

// A 16-bit value as four hex digits: lower case ("0a1f"), as a trace writes it; upper case
// ("0A1F"), as the user sees it.
std::string Hex4(std::uint16_t value);
std::string UpperHex4(std::uint16_t value);

// The value of the first four characters of digits, hex digits of either case (a JSON "\u"
// escape); false when there are fewer or one is not a hex digit.
bool ParseHex4(std::string_view digits, std::uint32_t* value);

}  // namespace platform
