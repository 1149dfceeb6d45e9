// The simulated device against hand-written command blocks: decoding, block verdicts and
// the blocks they name, device information, and the whole-image checksum in every mode.
#include "simdevice/device_model.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/crc16.h"
#include "simdevice/command_decoder.h"
#include "simdevice/result_codes.h"
#include "simdevice_test_support.h"

namespace simdevice {
namespace {

using ::simdevice::testing::BlockData;
using ::simdevice::testing::CommandBytes;
using ::simdevice::testing::ParseOrFail;

std::uint16_t CrcOf(const std::vector<std::uint8_t>& data) {
  return platform::Crc16(data.data(), data.size());
}

TEST(Crc16Test, KnownAnswers) {
  const std::string digits = "123456789";
  EXPECT_EQ(platform::Crc16(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
            0x29B1);
  EXPECT_EQ(platform::Crc16(nullptr, 0), 0xFFFF);
  const std::uint8_t zero = 0;
  EXPECT_EQ(platform::Crc16(&zero, 1), 0xE1F0);
}

TEST(Crc16Test, ContinuingOverPiecesEqualsTheWhole) {
  const std::vector<std::uint8_t> data = BlockData(3);
  const std::uint16_t first = platform::Crc16(data.data(), 1000);
  EXPECT_EQ(platform::Crc16Update(first, data.data() + 1000, data.size() - 1000), CrcOf(data));
}

// ---- decoding ----

TEST(CommandDecoderTest, DecodesWriteBlockParametersLittleEndian) {
  const CommandBytes bytes = {0xF6, 0x01, 0x78, 0x56, 0x34, 0x12, 0x05, 0x00,
                              0x00, 0x01, 0xCD, 0xAB, 0x00, 0x00, 'G',  'P'};
  DecodedCommand command;
  ASSERT_EQ(DecodeCommand(bytes.data(), 1, 32768, &command), kResultOk);
  EXPECT_EQ(command.operation, Operation::WriteBlock);
  EXPECT_EQ(command.blockCount, 0x12345678u);
  EXPECT_EQ(command.blockNumber, 0x01000005u);
  EXPECT_EQ(command.crc, 0xABCD);
}

TEST(CommandDecoderTest, DecodesTheReadOperations) {
  DecodedCommand command;
  const CommandBytes info = {0xF6, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'};
  ASSERT_EQ(DecodeCommand(info.data(), 0, 16, &command), kResultOk);
  EXPECT_EQ(command.operation, Operation::DeviceInfo);
  const CommandBytes status = {0xF6, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'};
  ASSERT_EQ(DecodeCommand(status.data(), 0, 16, &command), kResultOk);
  EXPECT_EQ(command.operation, Operation::BlockStatus);
  const CommandBytes confirm = {0xF6, 0x03, 0xB1, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'};
  ASSERT_EQ(DecodeCommand(confirm.data(), 0, 16, &command), kResultOk);
  EXPECT_EQ(command.operation, Operation::ConfirmChecksum);
  EXPECT_EQ(command.crc, 0x29B1);
}

TEST(CommandDecoderTest, RefusesBadBlocksWithTheirOwnCodes) {
  DecodedCommand command;
  CommandBytes bytes = {0xF6, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'};
  // The operation code written low byte first, as a little-endian mistake would.
  CommandBytes swapped = bytes;
  swapped[0] = 0x00;
  swapped[1] = 0xF6;
  EXPECT_EQ(DecodeCommand(swapped.data(), 0, 16, &command), kTransferBadFraming);
  CommandBytes noTag = bytes;
  noTag[15] = 'Q';
  EXPECT_EQ(DecodeCommand(noTag.data(), 0, 16, &command), kTransferBadFraming);
  CommandBytes lowerTag = bytes;
  lowerTag[14] = 'g';
  EXPECT_EQ(DecodeCommand(lowerTag.data(), 0, 16, &command), kTransferBadFraming);
  CommandBytes unknown = bytes;
  unknown[1] = 0x04;
  EXPECT_EQ(DecodeCommand(unknown.data(), 0, 16, &command), kTransferUnknownOperation);
  unknown[1] = 0xFF;
  EXPECT_EQ(DecodeCommand(unknown.data(), 0, 16, &command), kTransferUnknownOperation);

  EXPECT_EQ(DecodeCommand(bytes.data(), 1, 16, &command), kTransferWrongDirection);
  EXPECT_EQ(DecodeCommand(bytes.data(), 0, 15, &command), kTransferWrongLength);
  EXPECT_EQ(DecodeCommand(bytes.data(), 0, 17, &command), kTransferWrongLength);
  EXPECT_EQ(DecodeCommand(bytes.data(), 0, 0, &command), kTransferWrongLength);
  CommandBytes write = bytes;
  write[1] = 0x01;
  EXPECT_EQ(DecodeCommand(write.data(), 0, 32768, &command), kTransferWrongDirection);
  EXPECT_EQ(DecodeCommand(write.data(), 1, 16, &command), kTransferWrongLength);
  EXPECT_EQ(DecodeCommand(write.data(), 1, 32767, &command), kTransferWrongLength);
}

// ---- the device ----

// Drives a DeviceModel the way the transfer path does, through the decoder.
class DeviceModelTest : public ::testing::Test {
 protected:
  void Use(const std::string& scenarioText) { device_.emplace(ParseOrFail(scenarioText).device); }
  Reply Read(const CommandBytes& bytes) {
    DecodedCommand command;
    EXPECT_EQ(DecodeCommand(bytes.data(), 0, 16, &command), kResultOk);
    return device_->Execute(command, nullptr);
  }
  void Write(std::uint32_t blockCount, std::uint32_t block, const std::vector<std::uint8_t>& data,
             std::optional<std::uint16_t> crc = std::nullopt) {
    const CommandBytes bytes =
        testing::WriteBlockCommand(blockCount, block, crc.value_or(CrcOf(data)));
    DecodedCommand command;
    ASSERT_EQ(DecodeCommand(bytes.data(), 1, 32768, &command), kResultOk);
    device_->Execute(command, data.data());
  }
  Reply Status() { return Read({0xF6, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'}); }
  // Writes block (of blockCount) with its own bytes, then reads the verdict.
  Reply StatusAfterWriting(std::uint32_t blockCount, std::uint32_t block) {
    Write(blockCount, block, BlockData(block));
    return Status();
  }
  std::uint8_t Confirm(std::uint16_t crc) { return Read(testing::ConfirmChecksumCommand(crc))[0]; }

  std::optional<DeviceModel> device_{DeviceModel(DeviceBehaviour{})};
};

Reply Accepted() {
  return Reply{};
}
Reply RejectedNaming(std::uint32_t block) {
  Reply reply{};
  std::memcpy(reply.data(), &block, 4);  // the test machine is little-endian, like the protocol
  reply[4] = 1;
  return reply;
}

TEST_F(DeviceModelTest, DeviceInformationCarriesStatusAndVersion) {
  const Reply expectedDefault = {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Read({0xF6, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'}), expectedDefault);
  Use("info status 1\ninfo version 255 10");
  const Reply expected = {1, 0, 0, 0, 0, 255, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Read({0xF6, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'G', 'P'}), expected);
}

TEST_F(DeviceModelTest, BeforeAnyWriteTheDeviceAsksForTheFirstBlock) {
  EXPECT_EQ(Status(), RejectedNaming(1));
}

TEST_F(DeviceModelTest, AcceptsMatchingBlocksAndNamesAMismatchedOne) {
  EXPECT_EQ(StatusAfterWriting(3, 1), Accepted());
  Write(3, 2, BlockData(2), CrcOf(BlockData(2)) ^ 0x0001);
  EXPECT_EQ(Status(), RejectedNaming(2));
  // The verdict stays until the next write.
  EXPECT_EQ(Status(), RejectedNaming(2));
  EXPECT_EQ(StatusAfterWriting(3, 2), Accepted());
  EXPECT_TRUE(device_->HasBlock(1));
  EXPECT_TRUE(device_->HasBlock(2));
  EXPECT_FALSE(device_->HasBlock(3));
}

TEST_F(DeviceModelTest, BlocksOutsideTheImageAreRejectedNamingTheFirst) {
  EXPECT_EQ(StatusAfterWriting(3, 0), RejectedNaming(1));
  EXPECT_EQ(StatusAfterWriting(3, 4), RejectedNaming(1));
  EXPECT_EQ(StatusAfterWriting(0, 1), RejectedNaming(1));
}

TEST_F(DeviceModelTest, RejectRulesNameWhatTheySayForAsManyWrites) {
  Use("reject 2 times 2 names zero\nreject 3 names beyond\nreject 4 names 9\nreject 5");
  EXPECT_EQ(StatusAfterWriting(6, 2), RejectedNaming(0));
  EXPECT_EQ(StatusAfterWriting(6, 2), RejectedNaming(0));
  EXPECT_EQ(StatusAfterWriting(6, 2), Accepted());
  EXPECT_EQ(StatusAfterWriting(6, 3), RejectedNaming(7));
  EXPECT_EQ(StatusAfterWriting(6, 3), Accepted());
  EXPECT_EQ(StatusAfterWriting(6, 4), RejectedNaming(9));
  EXPECT_EQ(StatusAfterWriting(6, 5), RejectedNaming(5));
  EXPECT_EQ(StatusAfterWriting(6, 5), Accepted());
}

TEST_F(DeviceModelTest, SeveralRulesForOneBlockApplyInTurn) {
  Use("reject 1 names zero\nreject 1 times 2 names 3");
  EXPECT_EQ(StatusAfterWriting(4, 1), RejectedNaming(0));
  EXPECT_EQ(StatusAfterWriting(4, 1), RejectedNaming(3));
  EXPECT_EQ(StatusAfterWriting(4, 1), RejectedNaming(3));
  EXPECT_EQ(StatusAfterWriting(4, 1), Accepted());
}

TEST_F(DeviceModelTest, RejectAllRejectsEveryBlockNamingItself) {
  Use("reject-all");
  for (std::uint32_t block = 1; block <= 3; ++block) {
    EXPECT_EQ(StatusAfterWriting(3, block), RejectedNaming(block));
    EXPECT_EQ(StatusAfterWriting(3, block), RejectedNaming(block));
  }
  EXPECT_EQ(Confirm(0xFFFF), 1);
}

TEST_F(DeviceModelTest, ChecksumAutoComparesWithTheDataReceived) {
  std::vector<std::uint8_t> image;
  for (std::uint32_t block = 1; block <= 3; ++block) {
    const std::vector<std::uint8_t> data = BlockData(block);
    image.insert(image.end(), data.begin(), data.end());
  }
  // Written out of order and with a retry: only the accepted content counts.
  Write(3, 2, BlockData(2));
  Write(3, 1, BlockData(9), CrcOf(BlockData(9)) ^ 0x8000);
  EXPECT_EQ(Confirm(CrcOf(image)), 1) << "block 1 and 3 are missing";
  Write(3, 1, BlockData(1));
  Write(3, 3, BlockData(3));
  EXPECT_EQ(Confirm(CrcOf(image)), 0);
  EXPECT_EQ(Confirm(CrcOf(image) ^ 0x0100), 1);
  const Reply refused = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Read(testing::ConfirmChecksumCommand(0)), refused);
}

TEST_F(DeviceModelTest, ARejectedWriteUndoesAnEarlierAcceptedCopy) {
  Use("reject 1 times 1");
  Write(1, 1, BlockData(1), CrcOf(BlockData(1)));  // rejected by the rule
  Write(1, 1, BlockData(1));
  EXPECT_EQ(Confirm(CrcOf(BlockData(1))), 0);
  Write(1, 1, BlockData(2), 0);  // a corrupted resend
  EXPECT_EQ(Confirm(CrcOf(BlockData(1))), 1);
}

TEST_F(DeviceModelTest, ANewBlockCountStartsANewImage) {
  Write(2, 1, BlockData(1));
  Write(2, 2, BlockData(2));
  Write(1, 1, BlockData(5));
  EXPECT_EQ(device_->blockCount(), 1u);
  EXPECT_FALSE(device_->HasBlock(2));
  EXPECT_EQ(Confirm(CrcOf(BlockData(5))), 0);
}

TEST_F(DeviceModelTest, WithNothingWrittenTheImageIsEmpty) {
  // An empty firmware file has the CRC of no bytes.
  EXPECT_EQ(Confirm(0xFFFF), 0);
  EXPECT_EQ(Confirm(0x0000), 1);
}

TEST_F(DeviceModelTest, ChecksumAcceptAndRefuseIgnoreTheData) {
  Use("checksum accept");
  EXPECT_EQ(Confirm(0x1234), 0);
  Use("checksum refuse");
  Write(1, 1, BlockData(1));
  EXPECT_EQ(Confirm(CrcOf(BlockData(1))), 1);
}

}  // namespace
}  // namespace simdevice
