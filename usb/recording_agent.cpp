// The recording stand-ins. Every call is on record before it enters the library, with its
// arguments, and its results are written when it returns, so a call that never returns is in
// the trace too; the library sees exactly the calls it would see unrecorded.
#include "usb/recording_agent.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/crc16.h"
#include "platform/hex_text.h"
#include "platform/sha256.h"
#include "usb/trace_format.h"

namespace usb {
namespace {

constexpr int kCommandBlockSize = 16;

class RecordingDeviceInfo;

// What the stand-ins obtained through one recording agent share: the recorder and the
// stand-ins of the library's device information objects, one per library object, kept as
// long as any stand-in of the agent lives (as the library keeps its own).
struct RecordingContext {
  explicit RecordingContext(std::shared_ptr<CallRecorder> recorderToUse)
      : recorder(std::move(recorderToUse)) {}
  // The stand-in for a library object, made on first sight; null stays null.
  I_DeviceInfo* DeviceInfo(I_DeviceInfo* info, int* id);

  const std::shared_ptr<CallRecorder> recorder;
  std::mutex mutex;
  std::map<I_DeviceInfo*, std::unique_ptr<RecordingDeviceInfo>> infos;
};

class RecordingDeviceInfo final : public I_DeviceInfo {
 public:
  RecordingDeviceInfo(RecordingContext& context, I_DeviceInfo* info, int id)
      : context_(context), info_(info), id_(id) {}
  const char* GetName() override {
    const std::int64_t call = context_.recorder->Enter("I_DeviceInfo", id_, "GetName", {});
    const char* name = info_->GetName();
    context_.recorder->Return(call, TraceFields().TextOrNull(trace_format::kResult, name));
    return name;
  }
  int id() const { return id_; }

