// SHA-256 against the known answers of FIPS 180-4's examples, whole and fed in pieces that
// cross the 64-byte blocks.
#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/hex_text.h"

namespace {

TEST(Sha256Test, KnownAnswersWholeAndInPieces) {
  EXPECT_EQ(platform::Sha256Hex("", 0),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(platform::Sha256Hex("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first block.
  const std::string twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(platform::Sha256Hex(twoBlocks.data(), twoBlocks.size()),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

  const std::string million(1000000, 'a');
  platform::Sha256 pieces;
  for (std::size_t start = 0; start < million.size(); start += 997) {
    pieces.Update(million.data() + start, std::min<std::size_t>(997, million.size() - start));
  }
  const auto digest = pieces.Finish();
  EXPECT_EQ(platform::HexDigits(digest.data(), digest.size()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
