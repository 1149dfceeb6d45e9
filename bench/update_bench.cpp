// Throughput of the block writes (phase 4) against the simulated library with no transfer
// delay, next to the bare copy-and-CRC work over the same image, to show what the protocol,
// the USB layer and the library add on top.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_image.h"
#include "fake_update_view.h"
#include "update/connection_checks.h"
#include "update/firmware_image.h"
#include "update/update_protocol.h"
#include "update/update_state.h"
#include "usb/hid_std_agent.h"

namespace {

constexpr std::size_t kImageSize = 16u * 1024 * 1024;

void LoadBenchImage() {
  firmwareImage = FirmwareImage{};
  firmwareImage.data = BenchImageBytes(kImageSize);
  firmwareImage.size = static_cast<std::uint32_t>(kImageSize);
  firmwareImage.crc = Crc16(firmwareImage.data.data(), kImageSize);
  firmwareImage.blockCount = static_cast<std::uint32_t>(kImageSize / FW_BLOCK_SIZE);
}

// Phase 4 from block 1 to the end: worker runs until one answers other than 1.
void BM_WriteFirmwareBlocks(benchmark::State& state) {
  // One device in update mode, no delay, no trace (bench/one-device.scenario).
  ::setenv("GPLUS_SIM_SCENARIO", FWU_BENCH_SCENARIO, 1);
  LoadBenchImage();
  FakeUpdateView view;
  C_GPUSBHIDStdAgentEx agent;
  UpdateContextRecord context{&view, &agent};
  UpdateContext = &context;
  SelectDevice();
  if (agent.Scan(0) != 1 || agent.GetDeviceCount() != 1 || agent.Connect(0) != 1) {
    state.SkipWithError("the simulated device could not be opened");
    UpdateContext = nullptr;
    return;
  }

  for (auto _ : state) {
    transferCursor = TransferCursor{};
    view.SetProgressPosition(0);
    int result = kPhaseWait;
    while (result == kPhaseWait) result = WriteFirmwareBlocks();
    if (result != kPhaseAdvance) {
      const auto boxes = view.MessageBoxes();
      const std::string message = boxes.empty() ? std::string() : boxes.back().text;
      state.SkipWithError(("a run failed: " + message).c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kImageSize));
  UpdateContext = nullptr;
}
BENCHMARK(BM_WriteFirmwareBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

// The least the writes must do per block: copy it out of the image and take its CRC-16.
void BM_CopyAndCrc16(benchmark::State& state) {
  LoadBenchImage();
  std::vector<std::uint8_t> block(FW_BLOCK_SIZE);
  for (auto _ : state) {
    std::uint32_t crcs = 0;
    for (std::size_t offset = 0; offset < kImageSize; offset += FW_BLOCK_SIZE) {
      std::memcpy(block.data(), firmwareImage.data.data() + offset, FW_BLOCK_SIZE);
      crcs += Crc16(block.data(), FW_BLOCK_SIZE);
    }
    benchmark::DoNotOptimize(crcs);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kImageSize));
}
BENCHMARK(BM_CopyAndCrc16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
