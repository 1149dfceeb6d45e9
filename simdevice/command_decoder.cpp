// Command block decoding with the checks the device applies before it acts.
#include "simdevice/command_decoder.h"

#include "simdevice/result_codes.h"

namespace simdevice {
namespace {

std::uint32_t ReadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t ReadU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

}  // namespace

int DecodeCommand(const std::uint8_t* block, int direction, int length, DecodedCommand* command) {
  if (block[0] != 0xF6 || block[14] != 'G' || block[15] != 'P') return kTransferBadFraming;
  if (block[1] > static_cast<std::uint8_t>(Operation::ConfirmChecksum)) {
    return kTransferUnknownOperation;
  }
  DecodedCommand decoded;
  decoded.operation = static_cast<Operation>(block[1]);
  const bool writes = decoded.operation == Operation::WriteBlock;
  if (direction != (writes ? 1 : 0)) return kTransferWrongDirection;
  if (length != (writes ? kBlockSize : kReplySize)) return kTransferWrongLength;
  if (writes) {
    decoded.blockCount = ReadU32(block + 2);
    decoded.blockNumber = ReadU32(block + 6);
    decoded.crc = ReadU16(block + 10);
  } else if (decoded.operation == Operation::ConfirmChecksum) {
    decoded.crc = ReadU16(block + 2);
  }
  *command = decoded;
  return kResultOk;
}

}  // namespace simdevice
