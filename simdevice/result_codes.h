// The result codes our simulated GPlusUSBLibEx answers with, in one place so that the
// scenario documentation, the library and its tests agree on them.
#pragma once

namespace simdevice {

// Every operation: success.
inline constexpr int kResultOk = 0;
// Default code of an injected `fail enumerate|open|interface` (scenario).
inline constexpr int kResultInjectedFailure = 1;
// A null out-pointer or request, a list position outside the list, a factory version other
// than 1, an interface kind other than 2.
inline constexpr int kResultInvalidArgument = 2;
// The factory: the scenario file could not be read or has an error (stderr says which line).
inline constexpr int kResultScenarioError = 3;
// Any operation: the library itself failed (out of memory).
inline constexpr int kResultInternalError = 4;

// Transfer codes. 17 is left to the caller's own "no device open" result.
// Default code of an injected `fail transfer` (scenario).
inline constexpr int kTransferInjectedFailure = 31;
// Null command block, null data with a non-zero length, negative length, direction not 0/1.
inline constexpr int kTransferInvalidArgument = 32;
// Byte 0 of the command block is not 0xF6, or bytes 14-15 are not "GP".
inline constexpr int kTransferBadFraming = 33;
// Byte 1 of the command block names no known operation.
inline constexpr int kTransferUnknownOperation = 34;
// The data phase goes the wrong way for the operation.
inline constexpr int kTransferWrongDirection = 35;
// The data phase length does not fit the operation (16 for reads, 32768 for WriteBlock).
inline constexpr int kTransferWrongLength = 36;
// The device is no longer connected: unplugged (`unplug`) or absent from the current list.
inline constexpr int kTransferDeviceGone = 37;

// Any operation under `replay`: the call differs from the recorded one (or comes after the
// first that did, or after the end of the trace).
inline constexpr int kResultReplayDiffers = 38;

}  // namespace simdevice
