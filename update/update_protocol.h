// Phases 3 to 5: the device information and the user's confirmation, the block writes on the
// UsbWorkerThread, and the whole-image checksum confirmation.
#pragma once

#include <cstdint>

class C_GPUSBHIDStdAgentEx;

inline constexpr std::uint32_t FW_RETRY_LIMIT = 10;
inline constexpr std::uint32_t FW_YIELD_INTERVAL = 32;

struct TransferCursor {
  std::uint32_t nextBlock = 1;   // next block to write, counted from 1
  std::uint32_t retryCount = 0;  // rejections since the last accepted block
};

// Shared by the successive worker runs of one update; reset by phase 0.
extern TransferCursor transferCursor;

// Reads a 16-byte reply for op (DeviceInfo, BlockStatus or ConfirmChecksum) into reply,
// which holds at least 16 bytes. True when the transfer succeeded.
bool DeviceRead(C_GPUSBHIDStdAgentEx& agent, std::uint16_t op, std::uint8_t* reply);

// Phase 3: 0 confirmed, -1 communication error or not in update mode, 2 declined or no memory.
int QueryDeviceInfo();
// One worker run of phase 4: 0 all written, 1 yield, -1 failure, 2 no memory.
int WriteFirmwareBlocks();
// Phase 5: 2 complete (or no memory), -1 communication error or checksum refused.
int ConfirmImageChecksum();
