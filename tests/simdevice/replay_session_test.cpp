// The replay setting: calls answered from a recorded trace, names and read data included, the
// first call that differs failed and reported, every later call failed silently; a damaged
// trace refused with its line.
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

std::string ErrorsWritten(std::FILE* errors) {
  std::rewind(errors);
  std::string text;
  for (int character; (character = std::fgetc(errors)) != EOF;)
    text += static_cast<char>(character);
  return text;
}

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
  EXPECT_EQ(ErrorsWritten(errors),
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
  EXPECT_NE(problem.find("line 1: not the header of a version 1 trace"), std::string::npos);
}

}  // namespace
}  // namespace simdevice
