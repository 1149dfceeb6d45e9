// The CRC-16, which takes eight bytes per step, against a bit-by-bit reference on random data of
// every short length, at every alignment, with every tail length, and continued over any pieces.
#include "platform/crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crc16_reference.h"

namespace {

using platform::Crc16;
using platform::Crc16Update;
using test_support::BitwiseCrc16;

constexpr std::size_t kBlockSize = 32768;

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::uint8_t> bytes(size);
  for (auto& value : bytes) value = static_cast<std::uint8_t>(byte(generator));
  return bytes;
}

TEST(Crc16SlicingTest, CheckValueAndEmptyInput) {
  const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(Crc16(digits, sizeof digits), 0x29B1);
  EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
  EXPECT_EQ(Crc16(digits, 0), 0xFFFF);
  EXPECT_EQ(Crc16Update(0x1234, digits, 0), 0x1234);
}

TEST(Crc16SlicingTest, MatchesTheBitwiseReferenceForEveryShortLengthAndAlignment) {
  for (const std::uint32_t seed : {1u, 11u}) {
    const auto bytes = RandomBytes(64, seed);
    for (std::size_t offset = 0; offset < 8; ++offset) {
      for (std::size_t length = 0; length <= 40; ++length) {
        EXPECT_EQ(Crc16(bytes.data() + offset, length), BitwiseCrc16(bytes.data() + offset, length))
            << "seed " << seed << " offset " << offset << " length " << length;
      }
    }
  }
}

TEST(Crc16SlicingTest, MatchesTheBitwiseReferenceOnLongAndBlockSizedData) {
  const auto bytes = RandomBytes(kBlockSize + 64, 2);
  std::mt19937 generator(3);
  std::uniform_int_distribution<std::size_t> length(0, kBlockSize + 16);
  std::uniform_int_distribution<std::size_t> offset(0, 15);
  for (int round = 0; round < 200; ++round) {
    const std::size_t start = offset(generator);
    const std::size_t size = length(generator);
    ASSERT_EQ(Crc16(bytes.data() + start, size), BitwiseCrc16(bytes.data() + start, size))
        << "offset " << start << " length " << size;
  }
  EXPECT_EQ(Crc16(bytes.data(), kBlockSize), BitwiseCrc16(bytes.data(), kBlockSize));
}

TEST(Crc16SlicingTest, UniformDataOfEveryByteValue) {
  // All-0xFF is the padding; runs of one value exercise every table entry in every position.
  for (int value = 0; value < 256; ++value) {
    const std::vector<std::uint8_t> bytes(37, static_cast<std::uint8_t>(value));
    ASSERT_EQ(Crc16(bytes.data(), bytes.size()), BitwiseCrc16(bytes.data(), bytes.size()))
        << "value " << value;
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
    ASSERT_EQ(crc, BitwiseCrc16(bytes.data(), bytes.size(), start))
        << "start " << start << " cuts " << first << ", " << second;
  }
}

}  // namespace
