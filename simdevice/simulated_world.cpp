// The simulated bus: scans per the scenario's lists, injected failures by call number, and
// transfers decoded and answered by each device's model, every call traced.
#include "simdevice/simulated_world.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/crc16.h"
#include "platform/hex_text.h"
#include "platform/sha256.h"
#include "simdevice/command_decoder.h"
#include "simdevice/result_codes.h"
#include "simdevice/simulated_objects.h"

namespace simdevice {
namespace {

// A command block asking the device to confirm the image's checksum (read back).
bool IsChecksumConfirmation(const void* command, int direction) {
  if (command == nullptr || direction != 0) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(command);
  return bytes[0] == 0xF6 && bytes[1] == static_cast<std::uint8_t>(Operation::ConfirmChecksum);
}

}  // namespace

std::chrono::microseconds TransferDelay(std::int64_t length, std::uint64_t rate) {
  if (rate == 0 || length <= 0) return std::chrono::microseconds(0);
  // length is at most 2^31 and a second is 10^6 us, so the product fits in 64 bits.
  return std::chrono::microseconds(static_cast<std::uint64_t>(length) * 1000000 / rate);
}

SimulatedWorld::SimulatedWorld(Scenario scenario, std::shared_ptr<TraceWriter> trace)
    : scenario_(std::move(scenario)), trace_(std::move(trace)) {}

void SimulatedWorld::Trace(const std::string& line) {
  if (trace_) trace_->WriteLine(line);
}

SimulatedDevice& SimulatedWorld::DeviceNamed(const std::string& name) {
  std::unique_ptr<SimulatedDevice>& device = devices_[name];
  if (!device) device = std::make_unique<SimulatedDevice>(name, scenario_.device);
  return *device;
}

bool SimulatedWorld::Connected(const SimulatedDevice& device) const {
  return !device.unplugged && present_.count(device.name()) != 0;
}

bool SimulatedWorld::FilterMatches(const DeviceFilter& filter) const {
  if (filter.filterEnabled == 0) return true;
  const std::uint16_t extraId = filter.extraId;
  return filter.vendorId == scenario_.vendorId && filter.productId == scenario_.productId &&
         (extraId == 0xFFFF || extraId == scenario_.extraId);
}

int SimulatedWorld::Enumerate(const EnumerateRequest* request) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t call = ++enumerateCalls_;
  // What is plugged in follows the scan count whether or not this call fails, so an
  // injected failure does not unplug anything.
  present_.clear();
  for (const std::string& name : scenario_.NamesForScan(call)) {
    if (!DeviceNamed(name).unplugged) present_.insert(name);
  }
  listed_.clear();

  int result = kResultOk;
  const DeviceFilter* filter = request ? request->filter : nullptr;
  if (!request || !filter) {
    result = kResultInvalidArgument;
  } else if (std::optional<int> code = scenario_.enumerateFailures.CodeFor(call)) {
    result = *code;
  } else if (FilterMatches(*filter)) {
    for (const std::string& name : scenario_.NamesForScan(call)) {
      if (present_.count(name)) listed_.push_back(&DeviceNamed(name));
      if (present_.count(name) && scenario_.unstableNames) {
        listed_.back()->ShowAs(name + "@" + std::to_string(call));
      }
    }
  }

  auto field = [](bool known, const std::string& value) { return known ? value : "-"; };
  Trace("enumerate kind=" + field(request, request ? std::to_string(request->kind) : "") +
        " mode=" + field(request, request ? std::to_string(request->mode) : "") +
        " scanOption=" + field(filter, filter ? std::to_string(filter->scanOption) : "") +
        " filterEnabled=" + field(filter, filter ? std::to_string(filter->filterEnabled) : "") +
        " vendorId=" + field(filter, filter ? platform::Hex4(filter->vendorId) : "") +
        " productId=" + field(filter, filter ? platform::Hex4(filter->productId) : "") +
        " extraId=" + field(filter, filter ? platform::Hex4(filter->extraId) : "") +
        " result=" + std::to_string(result) + " count=" + std::to_string(listed_.size()));
  return result;
}

int SimulatedWorld::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(listed_.size());
}

I_DeviceInfo* SimulatedWorld::DeviceInfoAt(int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimulatedDevice* device = nullptr;
  if (position >= 0 && static_cast<std::size_t>(position) < listed_.size()) {
    device = listed_[static_cast<std::size_t>(position)];
  }
  Trace("info position=" + std::to_string(position) +
        " name=" + (device ? device->name() : std::string("-")));
  return device;
}

