// CRC-16/IBM-3740 bit by bit, straight from its definition (polynomial 0x1021, initial 0xFFFF,
// no reflection, no final XOR): the yardstick the fast table-driven CRCs of the updater and the
// simulated device are held to by tests and fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace test_support {

// The CRC of length bytes, continued from crc (the initial value by default).
std::uint16_t BitwiseCrc16(const std::uint8_t* data, std::size_t length,
                           std::uint16_t crc = 0xFFFF);

}  // namespace test_support
