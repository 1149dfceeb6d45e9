// Replay of a recorded session: each call is matched with the next record, and the record's
// results (return values, returned objects, read data) are the answer.
#include "simdevice/replay_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

#include "platform/crc16.h"
#include "platform/hex_text.h"
#include "platform/sha256.h"
#include "simdevice/result_codes.h"
#include "usb/trace_format.h"

namespace simdevice {

class ReplayDeviceInfo final : public I_DeviceInfo {
 public:
  ReplayDeviceInfo(ReplaySession& session, int id) : session_(session), id_(id) {}
  const char* GetName() override {
    return session_.Name(*this, session_.Next({"I_DeviceInfo", id_, "GetName", {}}));
  }
  // Every name this object has answered with, so each pointer handed out stays valid.
  std::deque<std::string> names;

 private:
  ReplaySession& session_;
  const int id_;
};

namespace {

constexpr int kCommandBlockSize = 16;

std::string Describe(const char* interfaceName, std::int64_t object, const std::string& op) {
  std::string text = interfaceName;
  // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on "literal" + temporary string.
  if (object != 0) text.append("#").append(std::to_string(object));
  return text.append("::").append(op);
}

std::string Describe(const TraceRecord& record) {
  const TraceValue* interfaceName = record.Find(trace_format::kInterface);
  const TraceValue* op = record.Find(trace_format::kOp);
  return Describe(interfaceName ? interfaceName->text.c_str() : "?",
                  record.NumberOr(trace_format::kObject, 0), op ? op->text : "?");
}

int Result(const TraceRecord* record) {
  if (record == nullptr) return kResultReplayDiffers;
  return static_cast<int>(record->NumberOr(trace_format::kResult, kResultReplayDiffers));
}

// What a call that answers a value (a count, an attribute) answered; 0 when it does not
// match the trace.
int Value(const TraceRecord* record) {
  return record != nullptr ? static_cast<int>(record->NumberOr(trace_format::kResult, 0)) : 0;
}

// The number of the object a call handed out, 0 for none.
int Returned(const TraceRecord* record) {
  return record != nullptr ? static_cast<int>(record->NumberOr(trace_format::kReturned, 0)) : 0;
}

class ReplayHidDevice final : public I_GPHidDeviceEx {
 public:
  ReplayHidDevice(std::shared_ptr<ReplaySession> session, int id)
      : session_(std::move(session)), id_(id) {}

  void Release() override {
    Call("Release", {});
    delete this;
  }
  I_DeviceInfo* GetDeviceInfo() override {
    return session_->DeviceInfo(Returned(Call("GetDeviceInfo", {})));
  }
  int GetAttributeA() override { return Value(Call("GetAttributeA", {})); }
  int GetAttributeB() override { return Value(Call("GetAttributeB", {})); }
  int Transfer(const void* commandBlock, int direction, void* data, int length, int arg10, int arg3,
               int arg0) override {
    const auto* command = static_cast<const std::uint8_t*>(commandBlock);
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::vector<std::pair<const char*, TraceValue>> arguments = {
        {trace_format::kCommand,
         command ? TraceValue::Of(platform::HexDigits(command, kCommandBlockSize)) : TraceValue{}},
        {"direction", TraceValue::Of(direction)},
        {"length", TraceValue::Of(length)},
        {"arg10", TraceValue::Of(arg10)},
        {"arg3", TraceValue::Of(arg3)},
        {"arg0", TraceValue::Of(arg0)}};
    const bool carriesData = bytes != nullptr && length >= 0;
    if (direction == 1) {
      const auto size = static_cast<std::size_t>(carriesData ? length : 0);
      arguments.emplace_back(trace_format::kCrc16,
                             carriesData
                                 ? TraceValue::Of(platform::Hex4(platform::Crc16(bytes, size)))
                                 : TraceValue{});
      arguments.emplace_back(
          trace_format::kSha256,
          carriesData ? TraceValue::Of(platform::Sha256Hex(bytes, size)) : TraceValue{});
    }
    const TraceRecord* record = Call("Transfer", std::move(arguments));
    if (record == nullptr) return kResultReplayDiffers;
    // A read leaves in the buffer what the recorded call left there.
    const TraceValue* recorded = record->Find(trace_format::kData);
    std::string reply;
    if (direction != 1 && carriesData && recorded != nullptr &&
        recorded->kind == TraceValue::Kind::Text &&
        platform::DecodeHexDigits(recorded->text, &reply)) {
      std::memcpy(bytes, reply.data(), std::min(reply.size(), static_cast<std::size_t>(length)));
    }
    return Result(record);
  }

