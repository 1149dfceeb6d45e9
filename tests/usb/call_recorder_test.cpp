// The --record trace file: only a regular file is written, never a FIFO, however it is read; an
// earlier trace is added to, never emptied; each header describes the load whose calls follow.
#include "usb/call_recorder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "file_contents.h"
#include "temporary_folder.h"

namespace usb {
namespace {

using test_support::FileBytes;
using test_support::FileLines;

TEST(CallRecorderTest, OnlyARegularFileIsOpenedAndNeverWithoutAReader) {
  test_support::TemporaryFolder folder("call-recorder");
  const std::string root = folder.path().string();
  const std::string fifo = root + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string error;
  // Nobody reads it: opening for writing would wait for a reader.
  EXPECT_EQ(CallRecorder::Open(fifo, "1.0", &error), nullptr);
  EXPECT_EQ(error, "the trace " + fifo + " is a FIFO, not a regular file");
  // Someone holds it open and never reads (a pipe into a stopped program): writes would block.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(CallRecorder::Open(fifo, "1.0", &error), nullptr);
  char byte = 0;
  EXPECT_EQ(::read(reader, &byte, 1), 0) << "nothing was written into the pipe";
  ::close(reader);
  EXPECT_EQ(CallRecorder::Open(root, "1.0", &error), nullptr);
  EXPECT_EQ(error, "the trace " + root + " is a folder, not a regular file");
}

TEST(CallRecorderTest, AnEarlierTraceIsAddedToAndEachHeaderTellsItsLoad) {
  test_support::TemporaryFolder folder("call-recorder");
  const std::string path = folder.path().string() + "/session.jsonl";
  // An earlier recording cut off in mid-line.
  const std::string earlier =
      "{\"format\":\"scribolante-fw-updater-trace\",\"version\":2}\n{\"seq\":1,\"ms\":0,\"inter";
  std::ofstream(path, std::ios::binary) << earlier;
  const std::string library = folder.path().string() + "/GPlusUSBLibEx.so";
  std::ofstream(library) << "abc";

  std::string error;
  std::unique_ptr<CallRecorder> recorder = CallRecorder::Open(path, "1.3.0.12", &error);
  ASSERT_NE(recorder, nullptr) << error;
  // A failed load, retried, then a good one: the calls come after a header that says loaded.
  recorder->NoteLibrary(library, false);
  recorder->NoteLibrary(library, false);
  recorder->NoteLibrary(library, true);
  const std::int64_t call = recorder->Enter("GPlusUSBLibEx", 0, "GPAPI_CreateGPUsbDeviceAgent",
                                            TraceFields().Number("version", 1));
  EXPECT_EQ(call, 1);
  recorder->Return(call, TraceFields().Number("result", 0).Null("returned"));
  recorder->NoteLibrary(library, true);
  recorder.reset();

  const std::string written = FileBytes(path);
  ASSERT_EQ(written.rfind(earlier, 0), 0u) << "the earlier trace is kept as it was";
  const std::vector<std::string> lines = FileLines(path);
  ASSERT_EQ(lines.size(), 6u) << written;
  EXPECT_EQ(lines[1], "{\"seq\":1,\"ms\":0,\"inter") << "the cut line stays on its own";
  const std::string failedLoad =
      "\"library\":\"" + library +
      "\",\"librarySize\":3,\"librarySha256\":\"ba7816bf8f01cfea4141"
      "40de5dae2223b00361a396177a9cb410ff61f20015ad\",\"libraryLoaded\":";
  EXPECT_NE(lines[2].find("\"version\":2,\"program\":\"1.3.0.12\","), std::string::npos);
  EXPECT_NE(lines[2].find(failedLoad + "false"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find(failedLoad + "true"), std::string::npos) << lines[3];
  EXPECT_EQ(lines[4].rfind("{\"seq\":1,\"ms\":", 0), 0u);
  EXPECT_NE(lines[4].find(",\"interface\":\"GPlusUSBLibEx\",\"op\":\"GPAPI_CreateGPUsbDeviceAgent\""
                          ",\"version\":1}"),
            std::string::npos);
  EXPECT_NE(lines[5].find(",\"result\":0,\"returned\":null}"), std::string::npos) << lines[5];
}

}  // namespace
}  // namespace usb
