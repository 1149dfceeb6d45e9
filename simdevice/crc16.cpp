// Table-driven CRC-16/IBM-3740, one byte at a time.
#include "simdevice/crc16.h"

#include <array>

namespace simdevice {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned index = 0; index < 256; ++index) {
    std::uint16_t value = static_cast<std::uint16_t>(index << 8);
    for (int bit = 0; bit < 8; ++bit) {
      value = static_cast<std::uint16_t>((value & 0x8000) ? (value << 1) ^ 0x1021 : value << 1);
    }
    table[index] = value;
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

}  // namespace

std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t length) {
  for (std::size_t index = 0; index < length; ++index) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[index]) & 0xFF]);
  }
  return crc;
}

}  // namespace simdevice
