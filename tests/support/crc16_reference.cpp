// The bit-by-bit CRC-16 reference.
#include "crc16_reference.h"

namespace test_support {

std::uint16_t BitwiseCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t crc) {
  for (std::size_t index = 0; index < length; ++index) {
    crc ^= static_cast<std::uint16_t>(data[index] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

}  // namespace test_support
