// The replay setting: calls answered from a recorded trace, names and read data included, the
// first call that differs failed and reported, every later call failed silently; the call the
// recorded device never answered reported and held; a damaged trace refused with its line.
#include "simdevice/replay_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "simdevice/result_codes.h"
#include "simdevice_test_support.h"

namespace simdevice {
namespace {

using ::simdevice::testing::Command;
using ::simdevice::testing::CommandBytes;
using ::simdevice::testing::TemporaryFolder;

constexpr const char* kRecordedSession =
    R"({"format":"scribolante-fw-updater-trace","version":1,"program":"1.3.0.12"}
{"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1,"result":0,"returned":1}
{"seq":2,"ms":1,"interface":"I_GPUsbDeviceAgent","object":1,"op":"GetDeviceInfo","position":0,"returned":1}
{"seq":3,"ms":1,"interface":"I_DeviceInfo","object":1,"op":"GetName","result":"DEV \"1\""}
{"seq":4,"ms":2,"interface":"I_GPUsbDeviceAgent","object":1,"op":"OpenDevice","position":0,"access":1,"result":0,"returned":1}
{"seq":5,"ms":2,"interface":"I_UsbDevice","object":1,"op":"GetInterface","kind":2,"result":0,"returned":1}
{"seq":6,"ms":3,"interface":"I_GPHidDeviceEx","object":1,"op":"Transfer","command":"f6000000000000000000000000004750","direction":0,"length":4,"arg10":10,"arg3":3,"arg0":0,"result":0,"data":"0a0b0c0d"}
{"seq":7,"ms":3,"interface":"I_GPUsbDeviceAgent","object":1,"op":"GetDeviceInfo","position":0,"returned":1}
)";

using test_support::StreamBytes;

TEST(ReplaySessionTest, AnswersFromTheTraceUntilTheFirstDifference) {
  TemporaryFolder folder;
  const std::string trace = folder.Write("session.jsonl", kRecordedSession);
  std::FILE* errors = std::tmpfile();
  ASSERT_NE(errors, nullptr);
  std::string problem;
  const std::shared_ptr<ReplaySession> session = ReplaySessionFor(trace, errors, &problem);
  ASSERT_TRUE(session) << problem;

  I_GPUsbDeviceAgent* agent = nullptr;
  ASSERT_EQ(CreateReplayAgent(session, 1, &agent), 0);
  ASSERT_NE(agent, nullptr);
  I_DeviceInfo* info = agent->GetDeviceInfo(0);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->GetName(), "DEV \"1\"");
  I_UsbDevice* usbDevice = nullptr;
  ASSERT_EQ(agent->OpenDevice(0, 1, &usbDevice), 0);
  I_GPHidDeviceEx* hid = nullptr;
  ASSERT_EQ(usbDevice->GetInterface(2, &hid), 0);
  const CommandBytes infoCommand = Command(0);
  std::uint8_t reply[4] = {};
  EXPECT_EQ(hid->Transfer(infoCommand.data(), 0, reply, 4, 10, 3, 0), 0);
  EXPECT_EQ(reply[0], 0x0a);
  EXPECT_EQ(reply[3], 0x0d);

  // The program asks for another position than it did: that call and all later ones fail.
  EXPECT_EQ(agent->GetDeviceInfo(1), nullptr);
  EXPECT_EQ(hid->Transfer(infoCommand.data(), 0, reply, 4, 10, 3, 0), kResultReplayDiffers);
  hid->Release();
  usbDevice->Release();
  agent->Release();
  EXPECT_EQ(StreamBytes(errors),
            "GPlusUSBLibEx.so: replay " + trace +
                ": call 7 I_GPUsbDeviceAgent#1::GetDeviceInfo differs in position: the trace has "
                "0, the program made 1\n");
  std::fclose(errors);
}

TEST(ReplaySessionTest, ADamagedTraceIsRefusedWithItsLine) {
  TemporaryFolder folder;
  const std::string text = std::string(kRecordedSession) + "{\"seq\":8,\"op\":1.5}\n";
  const std::string trace = folder.Write("damaged.jsonl", text);
  std::string problem;
  EXPECT_FALSE(ReplaySessionFor(trace, stderr, &problem));
  EXPECT_EQ(problem, "trace '" + trace +
                         "' line 9: the value of \"op\" is not null, true, false, an integer or a "
                         "string at column 15");
  EXPECT_FALSE(ReplaySessionFor(folder.Write("other.jsonl", "{\"seq\":1}\n"), stderr, &problem));
  EXPECT_NE(problem.find("line 1: not the header of a version 1 to 2 trace"), std::string::npos);

  // Version 2: a return record belongs to a call that entered and has not returned.
  const std::string header =
      R"({"format":"scribolante-fw-updater-trace","version":2,"program":"1.3.0.12"})"
      "\n";
  const std::string enter =
      R"({"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1})"
      "\n";
  for (const auto& [body, fault] : {
           std::pair{enter + R"({"seq":2,"ms":0,"result":0})"
                             "\n",
                     "line 3: a return record without its call (seq 2)"},
           std::pair{enter + enter, "line 3: seq 2 expected"},
           std::pair{enter + R"({"seq":1,"ms":0,"version":2})"
                             "\n",
                     "line 3: the field \"version\" is already in the call's record"},
       }) {
    EXPECT_FALSE(ReplaySessionFor(folder.Write("v2.jsonl", header + body), stderr, &problem));
    EXPECT_NE(problem.find(fault), std::string::npos) << problem;
  }
}

// A version 2 session appended to an earlier version 1 one: the last session is replayed, and
// the call its device never answered is reported and held, as the recorded one was.
TEST(ReplaySessionTest, TheLastSessionReplaysUpToTheCallTheDeviceNeverAnswered) {
  const std::string text =
      std::string(kRecordedSession) +
      R"({"format":"scribolante-fw-updater-trace","version":2,"program":"1.3.0.13"}
{"seq":1,"ms":0,"interface":"GPlusUSBLibEx","op":"GPAPI_CreateGPUsbDeviceAgent","version":1}
{"seq":1,"ms":0,"result":0,"returned":1}
{"seq":2,"ms":4,"interface":"I_GPUsbDeviceAgent","object":1,"op":"GetCount"}
)";
  RecordedSession recorded;
  std::string problem;
  ASSERT_TRUE(ParseTrace(text, "two.jsonl", &recorded, &problem)) << problem;
  EXPECT_EQ(recorded.sessions, 2);
  EXPECT_EQ(recorded.headerLine, 9);
  ASSERT_EQ(recorded.records.size(), 2u);
  EXPECT_TRUE(recorded.records[0].answered);
  EXPECT_FALSE(recorded.records[1].answered);

  std::FILE* errors = std::tmpfile();
  ASSERT_NE(errors, nullptr);
  int held = 0;
  {
    const auto session =
        std::make_shared<ReplaySession>("two.jsonl", recorded.records, errors, [&held] { ++held; });
    I_GPUsbDeviceAgent* agent = nullptr;
    ASSERT_EQ(CreateReplayAgent(session, 1, &agent), 0);
    EXPECT_EQ(held, 0);
    EXPECT_EQ(agent->GetCount(), 0);
    EXPECT_EQ(held, 1);
    agent->Release();
  }
  EXPECT_EQ(StreamBytes(errors),
            "GPlusUSBLibEx.so: replay two.jsonl: call 2 I_GPUsbDeviceAgent#1::GetCount: the "
            "recorded device never answered this call; it is not answered here either\n");
  std::fclose(errors);
}

}  // namespace
}  // namespace simdevice
