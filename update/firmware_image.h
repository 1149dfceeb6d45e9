// Phase 0: finding the firmware file in the working folder, loading it into a padded image,
// and the CRC-16 used for the image and for every block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::uint32_t FW_PAD_UNIT = 1024;
inline constexpr std::uint32_t FW_BLOCK_SIZE = 32768;

struct FirmwareImage {
  std::vector<std::uint8_t> data;  // the file's bytes, then 0xFF up to size
  std::uint32_t size = 0;          // the file's length raised to a multiple of FW_PAD_UNIT
  std::uint16_t crc = 0xFFFF;      // Crc16 over all size bytes
  std::uint32_t blockCount = 0;    // whole FW_BLOCK_SIZE blocks in size
};

// The image of the last successful load; written by phase 0, read by the block writes.
extern FirmwareImage firmwareImage;

// CRC-16/IBM-3740: polynomial 0x1021, initial 0xFFFF, not reflected, no final XOR.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t length);

// Full path of the first entry of the working folder whose name contains a match of
// "SC5_Firmware_v\d+\.\d+\.bin", or "" when there is none.
std::string FindFirmwareFile();

// Phase 0. 0: loaded; -1: no usable file (a message has been shown); 2: no memory.
int LoadFirmwareImage();
