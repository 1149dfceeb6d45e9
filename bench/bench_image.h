// A deterministic pseudo-random image for the benchmarks, so every run checksums and sends
// the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<std::uint8_t> BenchImageBytes(std::size_t size, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}
