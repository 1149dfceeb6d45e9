// Phase 4 as the sequence really runs it: the real Qt view (offscreen) and its 1 ms step timer,
// the controller, the UsbWorkerThread and our simulated library with no transfer delay. Each
// run is set against the ideal measured in the same run: copying and checksumming every block
// plus the prescribed 1 ms hand-off before every worker run after the first. The simulated
// device copies and checks every block in this process too (a real device does that on its
// own processor), so its share is measured separately over the same blocks and taken out.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_image.h"
#include "simdevice/command_decoder.h"
#include "simdevice/device_model.h"
#include "update/device_protocol.h"
#include "update/firmware_image.h"
#include "update/update_controller.h"
#include "update/update_protocol.h"
#include "update/update_state.h"
#include "update/view/fw_updater_view.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// The real view, with the worker's progress-bar calls timed: each is a round trip to the
// UI thread while the worker waits.
class TimedView : public CFWUpdaterView {
 public:
  int GetProgressPosition() override {
    const auto start = Clock::now();
    const int position = CFWUpdaterView::GetProgressPosition();
    m_getSeconds += Seconds(Clock::now() - start);
    ++m_gets;
    return position;
  }
  void SetProgressPosition(int position) override {
    const auto start = Clock::now();
    CFWUpdaterView::SetProgressPosition(position);
    m_setSeconds += Seconds(Clock::now() - start);
    ++m_sets;
  }

  // Written by the worker only; read after the worker has been joined.
  double m_getSeconds = 0;
  double m_setSeconds = 0;
  int m_gets = 0;
  int m_sets = 0;
};

struct Phase4Result {
  bool finished = false;
  int lastResult = 0;
  int runs = 0;
  Clock::time_point firstRunStart;
  Clock::time_point lastRunEnd;
  double gapSeconds = 0;  // from the end of one run to the start of the next, summed
  double firstRunSeconds = 0;
  double getSeconds = 0;
  double setSeconds = 0;
  int gets = 0;
  int sets = 0;
};

// One whole phase 4 in a fresh view: phases 0 and 3 are scripted (the prepared image, no
// confirmation box), phases 1 and 2 find the simulated device for real, phase 5 ends the run.
Phase4Result RunPhase4(const FirmwareImage& image) {
  Phase4Result result;
  QEventLoop loop;
  PhaseSteps steps;
  steps.loadFirmwareImage = [&image] {
    firmwareImage = image;
    transferCursor = TransferCursor{};
    return kPhaseAdvance;
  };
  steps.queryDeviceInfo = [] { return kPhaseAdvance; };
  steps.writeFirmwareBlocks = [&result] {
    const auto start = Clock::now();
    if (result.runs++ == 0) {
      result.firstRunStart = start;
    } else {
      result.gapSeconds += Seconds(start - result.lastRunEnd);
    }
    const int answer = WriteFirmwareBlocks();
    result.lastRunEnd = Clock::now();
    if (result.runs == 1) result.firstRunSeconds = Seconds(result.lastRunEnd - start);
    result.lastResult = answer;
    return answer;
  };
  steps.confirmImageChecksum = [&result, &loop] {
    result.finished = result.lastResult == kPhaseAdvance;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    return kPhaseEnd;
  };
  SetPhaseStepsForTesting(steps);

  {
    TimedView view;
    view.show();
    if (view.OnCreate()) {
      // A guard against a hang only; a normal run ends long before it.
      QTimer::singleShot(std::chrono::minutes(5), &loop, &QEventLoop::quit);
      loop.exec();
    }
    view.BeginClose();
    result.getSeconds = view.m_getSeconds;
    result.setSeconds = view.m_setSeconds;
    result.gets = view.m_gets;
    result.sets = view.m_sets;
  }
  ResetPhaseStepsForTesting();
  return result;
}

// The least the updater must do per block: copy it out of the image and take its CRC-16.
double CopyAndCrcSeconds(const FirmwareImage& image) {
  std::vector<std::uint8_t> block(FW_BLOCK_SIZE);
  std::uint32_t sum = 0;
  const auto start = Clock::now();
  for (std::uint32_t number = 0; number < image.blockCount; ++number) {
    std::memcpy(block.data(), image.data.data() + std::size_t{number} * FW_BLOCK_SIZE,
                FW_BLOCK_SIZE);
    sum += Crc16(block.data(), FW_BLOCK_SIZE);
  }
  const double seconds = Seconds(Clock::now() - start);
  benchmark::DoNotOptimize(sum);
  return seconds;
}

