// The simulated device's CRC-16, eight bytes per step, against a bit-by-bit reference on random
// data of every short length and alignment, and continued over arbitrary pieces.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crc16_reference.h"
#include "simdevice/crc16.h"

namespace simdevice {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::uint8_t> bytes(size);
  for (auto& value : bytes) value = static_cast<std::uint8_t>(byte(generator));
  return bytes;
}

TEST(Crc16SlicingTest, CheckValue) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(digits, sizeof digits), 0x29B1);
  EXPECT_EQ(Crc16Update(0x1234, digits, 0), 0x1234);
}

TEST(Crc16SlicingTest, MatchesTheBitwiseReferenceForEveryShortLengthAndAlignment) {
  const auto bytes = RandomBytes(64, 11);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; length <= 40; ++length) {
      EXPECT_EQ(Crc16(bytes.data() + offset, length),
                test_support::BitwiseCrc16(bytes.data() + offset, length, kCrc16Initial))
          << "offset " << offset << " length " << length;
    }
  }
}

TEST(Crc16SlicingTest, ContinuesFromAnyRegisterOverAnySplit) {
  const auto bytes = RandomBytes(70000, 12);
  std::mt19937 generator(13);
  std::uniform_int_distribution<std::size_t> cut(0, bytes.size());
  std::uniform_int_distribution<int> registerValue(0, 0xFFFF);
  for (int round = 0; round < 50; ++round) {
    std::size_t first = cut(generator);
    std::size_t second = cut(generator);
    if (first > second) std::swap(first, second);
    const auto start = static_cast<std::uint16_t>(registerValue(generator));
    std::uint16_t crc = Crc16Update(start, bytes.data(), first);
    crc = Crc16Update(crc, bytes.data() + first, second - first);
    crc = Crc16Update(crc, bytes.data() + second, bytes.size() - second);
    ASSERT_EQ(crc, test_support::BitwiseCrc16(bytes.data(), bytes.size(), start))
        << "start " << start << " cuts " << first << ", " << second;
  }
}

}  // namespace
}  // namespace simdevice
