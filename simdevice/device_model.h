// One simulated SCRIBOLANTE X in update mode: answers the four operations, checks and keeps
// the blocks written to it, and judges the whole-image checksum. Not thread-safe: its owner
// (SimulatedWorld) serialises every call under its mutex.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "simdevice/command_decoder.h"
#include "simdevice/scenario.h"

namespace simdevice {

using Reply = std::array<std::uint8_t, kReplySize>;

class DeviceModel {
 public:
  explicit DeviceModel(DeviceBehaviour behaviour);

  // Carries out a decoded command. WriteBlock reads kBlockSize bytes from sent; the read
  // operations return their 16-byte reply (WriteBlock returns all zeros, nothing is sent back).
  Reply Execute(const DecodedCommand& command, const std::uint8_t* sent);

  // The CRC-16 of blocks 1..blockCount in order, or nothing while a block is missing.
  // 0xFFFF (the CRC of no data) before any block was written.
  std::optional<std::uint16_t> ReceivedImageCrc() const;
  std::uint32_t blockCount() const { return blockCount_; }
  bool HasBlock(std::uint32_t number) const { return blocks_.count(number) != 0; }

 private:
  struct Verdict {
    std::uint32_t requestedBlock;
    bool rejected;
  };

  void WriteBlock(const DecodedCommand& command, const std::uint8_t* data);
  Reply DeviceInfo() const;
  Reply BlockStatus() const;
  Reply ConfirmChecksum(std::uint16_t crc) const;
  std::uint32_t NamedBlock(const RejectRule& rule, std::uint32_t block) const;

  DeviceBehaviour behaviour_;
  std::uint32_t blockCount_ = 0;  // of the image being written, from the last WriteBlock
  std::map<std::uint32_t, std::vector<std::uint8_t>> blocks_;  // accepted blocks by number
  // Before any write the device asks for the first block.
  Verdict verdict_{1, true};
};

}  // namespace simdevice
