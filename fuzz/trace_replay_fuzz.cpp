// Fuzzes the trace reader and the replay session: traces come attached to reports and are
// replayed here, so any text must end in a clear error or a replay, never a crash, leak or hang.
// The input is the trace; a valid one is then replayed by making the calls it records, as the
// updater would, until the replay ends or parts from the trace.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "simdevice/replay_session.h"
#include "simdevice/replay_trace.h"
#include "usb/vendor_interfaces.h"

namespace {

using simdevice::TraceRecord;
using simdevice::TraceValue;

// Buffers larger than this are not given to a recorded Transfer: the program never reads more
// than a block.
constexpr std::int64_t kMaxBufferSize = 1 << 16;
constexpr std::size_t kCommandBlockSize = 16;

std::FILE* replayErrors = nullptr;

std::string TextOf(const TraceRecord& record, std::string_view key) {
  const TraceValue* value = record.Find(key);
  return value != nullptr && value->kind == TraceValue::Kind::Text ? value->text : std::string();
}

int NumberOf(const TraceRecord& record, std::string_view key) {
  return static_cast<int>(record.NumberOr(key, 0));
}

// The 16 bytes a record's command names, zeros where its hex is missing or bad.
std::vector<std::uint8_t> CommandOf(const TraceRecord& record) {
  std::vector<std::uint8_t> bytes(kCommandBlockSize, 0);
  const std::string hex = TextOf(record, "command");
  for (std::size_t index = 0; index < kCommandBlockSize && 2 * index + 1 < hex.size(); ++index) {
    bytes[index] =
        static_cast<std::uint8_t>(std::strtoul(hex.substr(2 * index, 2).c_str(), nullptr, 16));
  }
  return bytes;
}

// The objects the replay has handed out, by their number in the trace; everything still held
// is released at the end, as the program does.
class ReplayDriver {
 public:
  explicit ReplayDriver(std::shared_ptr<simdevice::ReplaySession> session)
      : session_(std::move(session)) {}
  ~ReplayDriver() {
    for (auto& [id, hid] : hids_) hid->Release();
    for (auto& [id, device] : devices_) device->Release();
    for (auto& [id, agent] : agents_) agent->Release();
  }

  // Makes the call the record describes; false when the trace names an object the replay never
  // handed out (the program could not make that call).
  bool Call(const TraceRecord& record) {
    const std::string interfaceName = TextOf(record, "interface");
    const std::string op = TextOf(record, "op");
    const int object = NumberOf(record, "object");
    if (interfaceName == "GPlusUSBLibEx") {
      I_GPUsbDeviceAgent* agent = nullptr;
      simdevice::CreateReplayAgent(session_, NumberOf(record, "version"), &agent);
      return Keep(agents_, NumberOf(record, "returned"), agent);
    }
    if (interfaceName == "I_GPUsbDeviceAgent" && agents_.count(object) != 0) {
      return AgentCall(record, op, object);
    }
    if (interfaceName == "I_UsbDevice" && devices_.count(object) != 0) {
      I_UsbDevice* device = devices_[object];
      if (op == "Release") {
        devices_.erase(object);
        device->Release();
        return true;
      }
      I_GPHidDeviceEx* hid = nullptr;
      device->GetInterface(NumberOf(record, "kind"), &hid);
      return Keep(hids_, NumberOf(record, "returned"), hid);
    }
    if (interfaceName == "I_GPHidDeviceEx" && hids_.count(object) != 0) {
      return HidCall(record, op, object);
    }
    if (interfaceName == "I_DeviceInfo" && infos_.count(object) != 0) {
      const char* name = infos_[object]->GetName();
      // Whatever the trace says, the name handed out is a terminated string.
      if (name != nullptr) FUZZ_CHECK(std::strlen(name) < (1u << 30), "name not terminated");
      return true;
    }
    return false;
  }

 private:
  template <typename Object>
  static bool Keep(std::map<int, Object*>& objects, int id, Object* object) {
    if (object == nullptr) return true;
    // A trace that hands out one number twice: the older object is given back.
    if (const auto earlier = objects.find(id); earlier != objects.end()) earlier->second->Release();
    objects[id] = object;
    return true;
  }

