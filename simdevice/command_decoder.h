// Decodes the 16-byte command block the way the device firmware reads it: op high byte 0xF6
// at 0, op low byte at 1, little-endian parameters from 2, "GP" at 14-15.
#pragma once

#include <cstdint>

namespace simdevice {

inline constexpr int kCommandBlockSize = 16;
inline constexpr int kReplySize = 16;
inline constexpr int kBlockSize = 32768;

enum class Operation : std::uint8_t {
  DeviceInfo = 0,
  WriteBlock = 1,
  BlockStatus = 2,
  ConfirmChecksum = 3,
};

struct DecodedCommand {
  Operation operation = Operation::DeviceInfo;
  std::uint32_t blockCount = 0;   // WriteBlock
  std::uint32_t blockNumber = 0;  // WriteBlock, from 1
  std::uint16_t crc = 0;          // WriteBlock: of the block; ConfirmChecksum: of the image
};

// Checks the framing, the operation and that the data phase (direction 1: to the device,
// 0: from it; length in bytes) fits the operation. Returns kResultOk with *command filled,
// or one of the kTransfer... codes of result_codes.h. Unused parameter bytes are ignored.
int DecodeCommand(const std::uint8_t* block, int direction, int length, DecodedCommand* command);

}  // namespace simdevice
