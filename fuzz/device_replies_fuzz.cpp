// Fuzzes phases 3 to 5 (device information, block writes, checksum confirmation) against a
// device whose transfer results and replies come from the input, through the real agent
// facade with an in-process vendor library behind it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fake_update_view.h"
#include "fake_vendor_library.h"
#include "fuzz_support.h"
#include "update/firmware_image.h"
#include "update/update_protocol.h"
#include "update/update_state.h"
#include "usb/hid_device_agent.h"
#include "usb/hid_std_agent.h"

namespace {

using fuzz::FuzzInput;

// A run of phase 4 that never ends is a hang, however the device answers.
constexpr int kMaxWorkerRuns = 10000;
// Passes through phases 3 to 5; a failed pass starts over, as the controller does.
constexpr int kMaxPasses = 4;
constexpr int kReplyLength = 16;
constexpr int kProgressWriteCap = 9800;

const std::string kCommunicationMessage = "SCRIBOLANTE X との通信に異常が発生しました。";
const std::string kNotUpdateModeMessage =
    "SCRIBOLANTE X がファームウェアアップデートモードになっていません。\n"
    "「電源」＋「実行/改行」を長押しでファームウェアアップデートモードで起動させてください。";
const std::string kUpdateCancelledMessage =
    "SCRIBOLANTE X のUpdateを中止します。\nアプリを終了します。";
const std::string kTooManyRejectionsMessage = "SCRIBOLANTE X のUpdate中に異常が発生しました。";
const std::string kUpdateCompleteMessage =
    "SCRIBOLANTE X のUpdateが完了しました。\nアプリを終了します。";
const std::string kUpdateFailedMessage = "SCRIBOLANTE X のUpdateに失敗しました。";

std::uint32_t Load32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool AllZero(const std::uint8_t* bytes, int from, int to) {
  for (int index = from; index < to; ++index) {
    if (bytes[index] != 0) return false;
  }
  return true;
}

// The device side of the protocol. Each transfer takes one byte of the input: 0xF0 and above
// fail the transfer with a vendor code, anything else chooses the shape of the reply. It also
// holds the updater to the protocol: which block comes next, and what each command carries.
class ScriptedDevice {
 public:
  ScriptedDevice(FuzzInput& input, const FirmwareImage& image)
      : input_(input), image_(image), blockCrcs_(image.blockCount, -1) {}

  // Phase 0 ran again: the transfer begins at block 1 with no rejections counted.
  void StartOver() {
    expectedBlock = 1;
    rejectionsInARow = 0;
    statusPending_ = false;
  }

  int OnTransfer(const std::uint8_t* command, int direction, void* data, int length) {
    FUZZ_CHECK(command[0] == 0xF6 && command[14] == 'G' && command[15] == 'P',
               "a command block without its operation prefix or tag");
    // Past the end of the input the device stops answering.
    const std::uint8_t choice = input_.Byte(0xFF);
    const int result = choice >= 0xF0 ? 1 + (choice & 0x0F) : 0;
    auto* reply = static_cast<std::uint8_t*>(data);
    switch (command[1]) {
      case 0x00:
        FUZZ_CHECK(direction == 0 && length == kReplyLength, "DeviceInfo is a 16-byte read");
        FUZZ_CHECK(AllZero(command, 2, 14), "DeviceInfo carries parameters");
        FillReply(choice, reply);
        info = {result, reply[0], reply[5], reply[6]};
        break;
      case 0x01:
        CheckWriteBlock(command, direction, reply, length);
        break;
      case 0x02:
        FUZZ_CHECK(direction == 0 && length == kReplyLength, "BlockStatus is a 16-byte read");
        FUZZ_CHECK(AllZero(command, 2, 14), "BlockStatus carries parameters");
        FUZZ_CHECK(statusPending_, "a status read without a block written before it");
        statusPending_ = false;
        FillStatus(choice, reply);
        if (result == 0) Judge(reply);
        break;
      case 0x03:
        FUZZ_CHECK(direction == 0 && length == kReplyLength, "ConfirmChecksum is a 16-byte read");
        FUZZ_CHECK((command[2] | command[3] << 8) == image_.crc,
                   "ConfirmChecksum does not carry the image CRC");
        FUZZ_CHECK(AllZero(command, 4, 14), "ConfirmChecksum carries stray parameters");
        FillReply(choice, reply);
        checksum = {result, reply[0]};
        break;
      default:
        fuzz::Fail(__FILE__, __LINE__, "operation",
                   "unknown operation " + std::to_string(command[1]));
    }
    return result;
  }