int SimulatedWorld::Open(int position, int access, I_UsbDevice** device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t call = ++openCalls_;
  int result = kResultOk;
  if (device) *device = nullptr;
  if (!device) {
    result = kResultInvalidArgument;
  } else if (std::optional<int> code = scenario_.openFailures.CodeFor(call)) {
    result = *code;
  } else if (position < 0 || static_cast<std::size_t>(position) >= listed_.size()) {
    result = kResultInvalidArgument;
  } else {
    *device =
        new SimulatedUsbDevice(shared_from_this(), *listed_[static_cast<std::size_t>(position)]);
  }
  Trace("open position=" + std::to_string(position) + " access=" + std::to_string(access) +
        " result=" + std::to_string(result));
  return result;
}

int SimulatedWorld::Interface(SimulatedDevice& device, int kind, I_GPHidDeviceEx** hid) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t call = ++interfaceCalls_;
  int result = kResultOk;
  if (hid) *hid = nullptr;
  if (!hid) {
    result = kResultInvalidArgument;
  } else if (std::optional<int> code = scenario_.interfaceFailures.CodeFor(call)) {
    result = *code;
  } else if (kind != 2) {
    result = kResultInvalidArgument;
  } else {
    *hid = new SimulatedHidDevice(shared_from_this(), device);
  }
  Trace("interface kind=" + std::to_string(kind) + " result=" + std::to_string(result));
  return result;
}

int SimulatedWorld::Attribute(SimulatedDevice& device, char which) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int value = which == 'a' ? scenario_.attributeA : scenario_.attributeB;
  Trace(std::string("attribute which=") + which + " device=" + device.name() +
        " value=" + std::to_string(value));
  return value;
}

void SimulatedWorld::TraceRelease(std::string_view object, const SimulatedDevice* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  Trace("release object=" + std::string(object) +
        " name=" + (device ? device->name() : std::string("-")));
}

int SimulatedWorld::Transfer(SimulatedDevice& device, const void* command, int direction,
                             void* data, int length) {
  std::chrono::microseconds delay(0);
  bool hang = false;
  int result;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t exchange = ++transferCalls_;
    std::uint16_t crc = platform::kCrc16Initial;
    // The data's CRC and the line are only for the trace: without one, a block costs the
    // device's own check alone.
    hang = std::find(scenario_.hangAt.begin(), scenario_.hangAt.end(), exchange) !=
           scenario_.hangAt.end();
    result =
        TransferLocked(device, exchange, command, direction, data, length, trace_ ? &crc : nullptr);
    if (result == kResultOk) {
      delay = TransferDelay(length, scenario_.rate);
      if (IsChecksumConfirmation(command, direction)) {
        delay += std::chrono::milliseconds(scenario_.checksumDelayMs);
      }
    }
    if (trace_) {
      Trace("transfer device=" + device.name() + " command=" +
            (command
                 ? platform::HexDigits(static_cast<const std::uint8_t*>(command), kCommandBlockSize)
                 : std::string("-")) +
            " direction=" + std::to_string(direction) + " length=" + std::to_string(length) +
            " crc=" + platform::Hex4(crc) + " result=" + std::to_string(result));
    }
  }
  // The pace of a real device, without holding up transfers to the other devices.
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  // A device that never answers: the call stays here for as long as the process lives.
  while (hang) std::this_thread::sleep_for(std::chrono::hours(1));
  return result;
}

int SimulatedWorld::TransferLocked(SimulatedDevice& device, std::uint64_t exchange,
                                   const void* command, int direction, void* data, int length,
                                   std::uint16_t* crc) {
  if (std::find(scenario_.unplugAt.begin(), scenario_.unplugAt.end(), exchange) !=
      scenario_.unplugAt.end()) {
    device.unplugged = true;
  }
  if (auto failure = scenario_.transferFailures.find(exchange);
      failure != scenario_.transferFailures.end()) {
    return failure->second;
  }
  if (!Connected(device)) return kTransferDeviceGone;
  if (!command || (direction != 0 && direction != 1) || length < 0 || (length > 0 && !data)) {
    return kTransferInvalidArgument;
  }
  DecodedCommand decoded;
  const int decodeResult =
      DecodeCommand(static_cast<const std::uint8_t*>(command), direction, length, &decoded);
  if (decodeResult != kResultOk) return decodeResult;

  auto* bytes = static_cast<std::uint8_t*>(data);
  if (direction == 1) {
    if (crc) *crc = platform::Crc16(bytes, static_cast<std::size_t>(length));
    device.model.Execute(decoded, bytes);
    return kResultOk;
  }
  const Reply reply = device.model.Execute(decoded, nullptr);
  std::size_t written = reply.size();  // the decoder made sure length is the reply size
  if (auto shortReply = scenario_.shortReplies.find(exchange);
      shortReply != scenario_.shortReplies.end()) {
    written = std::min<std::uint64_t>(written, shortReply->second);
  }
  std::memcpy(bytes, reply.data(), written);
  if (crc) *crc = platform::Crc16(bytes, written);
  return kResultOk;
}

}  // namespace simdevice
