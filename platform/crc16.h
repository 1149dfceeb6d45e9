// CRC-16/IBM-3740 (polynomial 0x1021, initial 0xFFFF, not reflected, no final XOR): the checksum
// of the firmware image and of every block, for the updater, the simulated device and the trace.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr std::uint16_t kCrc16Initial = 0xFFFF;

// Continues a CRC over more bytes; start with kCrc16Initial. Zero bytes leave it unchanged.
std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t length);

inline std::uint16_t Crc16(const std::uint8_t* data, std::size_t length) {
  return Crc16Update(kCrc16Initial, data, length);
}

}  // namespace platform
