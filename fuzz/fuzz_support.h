// Helpers shared by the fuzz targets: reading structured choices from the fuzzer's bytes,
// failing loudly on a broken property, and a private working folder per target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace fuzz {

// Reads the input front to back. Past its end every read gives zeros (or the fallback), so a
// target never reads out of bounds and short inputs still run to the end.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return offset_ >= size_; }
  std::size_t remaining() const { return empty() ? 0 : size_ - offset_; }

  std::uint8_t Byte(std::uint8_t fallback = 0);
  bool Flag() { return (Byte() & 1) != 0; }
  // Little-endian; missing bytes are 0.
  std::uint32_t Uint32();
  std::int32_t Int32() { return static_cast<std::int32_t>(Uint32()); }
  // A length byte (at most maxLength) followed by that many bytes, possibly fewer at the end.
  std::string Text(std::size_t maxLength);
  // Up to count bytes, fewer at the end.
  std::string Bytes(std::size_t count);

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// Reports a broken property and aborts, which libFuzzer records as a crash with its input.
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& what);

// Creates a fresh folder under the temporary folder, makes it the working folder and removes
// it when the program exits normally. Call once, from LLVMFuzzerInitialize.
std::filesystem::path EnterPrivateWorkingFolder(const char* targetName);

}  // namespace fuzz

// Checks a property of the code under test; never compiled out.
#define FUZZ_CHECK(condition, what)                                       \
  do {                                                                    \
    if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition, what); \
  } while (false)