  struct InfoReply {
    int result = -1;
    std::uint8_t status = 0xFF;
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
  } info;
  struct ChecksumReply {
    int result = -1;
    std::uint8_t byte0 = 0xFF;
  } checksum;
  std::uint32_t expectedBlock = 1;
  std::uint32_t rejectionsInARow = 0;

 private:
  // Zeros with the version from the input; a non-zero first byte; raw bytes; or a reply that
  // writes only some bytes (possibly none) and leaves the rest as the updater set them.
  void FillReply(std::uint8_t choice, std::uint8_t* reply) {
    switch (choice & 3) {
      case 0:
        std::memset(reply, 0, kReplyLength);
        reply[5] = input_.Byte();
        reply[6] = input_.Byte();
        break;
      case 1:
        std::memset(reply, 0, kReplyLength);
        reply[0] = static_cast<std::uint8_t>(input_.Byte() | 1);
        break;
      default: {
        const std::size_t count = (choice & 3) == 2 ? kReplyLength : input_.Byte() % 17;
        const std::string bytes = input_.Bytes(count);
        std::memcpy(reply, bytes.data(), bytes.size());
      }
    }
  }

  // Accepted; rejected asking for the same block; rejected asking for any number; raw bytes.
  void FillStatus(std::uint8_t choice, std::uint8_t* reply) {
    std::memset(reply, 0, kReplyLength);
    switch (choice & 3) {
      case 0:
        break;
      case 1:
        reply[4] = 1;
        std::memcpy(reply, &lastWritten_, 4);
        break;
      case 2: {
        reply[4] = static_cast<std::uint8_t>(input_.Byte() | 1);
        const std::uint32_t requested = input_.Uint32();
        std::memcpy(reply, &requested, 4);
        break;
      }
      default: {
        const std::string bytes = input_.Bytes(input_.Byte() % 17);
        std::memcpy(reply, bytes.data(), bytes.size());
      }
    }
  }

  void CheckWriteBlock(const std::uint8_t* command, int direction, const std::uint8_t* data,
                       int length) {
    FUZZ_CHECK(direction == 1 && length == static_cast<int>(FW_BLOCK_SIZE),
               "WriteBlock sends one whole block");
    FUZZ_CHECK(!statusPending_, "a block written before the last one's status was read");
    FUZZ_CHECK(Load32(command + 2) == image_.blockCount, "WriteBlock carries another block count");
    const std::uint32_t number = Load32(command + 6);
    FUZZ_CHECK(number >= 1 && number <= image_.blockCount,
               "block " + std::to_string(number) + " is not in the image");
    FUZZ_CHECK(number == expectedBlock, "block " + std::to_string(number) + " written where " +
                                            std::to_string(expectedBlock) + " was due");
    const std::size_t offset = static_cast<std::size_t>(number - 1) * FW_BLOCK_SIZE;
    FUZZ_CHECK(std::memcmp(data, image_.data.data() + offset, FW_BLOCK_SIZE) == 0,
               "the block's data is not the image's");
    // The CRC of each block is taken once, the first time the block is written.
    int& crc = blockCrcs_[number - 1];
    if (crc < 0) crc = Crc16(image_.data.data() + offset, FW_BLOCK_SIZE);
    FUZZ_CHECK((command[10] | command[11] << 8) == crc, "the block CRC does not match its data");
    FUZZ_CHECK(command[12] == 0 && command[13] == 0, "WriteBlock carries stray parameters");
    lastWritten_ = number;
    statusPending_ = true;
  }

  // What the protocol must do after the status the updater has just read.
  void Judge(const std::uint8_t* reply) {
    if (reply[4] == 0) {
      expectedBlock = lastWritten_ + 1;
      rejectionsInARow = 0;
    } else {
      expectedBlock = Load32(reply) == lastWritten_ ? lastWritten_ : 1;
      ++rejectionsInARow;
    }
  }

