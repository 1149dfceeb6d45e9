// Helpers shared by the fuzz targets: structured reads from the input, loud failures and the
// private working folder.
#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

namespace fuzz {
namespace {

std::filesystem::path privateFolder;

void RemovePrivateFolder() {
  if (privateFolder.empty()) return;
  std::error_code ignored;
  std::filesystem::current_path(privateFolder.parent_path(), ignored);
  std::filesystem::remove_all(privateFolder, ignored);
}

}  // namespace

std::uint8_t FuzzInput::Byte(std::uint8_t fallback) {
  if (empty()) return fallback;
  return data_[offset_++];
}

std::uint32_t FuzzInput::Uint32() {
  std::uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) value |= static_cast<std::uint32_t>(Byte()) << shift;
  return value;
}

std::string FuzzInput::Text(std::size_t maxLength) {
  const std::size_t length = Byte() % (maxLength + 1);
  return Bytes(length);
}

std::string FuzzInput::Bytes(std::size_t count) {
  const std::size_t taken = count < remaining() ? count : remaining();
  std::string bytes(reinterpret_cast<const char*>(data_ + offset_), taken);
  offset_ += taken;
  return bytes;
}

void Fail(const char* file, int line, const char* condition, const std::string& what) {
  std::fprintf(stderr, "\n==fuzz== property broken at %s:%d: %s\n==fuzz== %s\n", file, line,
               condition, what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::filesystem::path EnterPrivateWorkingFolder(const char* targetName) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(targetName) + "_XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    Fail(__FILE__, __LINE__, "mkdtemp", "cannot create a private working folder");
  }
  privateFolder = pattern;
  std::error_code error;
  std::filesystem::current_path(privateFolder, error);
  if (error) Fail(__FILE__, __LINE__, "chdir", "cannot enter " + privateFolder.string());
  std::atexit(&RemovePrivateFolder);
  return privateFolder;
}

}  // namespace fuzz
