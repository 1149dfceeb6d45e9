// Crc16 throughput (the slicing-by-8 one that the updater, the simulated device and the trace
// share, and the plain byte-at-a-time table for comparison) next to memcpy over the same 16 MiB
// of random data.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/bench_image.h"
#include "platform/crc16.h"

namespace {

constexpr std::size_t kDataSize = 16u * 1024 * 1024;

const std::vector<std::uint8_t>& Data() {
  static const std::vector<std::uint8_t> data = BenchImageBytes(kDataSize);
  return data;
}

// The classic one-table loop, kept here only as the yardstick the faster tables are measured
// against.
std::uint16_t ByteTableCrc16(const std::uint8_t* data, std::size_t length) {
  static const auto table = [] {
    std::array<std::uint16_t, 256> entries{};
    for (unsigned i = 0; i < 256; ++i) {
      unsigned crc = i << 8;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
      entries[i] = static_cast<std::uint16_t>(crc);
    }
    return entries;
  }();
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kDataSize));
}

void BM_Memcpy(benchmark::State& state) {
  const auto& data = Data();
  std::vector<std::uint8_t> copy(kDataSize);
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), kDataSize);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void BM_Crc16(benchmark::State& state) {
  const auto& data = Data();
  for (auto _ : state) benchmark::DoNotOptimize(platform::Crc16(data.data(), kDataSize));
  SetBytes(state);
}
BENCHMARK(BM_Crc16)->Unit(benchmark::kMillisecond);

void BM_Crc16ByteTable(benchmark::State& state) {
  const auto& data = Data();
  for (auto _ : state) benchmark::DoNotOptimize(ByteTableCrc16(data.data(), kDataSize));
  SetBytes(state);
}
BENCHMARK(BM_Crc16ByteTable)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
