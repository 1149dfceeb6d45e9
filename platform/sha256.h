// SHA-256 (FIPS 180-4), for the fingerprints in call traces: the vendor library's file and
// every block written to the device are identified by their hash, never by their bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Incremental: Update any number of times, then Finish once. Plain value, no shared state.
class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t size);
  std::array<std::uint8_t, 32> Finish();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // bytes hashed so far
};

// The hash of size bytes as 64 lower-case hex digits.
std::string Sha256Hex(const void* data, std::size_t size);

}  // namespace platform
