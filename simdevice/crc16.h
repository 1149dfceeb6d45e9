// CRC-16/IBM-3740 (poly 0x1021, init 0xFFFF, not reflected, no final XOR), as the device
// computes it over every block and over the whole image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace simdevice {

inline constexpr std::uint16_t kCrc16Initial = 0xFFFF;

// Continues a CRC over more bytes; start with kCrc16Initial. Zero bytes leave it unchanged.
std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t length);

inline std::uint16_t Crc16(const std::uint8_t* data, std::size_t length) {
  return Crc16Update(kCrc16Initial, data, length);
}

}  // namespace simdevice
