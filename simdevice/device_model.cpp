// The device's side of the update protocol: block verdicts, replies, checksum judgement.
#include "simdevice/device_model.h"

#include <utility>

#include "platform/crc16.h"

namespace simdevice {

DeviceModel::DeviceModel(DeviceBehaviour behaviour) : behaviour_(std::move(behaviour)) {}

Reply DeviceModel::Execute(const DecodedCommand& command, const std::uint8_t* sent) {
  switch (command.operation) {
    case Operation::DeviceInfo:
      return DeviceInfo();
    case Operation::WriteBlock:
      WriteBlock(command, sent);
      return Reply{};
    case Operation::BlockStatus:
      return BlockStatus();
    case Operation::ConfirmChecksum:
      return ConfirmChecksum(command.crc);
  }
  return Reply{};
}

void DeviceModel::WriteBlock(const DecodedCommand& command, const std::uint8_t* data) {
  // A different block count means a different image: what was kept belongs to the old one.
  if (command.blockCount != blockCount_) {
    blocks_.clear();
    blockCount_ = command.blockCount;
  }
  const std::uint32_t number = command.blockNumber;
  if (number == 0 || number > blockCount_) {
    verdict_ = Verdict{1, true};  // nonsense position: start the image over
    return;
  }
  auto reject = [&](std::uint32_t named) {
    blocks_.erase(number);  // a rejected write leaves the block unwritten
    verdict_ = Verdict{named, true};
  };
  for (RejectRule& rule : behaviour_.rejects) {
    if (rule.block == number && rule.times > 0) {
      --rule.times;
      reject(NamedBlock(rule, number));
      return;
    }
  }
  if (behaviour_.rejectAll || platform::Crc16(data, kBlockSize) != command.crc) {
    reject(number);
    return;
  }
  blocks_[number].assign(data, data + kBlockSize);
  verdict_ = Verdict{0, false};
}

std::uint32_t DeviceModel::NamedBlock(const RejectRule& rule, std::uint32_t block) const {
  switch (rule.naming) {
    case RejectNaming::Same:
      return block;
    case RejectNaming::Zero:
      return 0;
    case RejectNaming::Beyond:
      return blockCount_ + 1;
    case RejectNaming::Number:
      return rule.number;
  }
  return block;
}

Reply DeviceModel::DeviceInfo() const {
  Reply reply{};
  reply[0] = behaviour_.status;
  reply[5] = behaviour_.versionMajor;
  reply[6] = behaviour_.versionMinor;
  return reply;
}

Reply DeviceModel::BlockStatus() const {
  Reply reply{};
  for (int index = 0; index < 4; ++index) {
    reply[index] = static_cast<std::uint8_t>(verdict_.requestedBlock >> (8 * index));
  }
  reply[4] = verdict_.rejected ? 1 : 0;
  return reply;
}

Reply DeviceModel::ConfirmChecksum(std::uint16_t crc) const {
  bool confirmed = false;
  switch (behaviour_.checksum) {
    case ChecksumMode::Accept:
      confirmed = true;
      break;
    case ChecksumMode::Refuse:
      confirmed = false;
      break;
    case ChecksumMode::Auto: {
      const std::optional<std::uint16_t> received = ReceivedImageCrc();
      confirmed = received.has_value() && *received == crc;
      break;
    }
  }
  Reply reply{};
  reply[0] = confirmed ? 0 : 1;
  return reply;
}

std::optional<std::uint16_t> DeviceModel::ReceivedImageCrc() const {
  std::uint16_t crc = platform::kCrc16Initial;
  for (std::uint32_t number = 1; number <= blockCount_; ++number) {
    auto found = blocks_.find(number);
    if (found == blocks_.end()) return std::nullopt;
    crc = platform::Crc16Update(crc, found->second.data(), found->second.size());
    if (number == UINT32_MAX) break;
  }
  return crc;
}

}  // namespace simdevice
