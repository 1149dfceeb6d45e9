// The call trace's format as the recorder writes it and the simulated library's replay reads it:
// JSON Lines, a header line, then one record when a call enters the library and one when it
// returns. Header-only, so that the simulated library shares it without linking usb/.
#pragma once

#include <string_view>

namespace trace_format {

// The header's "format" and the newest "version" (every version from 1 is read back).
inline constexpr const char* kFormatName = "scribolante-fw-updater-trace";
inline constexpr int kFormatVersion = 2;

// How a file that already holds a trace begins: its header's first field.
inline constexpr std::string_view kTraceStart = "{\"format\":\"scribolante-fw-updater-trace\"";
static_assert(kTraceStart.substr(11, kTraceStart.size() - 12) == kFormatName);

// The header's fields.
inline constexpr const char* kFormat = "format";
inline constexpr const char* kVersion = "version";

// Every record: its call's number and the milliseconds since the recording began.
inline constexpr const char* kSeq = "seq";
inline constexpr const char* kMs = "ms";
// Only in the record of a call entering: the interface, the object's number (absent for the
// library itself and for none), the operation.
inline constexpr const char* kInterface = "interface";
inline constexpr const char* kObject = "object";
inline constexpr const char* kOp = "op";
// In the record of a return: what the call answered, and the number of an object it handed out.
inline constexpr const char* kResult = "result";
inline constexpr const char* kReturned = "returned";

// A transfer's bytes: the command block, the CRC-16 and SHA-256 of the data sent, and the
// buffer a read left (all as lower-case hex digits).
inline constexpr const char* kCommand = "command";
inline constexpr const char* kCrc16 = "crc16";
inline constexpr const char* kSha256 = "sha256";
inline constexpr const char* kData = "data";

}  // namespace trace_format