 private:
  ~ReplayHidDevice() = default;
  const TraceRecord* Call(const char* operation,
                          std::vector<std::pair<const char*, TraceValue>> arguments) {
    return session_->Next({"I_GPHidDeviceEx", id_, operation, std::move(arguments)});
  }

  const std::shared_ptr<ReplaySession> session_;
  const int id_;
};

class ReplayUsbDevice final : public I_UsbDevice {
 public:
  ReplayUsbDevice(std::shared_ptr<ReplaySession> session, int id)
      : session_(std::move(session)), id_(id) {}

  void Release() override {
    session_->Next({"I_UsbDevice", id_, "Release", {}});
    delete this;
  }
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override {
    const TraceRecord* record =
        session_->Next({"I_UsbDevice", id_, "GetInterface", {{"kind", TraceValue::Of(kind)}}});
    if (hid != nullptr) {
      *hid = Returned(record) != 0 ? new ReplayHidDevice(session_, Returned(record)) : nullptr;
    }
    return Result(record);
  }

 private:
  ~ReplayUsbDevice() = default;
  const std::shared_ptr<ReplaySession> session_;
  const int id_;
};

class ReplayAgent final : public I_GPUsbDeviceAgent {
 public:
  ReplayAgent(std::shared_ptr<ReplaySession> session, int id)
      : session_(std::move(session)), id_(id) {}

  void Release() override {
    Call("Release", {});
    delete this;
  }
  int Enumerate(EnumerateRequest* request) override {
    const DeviceFilter* filter = request ? request->filter : nullptr;
    auto number = [](bool known, std::int64_t value) {
      return known ? TraceValue::Of(value) : TraceValue{};
    };
    TraceValue name;
    if (filter) {
      name = TraceValue::Of(
          std::string(filter->filterName, strnlen(filter->filterName, sizeof filter->filterName)));
    }
    return Result(
        Call("Enumerate", {{"kind", number(request, request ? request->kind : 0)},
                           {"mode", number(request, request ? request->mode : 0)},
                           {"scanOption", number(filter, filter ? filter->scanOption : 0)},
                           {"filterEnabled", number(filter, filter ? filter->filterEnabled : 0)},
                           {"vendorId", number(filter, filter ? filter->vendorId : 0)},
                           {"productId", number(filter, filter ? filter->productId : 0)},
                           {"extraId", number(filter, filter ? filter->extraId : 0)},
                           {"filterName", name}}));
  }
  int GetCount() override { return Value(Call("GetCount", {})); }
  I_DeviceInfo* GetDeviceInfo(int position) override {
    return session_->DeviceInfo(
        Returned(Call("GetDeviceInfo", {{"position", TraceValue::Of(position)}})));
  }
  int OpenDevice(int position, int access, I_UsbDevice** device) override {
    const TraceRecord* record = Call(
        "OpenDevice", {{"position", TraceValue::Of(position)}, {"access", TraceValue::Of(access)}});
    if (device != nullptr) {
      *device = Returned(record) != 0 ? new ReplayUsbDevice(session_, Returned(record)) : nullptr;
    }
    return Result(record);
  }

 private:
  ~ReplayAgent() = default;
  const TraceRecord* Call(const char* operation,
                          std::vector<std::pair<const char*, TraceValue>> arguments) {
    return session_->Next({"I_GPUsbDeviceAgent", id_, operation, std::move(arguments)});
  }

  const std::shared_ptr<ReplaySession> session_;
  const int id_;
};

std::mutex sessionsMutex;
std::shared_ptr<ReplaySession> runningSession;

}  // namespace

ReplaySession::ReplaySession(std::string path, std::vector<TraceRecord> records, std::FILE* errors,
                             std::function<void()> neverAnswered)
    : path_(std::move(path)),
      records_(std::move(records)),
      errors_(errors),
      neverAnswered_(std::move(neverAnswered)) {}

ReplaySession::~ReplaySession() {
  if (!parted_ && next_ < records_.size()) {
    Report("the program ended after call " + std::to_string(next_) +
           "; the trace goes on to call " + std::to_string(records_.size()) + ", next " +
           Describe(records_[next_]));
  }
}

void ReplaySession::Report(const std::string& message) {
  std::fputs(("GPlusUSBLibEx.so: replay " + path_ + ": " + message + "\n").c_str(), errors_);
  std::fflush(errors_);
}

bool ReplaySession::Ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  return parted_ || next_ == records_.size();
}

