// The replay setting: the library answers the program's calls from a trace the updater wrote
// with --record, in strict order, and checks each call against the recorded one. On the first
// difference it fails that call (kResultReplayDiffers), says on standard error where the two
// part, and fails every later call too. A call the recorded device never answered is not
// answered here either: the calling thread stays in it, as in a `hang`.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "simdevice/replay_trace.h"
#include "usb/vendor_interfaces.h"

namespace simdevice {

// One call of the program, as the trace names it: interface, object number (0 for the
// factory), operation and the arguments that must equal the recorded ones.
struct ReplayCall {
  const char* interfaceName;
  int object;
  const char* operation;
  std::vector<std::pair<const char*, TraceValue>> arguments;
};

class ReplayDeviceInfo;

// The position in one trace. Shared by the agents and objects it hands out; process-wide, so
// that a second factory call goes on where the first left off. Any thread.
class ReplaySession : public std::enable_shared_from_this<ReplaySession> {
 public:
  // neverAnswered is what a call the recorded device never answered does once it is reported:
  // by default it never returns; a caller that must not be held (a fuzz target) passes one
  // that does, and the call then fails as after a difference.
  ReplaySession(std::string path, std::vector<TraceRecord> records, std::FILE* errors,
                std::function<void()> neverAnswered = {});
  // Says so when the program made fewer calls than the trace holds.
  ~ReplaySession();

  ReplaySession(const ReplaySession&) = delete;
  ReplaySession& operator=(const ReplaySession&) = delete;

  // Checks the call against the next record: that record on a match (the answer to give),
  // null on the first difference (reported) and on every call after it. A match with a call
  // that never returned is reported and then held in neverAnswered.
  const TraceRecord* Next(const ReplayCall& call);
  // The device information object of that number (made on first use); null for 0.
  I_DeviceInfo* DeviceInfo(int id);
  // Answers a GetName from its record: a pointer that stays valid as long as the session.
  const char* Name(ReplayDeviceInfo& info, const TraceRecord* record);

  const std::string& path() const { return path_; }
  // The whole trace was replayed, or the replay parted from it.
  bool Ended();

 private:
  void Report(const std::string& message);
  // The record matching call, or null (reported). Needs mutex_.
  const TraceRecord* Match(const ReplayCall& call);

  const std::string path_;
  const std::vector<TraceRecord> records_;
  std::FILE* const errors_;
  const std::function<void()> neverAnswered_;
  std::mutex mutex_;
  std::size_t next_ = 0;
  bool parted_ = false;
  std::vector<std::unique_ptr<ReplayDeviceInfo>> infos_;  // by number - 1
};

// The session for a trace file: the running one while it has calls left, else a new one read
// from the file. Null with *error set when the file cannot be read or is not a trace.
std::shared_ptr<ReplaySession> ReplaySessionFor(const std::string& tracePath, std::FILE* errors,
                                                std::string* error);

// The factory call, answered from the session.
int CreateReplayAgent(const std::shared_ptr<ReplaySession>& session, int version,
                      I_GPUsbDeviceAgent** agent);

}  // namespace simdevice
