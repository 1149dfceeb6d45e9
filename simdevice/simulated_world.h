// The simulated USB bus behind one agent: the devices a scenario plugs in, the call counters
// its failures are keyed on, and the trace. Every agent gets its own world; the agent, the
// devices opened through it and their HID interfaces share it, so it outlives the agent
// while a HID interface is still held.
//
// Threads: every operation may be called from any thread; one mutex guards all state and
// the order of trace lines. A transfer's simulated pace is slept after the mutex is let go,
// so transfers to two devices overlap as on a real bus.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "simdevice/device_model.h"
#include "simdevice/scenario.h"
#include "simdevice/trace_writer.h"
#include "usb/vendor_interfaces.h"

namespace simdevice {

// A device on the simulated bus; its I_DeviceInfo is the object the library hands out for
// it, which keeps its name as long as the world lives.
class SimulatedDevice final : public I_DeviceInfo {
  std::string name_;
  std::string shownName_;  // what GetName answers: the name, unless `unstable-names` changed it

 public:
  SimulatedDevice(std::string name, const DeviceBehaviour& behaviour)
      : name_(std::move(name)), shownName_(name_), model(behaviour) {}

  const char* GetName() override { return shownName_.c_str(); }
  const std::string& name() const { return name_; }
  // Changed by Enumerate only, which callers never run beside a GetName (see vendor_interfaces.h).
  void ShowAs(std::string shownName) { shownName_ = std::move(shownName); }

  DeviceModel model;       // guarded by the world's mutex
  bool unplugged = false;  // guarded by the world's mutex
};

// How long a transfer of length bytes takes at rate bytes per second (0: no delay).
std::chrono::microseconds TransferDelay(std::int64_t length, std::uint64_t rate);

class SimulatedWorld : public std::enable_shared_from_this<SimulatedWorld> {
 public:
  // trace may be null (no trace file).
  SimulatedWorld(Scenario scenario, std::shared_ptr<TraceWriter> trace);

  SimulatedWorld(const SimulatedWorld&) = delete;
  SimulatedWorld& operator=(const SimulatedWorld&) = delete;

  // The agent's operations; results as in vendor_interfaces.h, codes in result_codes.h.
  int Enumerate(const EnumerateRequest* request);
  int Count();
  I_DeviceInfo* DeviceInfoAt(int position);
  int Open(int position, int access, I_UsbDevice** device);

  // The opened devices' operations.
  int Interface(SimulatedDevice& device, int kind, I_GPHidDeviceEx** hid);
  int Attribute(SimulatedDevice& device, char which);
  int Transfer(SimulatedDevice& device, const void* command, int direction, void* data, int length);

  // object is agent, usbdevice or hid; device null for the agent.
  void TraceRelease(std::string_view object, const SimulatedDevice* device);
  // Writes a line to the trace, if there is one.
  void Trace(const std::string& line);

  const Scenario& scenario() const { return scenario_; }

 private:
  SimulatedDevice& DeviceNamed(const std::string& name);
  bool Connected(const SimulatedDevice& device) const;
  bool FilterMatches(const DeviceFilter& filter) const;
  // crc, when not null, receives the CRC-16 of the data carried, for the trace.
  int TransferLocked(SimulatedDevice& device, std::uint64_t exchange, const void* command,
                     int direction, void* data, int length, std::uint16_t* crc);

  const Scenario scenario_;
  const std::shared_ptr<TraceWriter> trace_;

  std::mutex mutex_;
  std::uint64_t enumerateCalls_ = 0;
  std::uint64_t openCalls_ = 0;
  std::uint64_t interfaceCalls_ = 0;
  std::uint64_t transferCalls_ = 0;
  std::map<std::string, std::unique_ptr<SimulatedDevice>> devices_;  // ever plugged in
  std::set<std::string> present_;         // plugged in as of the last scan
  std::vector<SimulatedDevice*> listed_;  // the list the last Enumerate built
};

}  // namespace simdevice