  bool AgentCall(const TraceRecord& record, const std::string& op, int object) {
    I_GPUsbDeviceAgent* agent = agents_[object];
    if (op == "Release") {
      agents_.erase(object);
      agent->Release();
    } else if (op == "Enumerate") {
      DeviceFilter filter{};
      filter.scanOption = NumberOf(record, "scanOption");
      filter.filterEnabled = NumberOf(record, "filterEnabled");
      filter.vendorId = static_cast<std::uint16_t>(NumberOf(record, "vendorId"));
      filter.productId = static_cast<std::uint16_t>(NumberOf(record, "productId"));
      filter.extraId = static_cast<std::uint16_t>(NumberOf(record, "extraId"));
      std::strncpy(filter.filterName, TextOf(record, "filterName").c_str(),
                   sizeof filter.filterName - 1);
      EnumerateRequest request{NumberOf(record, "kind"), NumberOf(record, "mode"), &filter};
      agent->Enumerate(&request);
    } else if (op == "GetCount") {
      agent->GetCount();
    } else if (op == "GetDeviceInfo") {
      if (I_DeviceInfo* info = agent->GetDeviceInfo(NumberOf(record, "position"))) {
        infos_[NumberOf(record, "returned")] = info;
      }
    } else {
      I_UsbDevice* device = nullptr;
      agent->OpenDevice(NumberOf(record, "position"), NumberOf(record, "access"), &device);
      return Keep(devices_, NumberOf(record, "returned"), device);
    }
    return true;
  }

  bool HidCall(const TraceRecord& record, const std::string& op, int object) {
    I_GPHidDeviceEx* hid = hids_[object];
    if (op == "Release") {
      hids_.erase(object);
      hid->Release();
    } else if (op == "GetDeviceInfo") {
      if (I_DeviceInfo* info = hid->GetDeviceInfo()) infos_[NumberOf(record, "returned")] = info;
    } else if (op == "GetAttributeA") {
      hid->GetAttributeA();
    } else if (op == "GetAttributeB") {
      hid->GetAttributeB();
    } else {
      const std::int64_t length = record.NumberOr("length", 0);
      const bool fits = length >= 0 && length <= kMaxBufferSize;
      // Exactly the recorded length, so that a reply longer than the buffer would show.
      std::vector<std::uint8_t> buffer(fits ? static_cast<std::size_t>(length) : 0);
      const std::vector<std::uint8_t> command = CommandOf(record);
      hid->Transfer(command.data(), NumberOf(record, "direction"), fits ? buffer.data() : nullptr,
                    fits ? static_cast<int>(length) : 0, NumberOf(record, "arg10"),
                    NumberOf(record, "arg3"), NumberOf(record, "arg0"));
    }
    return true;
  }

  const std::shared_ptr<simdevice::ReplaySession> session_;
  std::map<int, I_GPUsbDeviceAgent*> agents_;
  std::map<int, I_UsbDevice*> devices_;
  std::map<int, I_GPHidDeviceEx*> hids_;
  std::map<int, I_DeviceInfo*> infos_;  // the session's own
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterPrivateWorkingFolder("trace_replay_fuzz");
  // The replay's lines about differences go nowhere: the fuzzer's output stays readable.
  replayErrors = std::fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  simdevice::RecordedSession recorded;
  std::string error;
  if (!simdevice::ParseTrace(text, "fuzz.jsonl", &recorded, &error)) {
    FUZZ_CHECK(
        error.rfind("trace 'fuzz.jsonl'", 0) == 0 || error.rfind("the trace 'fuzz.jsonl'", 0) == 0,
        "an error that does not name the trace: " + error);
    return 0;
  }
  FUZZ_CHECK(recorded.sessions >= 1 && recorded.headerLine >= 1, "a trace without a header");
  const std::vector<TraceRecord>& records = recorded.records;
  for (std::size_t index = 0; index < records.size(); ++index) {
    FUZZ_CHECK(records[index].NumberOr("seq", 0) == static_cast<std::int64_t>(index) + 1,
               "seq out of order");
  }

  // A call the recorded device never answered must be reported and held; here it comes back.
  bool held = false;
  auto session = std::make_shared<simdevice::ReplaySession>("fuzz.jsonl", records, replayErrors,
                                                            [&held] { held = true; });
  {
    ReplayDriver driver(session);
    for (const TraceRecord& record : records) {
      if (session->Ended() || !driver.Call(record)) break;
    }
  }
  const bool anyUnanswered = std::any_of(
      records.begin(), records.end(), [](const TraceRecord& record) { return !record.answered; });
  FUZZ_CHECK(!held || anyUnanswered, "held in a call the device answered");
  return 0;
}
