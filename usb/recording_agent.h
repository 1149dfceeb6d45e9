// Recording stand-ins for the vendor library's objects: each forwards every call unchanged to
// the library's own object and records it (usb/call_recorder.h). Installed by the HID device
// agent when the program records, so the agent itself is the same with or without a trace.
#pragma once

#include <memory>

#include "usb/call_recorder.h"
#include "usb/vendor_interfaces.h"

namespace usb {

// Records the factory call that the agent has just made, and returns the vendor agent to
// keep: when the call succeeded, a recording stand-in for agent that owns it (its Release
// gives agent back); otherwise agent unchanged. The devices and interfaces opened through the
// stand-in are recorded too. Threads: as the library's own objects; the recorder is locked
// only while a record is written, never across a library call.
I_GPUsbDeviceAgent* RecordFactoryCall(const std::shared_ptr<CallRecorder>& recorder, int version,
                                      int result, I_GPUsbDeviceAgent* agent);

}  // namespace usb
