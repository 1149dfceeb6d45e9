// Table-driven CRC-16/IBM-3740, eight bytes per step, written apart from the updater's own
// (tables shifted out bit by bit, a pointer walk) so that a fault in one is caught by the other.
#include "simdevice/crc16.h"

#include <array>

namespace simdevice {
namespace {

constexpr int kStride = 8;
using Table = std::array<std::uint16_t, 256>;

// The register after feeding `value` in as the top byte, followed by `zeroBytes` zero bytes,
// shifted out bit by bit.
constexpr std::uint16_t ShiftThrough(unsigned value, int zeroBytes) {
  std::uint16_t crc = static_cast<std::uint16_t>(value << 8);
  for (int bit = 0; bit < 8 * (zeroBytes + 1); ++bit) {
    crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

// kTables[j] is for the byte at offset j of a group of eight: it is followed by 7 - j bytes.
constexpr std::array<Table, kStride> MakeTables() {
  std::array<Table, kStride> tables{};
  for (int offset = 0; offset < kStride; ++offset) {
    for (unsigned index = 0; index < 256; ++index) {
      tables[offset][index] = ShiftThrough(index, kStride - 1 - offset);
    }
  }
  return tables;
}

constexpr std::array<Table, kStride> kTables = MakeTables();
constexpr const Table& kSingleByte = kTables[kStride - 1];

}  // namespace

std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t length) {
  const std::uint8_t* end = data + length;
  while (end - data >= kStride) {
    // The register folds into the first two bytes of the group.
    unsigned next = kTables[0][(crc >> 8) ^ data[0]] ^ kTables[1][(crc & 0xFF) ^ data[1]];
    for (int offset = 2; offset < kStride; ++offset) next ^= kTables[offset][data[offset]];
    crc = static_cast<std::uint16_t>(next);
    data += kStride;
  }
  for (; data != end; ++data) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kSingleByte[((crc >> 8) ^ *data) & 0xFF]);
  }
  return crc;
}

}  // namespace simdevice