// What the simulated device does with the same blocks in this process: decode the command
// block, check the block's CRC and keep a copy, then answer the status read.
double DeviceSideSeconds(const FirmwareImage& image) {
  auto model = std::make_unique<simdevice::DeviceModel>(simdevice::DeviceBehaviour{});
  const DeviceCommandBlock status = DeviceCommandBlock::ForOp(DeviceOp::BlockStatus);
  std::uint8_t reply[kReplySize];
  const auto start = Clock::now();
  for (std::uint32_t number = 1; number <= image.blockCount; ++number) {
    const std::uint8_t* block = image.data.data() + std::size_t{number - 1} * FW_BLOCK_SIZE;
    const DeviceCommandBlock write =
        DeviceCommandBlock::WriteBlock(image.blockCount, number, Crc16(block, FW_BLOCK_SIZE));
    simdevice::DecodedCommand decoded;
    simdevice::DecodeCommand(write.bytes.data(), 1, FW_BLOCK_SIZE, &decoded);
    model->Execute(decoded, block);
    simdevice::DecodeCommand(status.bytes.data(), 0, kReplySize, &decoded);
    const simdevice::Reply answer = model->Execute(decoded, nullptr);
    std::memcpy(reply, answer.data(), sizeof reply);
  }
  const double total = Seconds(Clock::now() - start);
  benchmark::DoNotOptimize(reply);
  // The block CRC above is the updater's share, measured in the ideal; leave it out here.
  const auto crcStart = Clock::now();
  std::uint32_t sum = 0;
  for (std::uint32_t number = 0; number < image.blockCount; ++number) {
    sum += Crc16(image.data.data() + std::size_t{number} * FW_BLOCK_SIZE, FW_BLOCK_SIZE);
  }
  const double updaterCrc = Seconds(Clock::now() - crcStart);
  benchmark::DoNotOptimize(sum);
  model.reset();  // the real device's blocks are freed after the writes too, untimed
  return total - updaterCrc;
}

FirmwareImage MakeImage(std::size_t size) {
  FirmwareImage image;
  image.data = BenchImageBytes(size);
  image.size = static_cast<std::uint32_t>(size);
  image.crc = Crc16(image.data.data(), size);
  image.blockCount = static_cast<std::uint32_t>(size / FW_BLOCK_SIZE);
  return image;
}

// The middle of the values seen over the iterations, so that one run disturbed by another
// process does not move the figure.
double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void BM_Phase4InQtView(benchmark::State& state) {
  // One device in update mode, no delay, no trace (bench/one-device.scenario).
  ::setenv("GPLUS_SIM_SCENARIO", FWU_BENCH_SCENARIO, 1);
  const std::size_t size = static_cast<std::size_t>(state.range(0)) * 1024 * 1024;
  const FirmwareImage image = MakeImage(size);
  std::vector<double> totals, ideals, devices, handoffs, measuredHandoffs, copyCrcs, firstRuns,
      gets, sets, ratios, ratiosWithoutDevice;
  int runs = 0;
  for (auto _ : state) {
    const Phase4Result run = RunPhase4(image);
    if (!run.finished) {
      state.SkipWithError("phase 4 did not finish with all blocks written");
      break;
    }
    const double seconds = Seconds(run.lastRunEnd - run.firstRunStart);
    state.SetIterationTime(seconds);
    const double copyAndCrc = CopyAndCrcSeconds(image);
    const double handoff = 0.001 * (run.runs - 1);
    const double device = DeviceSideSeconds(image);
    const double ideal = copyAndCrc + handoff;
    totals.push_back(seconds);
    copyCrcs.push_back(copyAndCrc);
    handoffs.push_back(handoff);
    ideals.push_back(ideal);
    devices.push_back(device);
    measuredHandoffs.push_back(run.gapSeconds);
    firstRuns.push_back(run.firstRunSeconds);
    gets.push_back(run.gets > 0 ? run.getSeconds / run.gets : 0);
    sets.push_back(run.setSeconds);
    ratios.push_back(seconds / ideal);
    ratiosWithoutDevice.push_back((seconds - device) / ideal);
    runs = run.runs;
  }
  firmwareImage = FirmwareImage{};
  if (totals.empty()) return;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
  state.counters["runs"] = runs;
  state.counters["phase4_ms"] = 1000 * Median(totals);
  state.counters["ideal_ms"] = 1000 * Median(ideals);
  state.counters["copy_crc_ms"] = 1000 * Median(copyCrcs);
  state.counters["handoff_ms"] = 1000 * Median(handoffs);
  state.counters["handoff_measured_ms"] = 1000 * Median(measuredHandoffs);
  state.counters["first_run_ms"] = 1000 * Median(firstRuns);
  state.counters["device_ms"] = 1000 * Median(devices);
  state.counters["ratio"] = Median(ratios);
  state.counters["ratio_wo_device"] = Median(ratiosWithoutDevice);
  state.counters["progress_get_us_each"] = 1e6 * Median(gets);
  state.counters["progress_set_ms"] = 1000 * Median(sets);
}
BENCHMARK(BM_Phase4InQtView)
    ->Arg(1)
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Phase4InQtView)
    ->Arg(16)
    ->Iterations(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Phase4InQtView)
    ->Arg(64)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