 private:
  RecordingContext& context_;
  I_DeviceInfo* const info_;
  const int id_;
};

I_DeviceInfo* RecordingContext::DeviceInfo(I_DeviceInfo* info, int* id) {
  *id = 0;
  if (info == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<RecordingDeviceInfo>& standIn = infos[info];
  if (!standIn) {
    standIn = std::make_unique<RecordingDeviceInfo>(*this, info,
                                                    recorder->NewObject(TracedObject::DeviceInfo));
  }
  *id = standIn->id();
  return standIn.get();
}

// fields with the number of the object a call returned after them, or null when it returned
// none.
TraceFields Returned(TraceFields fields, int id) {
  return id != 0 ? fields.Number(trace_format::kReturned, id)
                 : fields.Null(trace_format::kReturned);
}

// The return of a call that hands out an object through an out argument: its result, then the
// object's number (0: it handed out none).
TraceFields ResultAndReturned(int result, int id) {
  return Returned(TraceFields().Number(trace_format::kResult, result), id);
}

class RecordingHidDevice final : public I_GPHidDeviceEx {
 public:
  RecordingHidDevice(std::shared_ptr<RecordingContext> context, I_GPHidDeviceEx* hid, int id)
      : context_(std::move(context)), hid_(hid), id_(id) {}

  void Release() override {
    const std::int64_t call = Enter("Release", {});
    hid_->Release();
    context_->recorder->Return(call, {});
    delete this;
  }
  I_DeviceInfo* GetDeviceInfo() override {
    const std::int64_t call = Enter("GetDeviceInfo", {});
    int infoId = 0;
    I_DeviceInfo* info = context_->DeviceInfo(hid_->GetDeviceInfo(), &infoId);
    context_->recorder->Return(call, Returned(TraceFields(), infoId));
    return info;
  }
  int GetAttributeA() override {
    const std::int64_t call = Enter("GetAttributeA", {});
    const int value = hid_->GetAttributeA();
    context_->recorder->Return(call, TraceFields().Number(trace_format::kResult, value));
    return value;
  }
  int GetAttributeB() override {
    const std::int64_t call = Enter("GetAttributeB", {});
    const int value = hid_->GetAttributeB();
    context_->recorder->Return(call, TraceFields().Number(trace_format::kResult, value));
    return value;
  }
  int Transfer(const void* commandBlock, int direction, void* data, int length, int arg10, int arg3,
               int arg0) override {
    TraceFields fields;
    if (commandBlock != nullptr) {
      fields.Text(
          trace_format::kCommand,
          platform::HexDigits(static_cast<const std::uint8_t*>(commandBlock), kCommandBlockSize));
    } else {
      fields.Null(trace_format::kCommand);
    }
    fields.Number("direction", direction).Number("length", length);
    fields.Number("arg10", arg10).Number("arg3", arg3).Number("arg0", arg0);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const bool carriesData = bytes != nullptr && length >= 0;
    // What is sent is identified by its hash, taken before the library sees it; never the bytes.
    if (direction == 1 && carriesData) {
      fields
          .Text(trace_format::kCrc16,
                platform::Hex4(platform::Crc16(bytes, static_cast<std::size_t>(length))))
          .Text(trace_format::kSha256,
                platform::Sha256Hex(bytes, static_cast<std::size_t>(length)));
    } else if (direction == 1) {
      fields.Null(trace_format::kCrc16).Null(trace_format::kSha256);
    }
    const std::int64_t call = Enter("Transfer", fields);
    const int result = hid_->Transfer(commandBlock, direction, data, length, arg10, arg3, arg0);
    TraceFields results;
    results.Number(trace_format::kResult, result);
    // Whatever a read leaves in the buffer is what the program goes on with, so all of it.
    if (direction != 1) {
      if (carriesData) {
        results.Text(trace_format::kData,
                     platform::HexDigits(bytes, static_cast<std::size_t>(length)));
      } else {
        results.Null(trace_format::kData);
      }
    }
    context_->recorder->Return(call, results);
    return result;
  }

 private:
  ~RecordingHidDevice() = default;
  std::int64_t Enter(std::string_view operation, const TraceFields& arguments) {
    return context_->recorder->Enter("I_GPHidDeviceEx", id_, operation, arguments);
  }

  const std::shared_ptr<RecordingContext> context_;
  I_GPHidDeviceEx* const hid_;
  const int id_;
};

class RecordingUsbDevice final : public I_UsbDevice {
 public:
  RecordingUsbDevice(std::shared_ptr<RecordingContext> context, I_UsbDevice* device, int id)
      : context_(std::move(context)), device_(device), id_(id) {}

  void Release() override {
    const std::int64_t call = context_->recorder->Enter("I_UsbDevice", id_, "Release", {});
    device_->Release();
    context_->recorder->Return(call, {});
    delete this;
  }
  int GetInterface(int kind, I_GPHidDeviceEx** hid) override {
    const std::int64_t call = context_->recorder->Enter("I_UsbDevice", id_, "GetInterface",
                                                        TraceFields().Number("kind", kind));
    const int result = device_->GetInterface(kind, hid);
    int hidId = 0;
    // Only a successful call hands over an interface; the program ignores anything else.
    if (result == 0 && hid != nullptr && *hid != nullptr) {
      hidId = context_->recorder->NewObject(TracedObject::HidDevice);
      *hid = new RecordingHidDevice(context_, *hid, hidId);
    }
    context_->recorder->Return(call, ResultAndReturned(result, hidId));
    return result;
  }

 private:
  ~RecordingUsbDevice() = default;
  const std::shared_ptr<RecordingContext> context_;
  I_UsbDevice* const device_;
  const int id_;
};

class RecordingAgent final : public I_GPUsbDeviceAgent {
 public:
  RecordingAgent(std::shared_ptr<RecordingContext> context, I_GPUsbDeviceAgent* agent, int id)
      : context_(std::move(context)), agent_(agent), id_(id) {}

  void Release() override {
    const std::int64_t call = Enter("Release", {});
    agent_->Release();
    context_->recorder->Return(call, {});
    delete this;
  }
  int Enumerate(EnumerateRequest* request) override {
    // The request is only read by the library, so it is recorded as the library sees it.
    TraceFields fields;
    const DeviceFilter* filter = request != nullptr ? request->filter : nullptr;
    if (request != nullptr) {
      fields.Number("kind", request->kind).Number("mode", request->mode);
    } else {
      fields.Null("kind").Null("mode");
    }
    if (filter != nullptr) {
      fields.Number("scanOption", filter->scanOption)
          .Number("filterEnabled", filter->filterEnabled)
          .Number("vendorId", filter->vendorId)
          .Number("productId", filter->productId)
          .Number("extraId", filter->extraId)
          .Text("filterName", std::string(filter->filterName,
                                          strnlen(filter->filterName, sizeof filter->filterName)));
    } else {
      for (const char* key :
           {"scanOption", "filterEnabled", "vendorId", "productId", "extraId", "filterName"}) {
        fields.Null(key);
      }
    }
    const std::int64_t call = Enter("Enumerate", fields);
    const int result = agent_->Enumerate(request);
    context_->recorder->Return(call, TraceFields().Number(trace_format::kResult, result));
    return result;
  }
  int GetCount() override {
    const std::int64_t call = Enter("GetCount", {});
    const int count = agent_->GetCount();
    context_->recorder->Return(call, TraceFields().Number(trace_format::kResult, count));
    return count;
  }
  I_DeviceInfo* GetDeviceInfo(int position) override {
    const std::int64_t call = Enter("GetDeviceInfo", TraceFields().Number("position", position));
    int infoId = 0;
    I_DeviceInfo* info = context_->DeviceInfo(agent_->GetDeviceInfo(position), &infoId);
    context_->recorder->Return(call, Returned(TraceFields(), infoId));
    return info;
  }
  int OpenDevice(int position, int access, I_UsbDevice** device) override {
    const std::int64_t call =
        Enter("OpenDevice", TraceFields().Number("position", position).Number("access", access));
    const int result = agent_->OpenDevice(position, access, device);
    int deviceId = 0;
    if (result == 0 && device != nullptr && *device != nullptr) {
      deviceId = context_->recorder->NewObject(TracedObject::UsbDevice);
      *device = new RecordingUsbDevice(context_, *device, deviceId);
    }
    context_->recorder->Return(call, ResultAndReturned(result, deviceId));
    return result;
  }

 private:
  ~RecordingAgent() = default;
  std::int64_t Enter(std::string_view operation, const TraceFields& arguments) {
    return context_->recorder->Enter("I_GPUsbDeviceAgent", id_, operation, arguments);
  }

  const std::shared_ptr<RecordingContext> context_;
  I_GPUsbDeviceAgent* const agent_;
  const int id_;
};

}  // namespace

int CreateRecordingAgent(const std::shared_ptr<CallRecorder>& recorder,
                         GPAPI_CreateGPUsbDeviceAgentFunction create, int version,
                         I_GPUsbDeviceAgent** agent) {
  const std::int64_t call = recorder->Enter("GPlusUSBLibEx", 0, kCreateAgentExportName,
                                            TraceFields().Number("version", version));
  I_GPUsbDeviceAgent* created = nullptr;
  const int result = create(version, &created);
  int agentId = 0;
  if (result == 0 && created != nullptr) {
    agentId = recorder->NewObject(TracedObject::Agent);
    created = new RecordingAgent(std::make_shared<RecordingContext>(recorder), created, agentId);
  }
  recorder->Return(call, ResultAndReturned(result, agentId));
  *agent = created;
  return result;
}

}  // namespace usb
