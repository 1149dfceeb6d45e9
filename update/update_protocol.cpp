// Phases 3 to 5 of the update: the device information and the user's confirmation, the block
// writes with their status reads, retries and progress, and the whole-image checksum.
#include "update/update_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "update/desktop_activity.h"
#include "update/device_protocol.h"
#include "update/firmware_image.h"
#include "update/program_ending.h"
#include "update/update_controller.h"
#include "update/update_state.h"
#include "update/update_view.h"
#include "usb/hid_std_agent.h"
#include "usb/vendor_call_values.h"

TransferCursor transferCursor;

namespace {

constexpr const char* kCommunicationMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X との通信に異常が発生しました。");
constexpr const char* kNotUpdateModeMessage = QT_TRANSLATE_NOOP(
    "Messages",
    "SCRIBOLANTE X がファームウェアアップデートモードになっていません。\n"
    "「電源」＋「実行/改行」を長押しでファームウェアアップデートモードで起動させてください。");
constexpr const char* kConfirmUpdateMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X をUpdateしますか？");
constexpr const char* kConfirmCaption = QT_TRANSLATE_NOOP("Messages", "確認");
constexpr const char* kUpdateCancelledMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X のUpdateを中止します。\nアプリを終了します。");
constexpr const char* kTooManyRejectionsMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X のUpdate中に異常が発生しました。");
constexpr const char* kUpdateCompleteMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X のUpdateが完了しました。\nアプリを終了します。");
constexpr const char* kUpdateFailedMessage =
    QT_TRANSLATE_NOOP("Messages", "SCRIBOLANTE X のUpdateに失敗しました。");

using usb::kDirectionFromDevice;
using usb::kDirectionToDevice;

constexpr int kDevicePosition = 0;
// The bar stops short of complete until the device has confirmed the whole image.
constexpr int kProgressWriteCap = 9800;

using Buffer = std::unique_ptr<std::uint8_t[]>;

// A failure after the confirmation: it ends the attempt in the history, then is shown.
void ShowAttemptFailure(UpdateView& view, const char* message) {
  NoteWritingStopped();
  NoteAttemptOutcome(message);
  view.ShowMessageBox(message, nullptr, MB_OK);
}

Buffer AllocateBuffer(std::size_t size) {
  return Buffer(new (std::nothrow) std::uint8_t[size]);
}

// Every read starts from all 0xFF, so bytes the device leaves unwritten read as a refusal
// (status not 0, block rejected, checksum refused) and never as uninitialised memory.
bool ReadReply(C_GPUSBHIDStdAgentEx& agent, DeviceOp op, std::uint8_t* reply) {
  std::memset(reply, 0xFF, kReplySize);
  return DeviceRead(agent, static_cast<std::uint16_t>(op), reply);
}

int BlockProgress(std::uint32_t blockNumber, std::uint32_t blockCount) {
  const std::uint64_t position =
      static_cast<std::uint64_t>(blockNumber) * kProgressMaximum / blockCount;
  return static_cast<int>(std::min<std::uint64_t>(position, kProgressWriteCap));
}

// Only whole blocks are written, yet the checksum covers the whole padded image, so a device
// that checks what it received refuses a file whose size is not a multiple of the block size.
// The wire stays as it is (a device may carry its expected checksum inside the image); the log
// says what the device will not get, before the user is asked.
void NoteBytesNotWritten() {
  const std::uint64_t written =
      static_cast<std::uint64_t>(firmwareImage.blockCount) * FW_BLOCK_SIZE;
  if (firmwareImage.fileLength <= written) return;
  AppendLogLine(std::to_string(firmwareImage.fileLength - written) +
                " bytes after the last whole 32 KiB block are not written.");
}

}  // namespace

bool DeviceRead(C_GPUSBHIDStdAgentEx& agent, std::uint16_t op, std::uint8_t* reply) {
  DeviceCommandBlock block = DeviceCommandBlock::ForOp(static_cast<DeviceOp>(op));
  int length = 0;
  switch (static_cast<DeviceOp>(op)) {
    case DeviceOp::ConfirmChecksum:
      block = DeviceCommandBlock::ConfirmChecksum(firmwareImage.crc);
      length = kReplySize;
      break;
    case DeviceOp::DeviceInfo:
    case DeviceOp::BlockStatus:
      length = kReplySize;
      break;
    default:
      break;
  }
  return agent.SendCommand(kDevicePosition, block.bytes.data(), kDirectionFromDevice, reply,
                           length) == 0;
}