  FuzzInput& input_;
  const FirmwareImage& image_;
  std::vector<int> blockCrcs_;  // -1: not taken yet
  std::uint32_t lastWritten_ = 0;
  bool statusPending_ = false;
};

// One block of pseudo-random bytes; each image block is a copy with its number stamped in,
// so a block sent from the wrong offset shows.
const std::vector<std::uint8_t>& PatternBlock() {
  static const std::vector<std::uint8_t> block = [] {
    std::vector<std::uint8_t> bytes(FW_BLOCK_SIZE);
    std::uint32_t state = 1;
    for (std::uint8_t& byte : bytes) {
      state = state * 1664525u + 1013904223u;
      byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
  }();
  return block;
}

void BuildImage(FuzzInput& input) {
  // Mostly small images; now and then one around the 32-block yield point.
  const std::uint8_t shape = input.Byte();
  const std::uint32_t blockCount = shape < 248 ? shape % 4 : 29 + shape % 5;
  // A tail after the last whole block, mostly short: it is never written, only checksummed.
  const std::uint8_t tail = input.Byte();
  const std::uint32_t tailKilobytes = tail >= 0xE0 ? tail % 32 : tail % 2;
  const std::uint8_t stamp = input.Byte();
  FirmwareImage image;
  image.size = blockCount * FW_BLOCK_SIZE + tailKilobytes * FW_PAD_UNIT;
  image.data.resize(image.size);
  const std::vector<std::uint8_t>& pattern = PatternBlock();
  for (std::uint32_t offset = 0; offset < image.size; offset += FW_BLOCK_SIZE) {
    const std::size_t length = std::min<std::size_t>(FW_BLOCK_SIZE, image.size - offset);
    std::memcpy(image.data.data() + offset, pattern.data(), length);
    image.data[offset] = stamp;
    std::memcpy(image.data.data() + offset + 1, &offset, std::min<std::size_t>(4, length - 1));
  }
  image.crc = Crc16(image.data.data(), image.size);
  image.blockCount = blockCount;
  firmwareImage = std::move(image);
}

std::vector<std::string> Messages(const FakeUpdateView& view) {
  std::vector<std::string> texts;
  for (const MessageBoxRecord& box : view.MessageBoxes()) texts.push_back(box.text);
  return texts;
}

std::string LastMessage(const FakeUpdateView& view) {
  const std::vector<std::string> texts = Messages(view);
  return texts.empty() ? std::string() : texts.back();
}

bool Shown(const FakeUpdateView& view, std::size_t from, const std::string& message) {
  const std::vector<std::string> texts = Messages(view);
  for (std::size_t index = from; index < texts.size(); ++index) {
    if (texts[index] == message) return true;
  }
  return false;
}

int CheckDeviceInfo(FakeUpdateView& view, ScriptedDevice& device, bool answerYes) {
  const std::size_t shownBefore = Messages(view).size();
  device.info = {};
  const int result = QueryDeviceInfo();
  const auto& info = device.info;
  FUZZ_CHECK(info.result >= 0, "phase 3 never asked the device");
  if (info.result != 0) {
    FUZZ_CHECK(result == -1 && LastMessage(view) == kCommunicationMessage,
               "a failed DeviceInfo read is not a communication error");
  } else if (info.status != 0) {
    FUZZ_CHECK(result == -1 && LastMessage(view) == kNotUpdateModeMessage,
               "a device not in update mode went on");
  } else {
    char version[16];
    std::snprintf(version, sizeof version, "%u.%u", info.major, info.minor);
    const std::vector<std::string> shown = view.CurrentVersionTexts();
    const std::string current = shown.empty() ? std::string() : shown.back();
    FUZZ_CHECK(current == version,
               "current version \"" + current + "\" where the device said " + version);
    if (answerYes) {
      FUZZ_CHECK(result == 0, "the confirmed update did not go on");
    } else {
      FUZZ_CHECK(result == 2 && LastMessage(view) == kUpdateCancelledMessage,
                 "the declined update did not end");
    }
  }
  FUZZ_CHECK(result == 0 || Messages(view).size() > shownBefore, "phase 3 failed without a word");
  return result;
}

int CheckBlockWrites(FakeUpdateView& view, ScriptedDevice& device) {
  const std::size_t shownBefore = Messages(view).size();
  int result = kPhaseWait;
  for (int runs = 1; result == kPhaseWait; ++runs) {
    FUZZ_CHECK(runs <= kMaxWorkerRuns, "the block writes never end");
    result = WriteFirmwareBlocks();
    FUZZ_CHECK(result == 0 || result == 1 || result == -1,
               "block-write run result " + std::to_string(result));
    FUZZ_CHECK(view.ProgressPosition() <= kProgressWriteCap,
               "the bar passed 9800 during the writes");
    if (result == kPhaseWait) {
      FUZZ_CHECK(transferCursor.nextBlock % FW_YIELD_INTERVAL == 0,
                 "a run yielded away from a multiple of 32");
    }
    FUZZ_CHECK(transferCursor.retryCount <= FW_RETRY_LIMIT || result == -1,
               "more than ten rejections in a row tolerated");
  }
  if (result == kPhaseAdvance) {
    FUZZ_CHECK(device.expectedBlock == firmwareImage.blockCount + 1,
               "the writes finished with blocks not accepted");
    FUZZ_CHECK(Messages(view).size() == shownBefore, "a message on a successful write");
  } else {
    const bool tooMany = LastMessage(view) == kTooManyRejectionsMessage;
    FUZZ_CHECK(tooMany || LastMessage(view) == kCommunicationMessage,
               "the writes failed without their message");
    FUZZ_CHECK(tooMany == (device.rejectionsInARow == FW_RETRY_LIMIT + 1),
               "the rejection limit is not the eleventh in a row");
  }
  return result;
}

int CheckChecksum(FakeUpdateView& view, ScriptedDevice& device) {
  const std::size_t shownBefore = Messages(view).size();
  device.checksum = {};
  const int result = ConfirmImageChecksum();
  const bool complete = Shown(view, shownBefore, kUpdateCompleteMessage);
  const bool confirmed = device.checksum.result == 0 && device.checksum.byte0 == 0;
  FUZZ_CHECK(complete == confirmed, confirmed ? "a confirmed checksum was not reported"
                                              : "completion shown for an unconfirmed checksum");
  FUZZ_CHECK(result == (confirmed ? 2 : -1), "phase 5 result " + std::to_string(result));
  FUZZ_CHECK((view.ProgressPosition() == 10000) == confirmed,
             "the bar is full without a confirmation");
  if (!confirmed) {
    const std::string& expected =
        device.checksum.result != 0 ? kCommunicationMessage : kUpdateFailedMessage;
    FUZZ_CHECK(LastMessage(view) == expected, "phase 5 failed with \"" + LastMessage(view) + "\"");
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  BuildImage(input);

  usb_test::FakeVendorAgent vendor;
  vendor.SetNextList({std::string("SCRIBOLANTE X")}, 1);
  ScriptedDevice device(input, firmwareImage);
  vendor.onTransfer = [&device](usb_test::FakeHidDevice&, const std::uint8_t* command,
                                int direction, void* buffer, int length) {
    return device.OnTransfer(command, direction, buffer, length);
  };
  FakeUpdateView view;
  bool answerYes = true;
  view.SetMessageBoxHandler([&answerYes](const MessageBoxRecord& box) {
    if ((box.type & MB_TYPEMASK) == MB_YESNO) return answerYes ? IDYES : IDNO;
    return IDOK;
  });
  {
    C_GPUSBHIDStdAgentEx facade;
    C_GPUSBHIDStdAgentEx::hidAgent->agent = &vendor;
    UpdateContextRecord context{&view, &facade};
    UpdateContext = &context;
    FUZZ_CHECK(facade.Scan(0) == 1 && facade.GetDeviceCount() == 1 && facade.Connect(0) == 1,
               "the one device could not be opened");

    for (int pass = 0; pass < kMaxPasses; ++pass) {
      transferCursor = TransferCursor{};
      device.StartOver();
      answerYes = (input.Byte() & 0x0F) != 0x0F;
      int result = CheckDeviceInfo(view, device, answerYes);
      if (result == kPhaseAdvance) result = CheckBlockWrites(view, device);
      if (result == kPhaseAdvance) result = CheckChecksum(view, device);
      if (result != kPhaseRestart || input.empty()) break;
    }
    FUZZ_CHECK(
        view.ProgressPosition() <= kProgressWriteCap || Shown(view, 0, kUpdateCompleteMessage),
        "the bar is full without a completed update");
    for (const int position : view.ProgressPositions()) {
      FUZZ_CHECK(position >= 0 && position <= 10000,
                 "progress position " + std::to_string(position) + " outside 0..10000");
    }
    const std::vector<std::pair<int, int>> ranges = view.ProgressRanges();
    FUZZ_CHECK(std::all_of(ranges.begin(), ranges.end(),
                           [](const auto& range) {
                             return range == std::pair{0, 10000};
                           }),
               "the progress range is 0..10000");
    UpdateContext = nullptr;
  }
  const std::string unreleased = vendor.Unreleased();
  FUZZ_CHECK(unreleased.empty(), unreleased);
  return 0;
}
