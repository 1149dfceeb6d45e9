// The command block and the replies against hand-written bytes.
#include "update/device_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using Bytes = std::array<std::uint8_t, 16>;

TEST(DeviceCommandBlock, PlainOperationsCarryTheCodeHighByteFirstAndTheTag) {
  EXPECT_EQ(DeviceCommandBlock::ForOp(DeviceOp::DeviceInfo).bytes,
            (Bytes{0xF6, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'}));
  EXPECT_EQ(DeviceCommandBlock::ForOp(DeviceOp::BlockStatus).bytes,
            (Bytes{0xF6, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x47, 0x50}));
}

TEST(DeviceCommandBlock, WriteBlockPutsItsParametersLittleEndianAndUnaligned) {
  EXPECT_EQ(DeviceCommandBlock::WriteBlock(0x00000040, 0x00000021, 0xBEEF).bytes,
            (Bytes{0xF6, 0x01, 0x40, 0, 0, 0, 0x21, 0, 0, 0, 0xEF, 0xBE, 0, 0, 'G', 'P'}));
  EXPECT_EQ(DeviceCommandBlock::WriteBlock(0x12345678, 0x9ABCDEF0, 0x0102).bytes,
            (Bytes{0xF6, 0x01, 0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A, 0x02, 0x01, 0, 0,
                   'G', 'P'}));
}

TEST(DeviceCommandBlock, ConfirmChecksumPutsTheImageCrcAtOffsetTwo) {
  EXPECT_EQ(DeviceCommandBlock::ConfirmChecksum(0x29B1).bytes,
            (Bytes{0xF6, 0x03, 0xB1, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'}));
  EXPECT_EQ(DeviceCommandBlock::ConfirmChecksum(0xFFFF).bytes,
            (Bytes{0xF6, 0x03, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'}));
}

TEST(DeviceReplies, DecodeOnlyTheirOwnBytes) {
  const Bytes info{0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0x01, 0x0A, 0xAA,
                   0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  const DeviceInfoReply decodedInfo = DeviceInfoReply::Decode(info.data());
  EXPECT_EQ(decodedInfo.status, 0);
  EXPECT_EQ(decodedInfo.versionMajor, 1);
  EXPECT_EQ(decodedInfo.versionMinor, 10);
  const Bytes notUpdateMode{0x01, 0, 0, 0, 0, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const DeviceInfoReply other = DeviceInfoReply::Decode(notUpdateMode.data());
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.versionMajor, 255);
  EXPECT_EQ(other.versionMinor, 0);

  const Bytes status{0x04, 0x03, 0x02, 0x81, 0x00, 0x55, 0x55, 0x55,
                     0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
  const BlockStatusReply decodedStatus = BlockStatusReply::Decode(status.data());
  EXPECT_EQ(decodedStatus.requestedBlock, 0x81020304u);
  EXPECT_EQ(decodedStatus.rejected, 0);
  const Bytes rejected{0x20, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(BlockStatusReply::Decode(rejected.data()).requestedBlock, 32u);
  EXPECT_EQ(BlockStatusReply::Decode(rejected.data()).rejected, 1);

  const Bytes confirmed{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(ChecksumReply::Decode(confirmed.data()).result, 0);
  const Bytes untouched{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ChecksumReply::Decode(untouched.data()).result, 0xFF);
}

}  // namespace
