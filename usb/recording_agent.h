// Recording stand-ins for the vendor library's objects: each forwards every call unchanged to
// the library's own object and records it (usb/call_recorder.h). Installed by the HID device
// agent when the program records, so the agent itself is the same with or without a trace.
#pragma once

#include <memory>

#include "usb/call_recorder.h"
#include "usb/vendor_interfaces.h"

namespace usb {

// Makes the factory call create(version, agent) with the call on record (before it enters
// the library, and again when it returns), and hands back through *agent the vendor agent to
// keep: when the call succeeded, a recording stand-in for the library's agent that owns it
// (its Release gives the library's back); otherwise whatever the call left there. The devices
// and interfaces opened through the stand-in are recorded too. Threads: as the library's own
// objects; the recorder is locked only while a record is written, never across a library call.
int CreateRecordingAgent(const std::shared_ptr<CallRecorder>& recorder,
                         GPAPI_CreateGPUsbDeviceAgentFunction create, int version,
                         I_GPUsbDeviceAgent** agent);

}  // namespace usb
