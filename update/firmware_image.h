// Phase 0: finding the firmware file in the working folder, loading it into a padded image,
// and the CRC-16 used for the image and for every block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/crc16.h"
#include "update/message_text.h"

inline constexpr std::uint32_t FW_PAD_UNIT = 1024;
inline constexpr std::uint32_t FW_BLOCK_SIZE = 32768;

// The largest file whose padded size still fits the 32-bit size: 4 GiB less one pad unit.
inline constexpr std::uint64_t kMaxFirmwareFileLength = 0x1'0000'0000ull - FW_PAD_UNIT;

inline constexpr const char* kFirmwareNamePattern = R"(SC5_Firmware_v\d+\.\d+\.bin)";
// What the name of a named firmware file holds; the group is the version.
inline constexpr const char* kNamedFirmwarePattern = R"(SC5_Firmware_v(\d+\.\d+))";
inline constexpr const char* kFirmwareNamePrefix = "SC5_Firmware_v";
inline constexpr const char* kStartupLogLine = "Startup FW updater.";

inline constexpr const char* kFirmwareNotFoundMessage =
    QT_TRANSLATE_NOOP("Messages", "バイナリファイルが見つかりませんでした。");
// Followed by a line break and the file name.
inline constexpr const char* kFirmwareUnreadableMessage =
    QT_TRANSLATE_NOOP("Messages", "バイナリファイルを読み込めませんでした。");
inline constexpr const char* kFirmwareTooLargeMessage =
    QT_TRANSLATE_NOOP("Messages", "バイナリファイルが大きすぎるため読み込めませんでした。");

struct FirmwareImage {
  std::vector<std::uint8_t> data;  // the file's bytes, then 0xFF up to size
  std::uint32_t size = 0;          // the file's length raised to a multiple of FW_PAD_UNIT
  std::uint16_t crc = 0xFFFF;      // Crc16 over all size bytes
  std::uint32_t blockCount = 0;    // whole FW_BLOCK_SIZE blocks in size
  std::string fileName;            // the file's name, without its folder (for the history)
  std::uint64_t fileLength = 0;    // the file's length in bytes before the padding
};

// The image of the last successful load; written by phase 0 (UI thread), read by the block
// writes (worker) and phase 5, ordered by the step hand-overs.
extern FirmwareImage firmwareImage;

// CRC-16/IBM-3740 of the image and of every block (polynomial 0x1021, initial 0xFFFF, not
// reflected, no final XOR), the one the simulated device and the trace use too.
using platform::Crc16;

// True when a file name contains a match of "SC5_Firmware_v\d+\.\d+\.bin" (ECMAScript,
// letter case significant): a search, so text before and after the match is allowed.
bool IsFirmwareFileName(const std::string& name);

// The rule for a firmware file that the user names (on the command line or by opening it from
// a file manager): the name holds "SC5_Firmware_v<digits>.<digits>" and ends in ".bin", so the
// name a browser gives a second download, "SC5_Firmware_v1.3 (1).bin", qualifies. Answers the
// version those digits give ("1.3"), or "" when the name does not qualify. Letter case is
// significant; only the name is looked at, never the folders above it.
std::string NamedFirmwareVersion(const std::string& fileName);

// Where FindFirmwareFile looks: folder empty means the working folder as it is at each search;
// otherwise that folder (made absolute when set). fileName not empty: that entry of the folder
// is the one candidate, on every search, and the folder is never listed, so a file the user
// named is never replaced by a neighbour; its name must qualify by NamedFirmwareVersion. Set
// from the command line before the sequence starts; UI thread.
struct FirmwareSource {
  std::string folder;
  std::string fileName;
};
void SetFirmwareSource(const FirmwareSource& source);
const FirmwareSource& CurrentFirmwareSource();

// Full path of the firmware file: with a named file, that file while it exists; otherwise the
// first entry of the source's folder, in the order the file system lists them, whose name
// qualifies by IsFirmwareFileName. "" when there is none or the folder cannot be read.
// Entries whose names cannot be read are skipped.
std::string FindFirmwareFile();

// The version shown for a firmware file name: what follows the first "SC5_Firmware_v", less
// its last four characters ("SC5_Firmware_v1.10.bin" -> "1.10"). Only the name is looked at,
// never the folders above it.
std::string FirmwareVersionText(const std::string& fileName);

// Phase 0, UI thread: sets the progress range, logs the start-up line, finds and reads the
// file (read-only) into a fresh image and shows its version in the target version field (for a
// named file, the version by NamedFirmwareVersion).
// 0: loaded (firmwareImage replaced, transfer back at block 1); -1: no file, or a file that
// cannot be read or is too large (a message has been shown; the old image stays); 2: no
// memory for the image (message shown). The retry count and ConnectionPollCount are always 0
// afterwards.
int LoadFirmwareImage();

// Called with the image size before the image buffer is allocated; may throw std::bad_alloc
// to simulate memory running out. Null removes it. For tests.
void SetImageAllocationHookForTesting(void (*hook)(std::size_t size));
