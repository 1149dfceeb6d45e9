// Byte-exact encoding of the command block and decoding of the device's replies.
#include "update/device_protocol.h"

#include <algorithm>

#include "usb/vendor_call_values.h"

namespace {

constexpr int kOpHighOffset = 0;
constexpr int kOpLowOffset = 1;
constexpr int kTagOffset = 14;
constexpr int kBlockCountOffset = 2;
constexpr int kBlockNumberOffset = 6;
constexpr int kBlockCrcOffset = 10;
constexpr int kImageCrcOffset = 2;

// Parameters are little-endian and not aligned, so they are written byte by byte.
void PutLittleEndian16(DeviceCommandBlock& block, int offset, std::uint16_t value) {
  block.bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  block.bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLittleEndian32(DeviceCommandBlock& block, int offset, std::uint32_t value) {
  for (int index = 0; index < 4; ++index) {
    block.bytes[offset + index] = static_cast<std::uint8_t>((value >> (8 * index)) & 0xFF);
  }
}

constexpr DeviceCommandBlock EncodeOp(DeviceOp op) {
  DeviceCommandBlock block;
  const auto code = static_cast<std::uint16_t>(op);
  // The operation code alone goes high byte first.
  block.bytes[kOpHighOffset] = static_cast<std::uint8_t>(code >> 8);
  block.bytes[kOpLowOffset] = static_cast<std::uint8_t>(code & 0xFF);
  block.bytes[kTagOffset] = 'G';
  block.bytes[kTagOffset + 1] = 'P';
  return block;
}

// The device-information read is also written out whole among the values shared with the
// conformance check and ports of the vendor library; it must be this encoding, byte for byte.
static_assert(kCommandBlockSize == usb::kDeviceInfoCommandSize &&
              kReplySize == usb::kDeviceInfoReplySize);
static_assert(std::ranges::equal(EncodeOp(DeviceOp::DeviceInfo).bytes, usb::kDeviceInfoCommand));

}  // namespace

DeviceCommandBlock DeviceCommandBlock::ForOp(DeviceOp op) {
  return EncodeOp(op);
}

DeviceCommandBlock DeviceCommandBlock::WriteBlock(std::uint32_t blockCount,
                                                  std::uint32_t blockNumber,
                                                  std::uint16_t blockCrc) {
  DeviceCommandBlock block = ForOp(DeviceOp::WriteBlock);
  PutLittleEndian32(block, kBlockCountOffset, blockCount);
  PutLittleEndian32(block, kBlockNumberOffset, blockNumber);
  PutLittleEndian16(block, kBlockCrcOffset, blockCrc);
  return block;
}

DeviceCommandBlock DeviceCommandBlock::ConfirmChecksum(std::uint16_t imageCrc) {
  DeviceCommandBlock block = ForOp(DeviceOp::ConfirmChecksum);
  PutLittleEndian16(block, kImageCrcOffset, imageCrc);
  return block;
}

DeviceInfoReply DeviceInfoReply::Decode(const std::uint8_t* reply) {
  return DeviceInfoReply{reply[usb::kDeviceInfoStateOffset],
                         reply[usb::kDeviceInfoVersionMajorOffset],
                         reply[usb::kDeviceInfoVersionMinorOffset]};
}

BlockStatusReply BlockStatusReply::Decode(const std::uint8_t* reply) {
  const std::uint32_t requested =
      static_cast<std::uint32_t>(reply[0]) | static_cast<std::uint32_t>(reply[1]) << 8 |
      static_cast<std::uint32_t>(reply[2]) << 16 | static_cast<std::uint32_t>(reply[3]) << 24;
  return BlockStatusReply{requested, reply[4]};
}

ChecksumReply ChecksumReply::Decode(const std::uint8_t* reply) {
  return ChecksumReply{reply[0]};
}
