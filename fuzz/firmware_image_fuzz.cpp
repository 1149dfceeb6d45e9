// Fuzzes loading the firmware image: the input becomes the firmware file in a private working
// folder, and the loaded image must be the file padded with 0xFF, checksummed and counted in
// whole blocks, with the file itself left as it was.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crc16_reference.h"
#include "fake_update_view.h"
#include "fuzz_support.h"
#include "update/firmware_image.h"
#include "update/update_protocol.h"
#include "update/update_state.h"

namespace {

constexpr const char* kFileName = "SC5_Firmware_v1.0.bin";

std::filesystem::path workingFolder;

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  workingFolder = fuzz::EnterPrivateWorkingFolder("firmware_image_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Any length, not only whole kilobytes: the fast CRC's tail handling is checked too.
  const std::uint16_t fileCrc = test_support::BitwiseCrc16(data, size);
  FUZZ_CHECK(Crc16(data, size) == fileCrc,
             "Crc16 differs from its definition for " + std::to_string(size) + " bytes");

  const std::filesystem::path path = workingFolder / kFileName;
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(file.good(), "cannot write the firmware file");
  }

  FakeUpdateView view;
  UpdateContextRecord context{&view, nullptr};
  UpdateContext = &context;
  // Whatever the last input left behind, a load starts the transfer over.
  transferCursor = TransferCursor{7, 3};
  ConnectionPollCount = 5;
  const int result = LoadFirmwareImage();
  UpdateContext = nullptr;

  const std::vector<MessageBoxRecord> boxes = view.MessageBoxes();
  const std::string lastBox = boxes.empty() ? std::string() : boxes.back().text;
  FUZZ_CHECK(result == 0, "a readable file did not load: " + lastBox);
  FUZZ_CHECK(boxes.empty(), "a message for a readable file: " + lastBox);
  FUZZ_CHECK(view.ProgressRanges() == (std::vector<std::pair<int, int>>{{0, 10000}}),
             "the progress range was not set to 0..10000");
  const std::vector<std::string> targets = view.TargetVersionTexts();
  FUZZ_CHECK(targets.size() == 1 && targets[0] == "1.0", "the target version is not \"1.0\"");
  FUZZ_CHECK(transferCursor.nextBlock == 1 && transferCursor.retryCount == 0,
             "the transfer does not start over at block 1");
  FUZZ_CHECK(ConnectionPollCount == 0, "the poll count was not reset");

  const FirmwareImage& image = firmwareImage;
  const std::uint64_t expectedSize = (size + FW_PAD_UNIT - 1) / FW_PAD_UNIT * FW_PAD_UNIT;
  FUZZ_CHECK(image.size == expectedSize,
             "size " + std::to_string(image.size) + " for a file of " + std::to_string(size));
  FUZZ_CHECK(image.data.size() == image.size, "the buffer does not hold size bytes");
  FUZZ_CHECK(size == 0 || std::memcmp(image.data.data(), data, size) == 0,
             "the image does not begin with the file's bytes");
  for (std::size_t index = size; index < image.size; ++index) {
    FUZZ_CHECK(image.data[index] == 0xFF, "padding byte " + std::to_string(index) + " not 0xFF");
  }
  // The file's CRC carried on over the padding is the CRC of the whole image.
  FUZZ_CHECK(
      image.crc == test_support::BitwiseCrc16(image.data.data() + size, image.size - size, fileCrc),
      "the image CRC is not the CRC-16 of its size bytes");
  FUZZ_CHECK(image.blockCount == image.size / FW_BLOCK_SIZE, "wrong block count");
  FUZZ_CHECK(static_cast<std::uint64_t>(image.blockCount) * FW_BLOCK_SIZE <= image.size,
             "blocks beyond the image");

  const std::vector<std::uint8_t> after = ReadWholeFile(path);
  FUZZ_CHECK(after.size() == size && (size == 0 || std::memcmp(after.data(), data, size) == 0),
             "the firmware file changed while it was loaded");
  return 0;
}
