// Hex digits written and read back: the trace's bytes and the four-digit CRC texts.
#include "platform/hex_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(HexTextTest, BytesGoToLowerCaseDigitsAndBack) {
  const std::uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(platform::HexDigits(bytes, sizeof bytes), "000fa5ff");
  std::string decoded;
  ASSERT_TRUE(platform::DecodeHexDigits("000fa5ff", &decoded));
  EXPECT_EQ(decoded, std::string("\x00\x0f\xa5\xff", 4));
}

TEST(HexTextTest, OnlyAnEvenNumberOfLowerCaseDigitsDecodes) {
  std::string decoded;
  EXPECT_FALSE(platform::DecodeHexDigits("abc", &decoded));
  EXPECT_FALSE(platform::DecodeHexDigits("A5", &decoded));
  EXPECT_FALSE(platform::DecodeHexDigits("0g", &decoded));
  EXPECT_FALSE(platform::DecodeHexDigits(std::string("0\0", 2), &decoded));
}

TEST(HexTextTest, FourDigitsInEitherCase) {
  EXPECT_EQ(platform::Hex4(0x0a1f), "0a1f");
  EXPECT_EQ(platform::UpperHex4(0x0a1f), "0A1F");
  std::uint32_t value = 0;
  ASSERT_TRUE(platform::ParseHex4("00Ef", &value));
  EXPECT_EQ(value, 0xEFu);
  EXPECT_FALSE(platform::ParseHex4("12", &value));
  EXPECT_FALSE(platform::ParseHex4("12g4", &value));
}

}  // namespace
