// The image's CRC-16, which takes eight bytes per step, against a bit-by-bit reference on
// random data of every short length, at every alignment, with every tail length.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "crc16_reference.h"
#include "update/firmware_image.h"

namespace {

using test_support::BitwiseCrc16;

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
}

TEST(Crc16SlicingTest, MatchesTheBitwiseReferenceForEveryShortLengthAndAlignment) {
  const auto bytes = RandomBytes(64, 1);
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; length <= 40; ++length) {
      EXPECT_EQ(Crc16(bytes.data() + offset, length), BitwiseCrc16(bytes.data() + offset, length))
          << "offset " << offset << " length " << length;
    }
  }
}

TEST(Crc16SlicingTest, MatchesTheBitwiseReferenceOnLongAndBlockSizedData) {
  const auto bytes = RandomBytes(FW_BLOCK_SIZE + 64, 2);
  std::mt19937 generator(3);
  std::uniform_int_distribution<std::size_t> length(0, FW_BLOCK_SIZE + 16);
  std::uniform_int_distribution<std::size_t> offset(0, 15);
  for (int round = 0; round < 200; ++round) {
    const std::size_t start = offset(generator);
    const std::size_t size = length(generator);
    ASSERT_EQ(Crc16(bytes.data() + start, size), BitwiseCrc16(bytes.data() + start, size))
        << "offset " << start << " length " << size;
  }
  EXPECT_EQ(Crc16(bytes.data(), FW_BLOCK_SIZE), BitwiseCrc16(bytes.data(), FW_BLOCK_SIZE));
}

TEST(Crc16SlicingTest, UniformDataOfEveryByteValue) {
  // All-0xFF is the padding; runs of one value exercise every table entry in every position.
  for (int value = 0; value < 256; ++value) {
    const std::vector<std::uint8_t> bytes(37, static_cast<std::uint8_t>(value));
    ASSERT_EQ(Crc16(bytes.data(), bytes.size()), BitwiseCrc16(bytes.data(), bytes.size()))
        << "value " << value;
  }
}

}  // namespace
