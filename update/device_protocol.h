// The device's update protocol as values: the 16-byte command block sent ahead of every data
// phase and the three 16-byte replies, each with a byte-exact encoding.
#pragma once

#include <array>
#include <cstdint>

enum class DeviceOp : std::uint16_t {
  DeviceInfo = 0xF600,
  WriteBlock = 0xF601,
  BlockStatus = 0xF602,
  ConfirmChecksum = 0xF603,
};

inline constexpr int kCommandBlockSize = 16;
inline constexpr int kReplySize = 16;

// op high byte first at 0-1, parameters little-endian at 2-13, "GP" at 14-15.
struct DeviceCommandBlock {
  std::array<std::uint8_t, kCommandBlockSize> bytes{};

  static DeviceCommandBlock ForOp(DeviceOp op);
  static DeviceCommandBlock WriteBlock(std::uint32_t blockCount, std::uint32_t blockNumber,
                                       std::uint16_t blockCrc);
  static DeviceCommandBlock ConfirmChecksum(std::uint16_t imageCrc);
};

struct DeviceInfoReply {
  std::uint8_t status;  // 0: the device runs in firmware update mode
  std::uint8_t versionMajor;
  std::uint8_t versionMinor;
  static DeviceInfoReply Decode(const std::uint8_t* reply);
};

struct BlockStatusReply {
  std::uint32_t requestedBlock;  // the block the device asks for when it did not accept
  std::uint8_t rejected;         // 0: accepted
  static BlockStatusReply Decode(const std::uint8_t* reply);
};

struct ChecksumReply {
  std::uint8_t result;  // 0: the device confirms the checksum
  static ChecksumReply Decode(const std::uint8_t* reply);
};