const TraceRecord* ReplaySession::Next(const ReplayCall& call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const TraceRecord* record = Match(call);
    if (record == nullptr || record->answered) return record;
    Report("call " + std::to_string(next_) + " " +
           Describe(call.interfaceName, call.object, call.operation) +
           ": the recorded device never answered this call; it is not answered here either");
  }
  // Outside the lock: only the calling thread is held, as the device held the recorded one.
  if (neverAnswered_) {
    neverAnswered_();
  } else {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  parted_ = true;
  return nullptr;
}

const TraceRecord* ReplaySession::Match(const ReplayCall& call) {
  if (parted_) return nullptr;
  const std::string made = Describe(call.interfaceName, call.object, call.operation);
  const std::string seq = "call " + std::to_string(next_ + 1);
  if (next_ == records_.size()) {
    parted_ = true;
    Report(seq + " " + made + " is beyond the end of the trace (" +
           std::to_string(records_.size()) + " calls)");
    return nullptr;
  }
  const TraceRecord& record = records_[next_];
  if (Describe(record) != made) {
    parted_ = true;
    Report(seq + " differs: the trace has " + Describe(record) + ", the program made " + made);
    return nullptr;
  }
  for (const auto& [key, value] : call.arguments) {
    const TraceValue* recorded = record.Find(key);
    if (recorded == nullptr || *recorded != value) {
      parted_ = true;
      Report(seq + " " + made + " differs in " + key + ": the trace has " +
             (recorded ? recorded->Show() : std::string("none")) + ", the program made " +
             value.Show());
      return nullptr;
    }
  }
  ++next_;
  return &record;
}

I_DeviceInfo* ReplaySession::DeviceInfo(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A trace cannot name more objects than it has records.
  if (id <= 0 || static_cast<std::size_t>(id) > records_.size()) return nullptr;
  while (infos_.size() < static_cast<std::size_t>(id)) {
    infos_.push_back(
        std::make_unique<ReplayDeviceInfo>(*this, static_cast<int>(infos_.size()) + 1));
  }
  return infos_[static_cast<std::size_t>(id) - 1].get();
}

const char* ReplaySession::Name(ReplayDeviceInfo& info, const TraceRecord* record) {
  const TraceValue* name = record != nullptr ? record->Find(trace_format::kResult) : nullptr;
  if (record != nullptr && (name == nullptr || name->kind == TraceValue::Kind::Null))
    return nullptr;
  const std::string text = name != nullptr ? name->text : std::string();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& known : info.names) {
    if (known == text) return known.c_str();
  }
  info.names.push_back(text);
  return info.names.back().c_str();
}

std::shared_ptr<ReplaySession> ReplaySessionFor(const std::string& tracePath, std::FILE* errors,
                                                std::string* error) {
  std::lock_guard<std::mutex> lock(sessionsMutex);
  if (runningSession && runningSession->path() == tracePath && !runningSession->Ended()) {
    return runningSession;
  }
  RecordedSession recorded;
  if (!ReadTraceFile(tracePath, &recorded, error)) return nullptr;
  // Several recordings into one file: the last is the session a report is about.
  if (recorded.sessions > 1) {
    std::fprintf(errors,
                 "GPlusUSBLibEx.so: replay %s: the trace holds %d sessions; the last, "
                 "from line %d, is replayed\n",
                 tracePath.c_str(), recorded.sessions, recorded.headerLine);
    std::fflush(errors);
  }
  runningSession = std::make_shared<ReplaySession>(tracePath, std::move(recorded.records), errors);
  return runningSession;
}

int CreateReplayAgent(const std::shared_ptr<ReplaySession>& session, int version,
                      I_GPUsbDeviceAgent** agent) {
  const TraceRecord* record = session->Next(
      {"GPlusUSBLibEx", 0, kCreateAgentExportName, {{"version", TraceValue::Of(version)}}});
  if (agent != nullptr) {
    *agent = Returned(record) != 0 ? new ReplayAgent(session, Returned(record)) : nullptr;
  }
  return Result(record);
}

}  // namespace simdevice