int QueryDeviceInfo() {
  UpdateView& view = *UpdateContext->view;
  Buffer reply = AllocateBuffer(kReplySize);
  if (!reply) {
    view.ShowMessageBox(kOutOfMemoryMessage, nullptr, MB_OK);
    return kPhaseEnd;
  }
  if (!ReadReply(*UpdateContext->deviceAgent, DeviceOp::DeviceInfo, reply.get())) {
    view.ShowMessageBox(kCommunicationMessage, nullptr, MB_OK);
    return kPhaseRestart;
  }
  const DeviceInfoReply info = DeviceInfoReply::Decode(reply.get());
  if (info.status != 0) {
    view.ShowMessageBox(kNotUpdateModeMessage, nullptr, MB_OK);
    return kPhaseRestart;
  }

  char version[16];
  std::snprintf(version, sizeof version, "%u.%u", static_cast<unsigned>(info.versionMajor),
                static_cast<unsigned>(info.versionMinor));
  view.SetCurrentVersionText(version);

  BeginHistoryAttempt(
      HistoryAttempt{firmwareImage.fileName, firmwareImage.fileLength, firmwareImage.crc, version});
  NoteBytesNotWritten();
  if (view.ShowMessageBox(kConfirmUpdateMessage, kConfirmCaption, MB_YESNO) != IDYES) {
    // A question dismissed because the window is closing was not answered.
    NoteAttemptOutcome(UpdateClosing() ? kHistoryClosed : kHistoryDeclined);
    view.ShowMessageBox(kUpdateCancelledMessage, nullptr, MB_OK);
    return kPhaseEnd;
  }
  return kPhaseAdvance;
}

int WriteFirmwareBlocks() {
  UpdateView& view = *UpdateContext->view;
  C_GPUSBHIDStdAgentEx& agent = *UpdateContext->deviceAgent;
  Buffer reply = AllocateBuffer(kReplySize);
  if (!reply) {
    ShowAttemptFailure(view, kOutOfMemoryMessage);
    return kPhaseEnd;
  }

  const std::uint32_t blockCount = firmwareImage.blockCount;
  while (transferCursor.nextBlock <= blockCount) {
    // A closing window gets no more blocks; the worker makes no move after this run.
    if (UpdateClosing()) return kPhaseWait;
    const std::uint32_t blockNumber = transferCursor.nextBlock;
    const std::size_t offset = static_cast<std::size_t>(blockNumber - 1) * FW_BLOCK_SIZE;

    // The device's data phase gets a copy, so the library can never touch the image itself.
    Buffer block = AllocateBuffer(FW_BLOCK_SIZE);
    if (!block || offset + FW_BLOCK_SIZE > firmwareImage.data.size()) {
      ShowAttemptFailure(view, kCommunicationMessage);
      return kPhaseRestart;
    }
    std::memcpy(block.get(), firmwareImage.data.data() + offset, FW_BLOCK_SIZE);
    const DeviceCommandBlock command =
        DeviceCommandBlock::WriteBlock(blockCount, blockNumber, Crc16(block.get(), FW_BLOCK_SIZE));

    const int sent = agent.SendCommand(kDevicePosition, command.bytes.data(), kDirectionToDevice,
                                       block.get(), static_cast<int>(FW_BLOCK_SIZE));
    block.reset();
    if (sent != 0 || !ReadReply(agent, DeviceOp::BlockStatus, reply.get())) {
      ShowAttemptFailure(view, kCommunicationMessage);
      return kPhaseRestart;
    }

    const BlockStatusReply status = BlockStatusReply::Decode(reply.get());
    if (status.rejected == 0) {
      const int position = BlockProgress(blockNumber, blockCount);
      if (view.GetProgressPosition() != position) view.SetProgressPosition(position);
      NoteWritingProgress(position);
      transferCursor.nextBlock = blockNumber + 1;
      transferCursor.retryCount = 0;
    } else {
      // The device names the block it wants; anything but the block just written means the
      // whole transfer begins again.
      if (status.requestedBlock != blockNumber) transferCursor.nextBlock = 1;
      transferCursor.retryCount += 1;
      if (transferCursor.retryCount > FW_RETRY_LIMIT) {
        ShowAttemptFailure(view, kTooManyRejectionsMessage);
        return kPhaseRestart;
      }
    }

    if (transferCursor.nextBlock % FW_YIELD_INTERVAL == 0) return kPhaseWait;
  }
  return kPhaseAdvance;
}

int ConfirmImageChecksum() {
  UpdateView& view = *UpdateContext->view;
  AppendLogLine("Confirming checksum.");
  Buffer reply = AllocateBuffer(kReplySize);
  if (!reply) {
    ShowAttemptFailure(view, kOutOfMemoryMessage);
    return kPhaseEnd;
  }
  if (!ReadReply(*UpdateContext->deviceAgent, DeviceOp::ConfirmChecksum, reply.get())) {
    ShowAttemptFailure(view, kCommunicationMessage);
    return kPhaseRestart;
  }
  if (ChecksumReply::Decode(reply.get()).result != 0) {
    ShowAttemptFailure(view, kUpdateFailedMessage);
    return kPhaseRestart;
  }
  // The device has confirmed the whole image: from here on the update has happened, whatever
  // becomes of the window.
  NoteAttemptOutcome(kHistoryCompleted);
  view.SetProgressPosition(kProgressMaximum);
  NoteWritingProgress(kProgressMaximum);
  NoteWritingStopped();
  AppendLogLine("Update Complete.");
  view.ShowMessageBox(kUpdateCompleteMessage, nullptr, MB_OK);
  return kPhaseEnd;
}
