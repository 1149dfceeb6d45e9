// Whole-file and whole-stream reads for the tests.
#include "file_contents.h"

#include <fstream>
#include <iterator>

namespace test_support {

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

std::string StreamBytes(std::FILE* stream) {
  std::rewind(stream);
  std::string bytes;
  for (int character; (character = std::fgetc(stream)) != EOF;)
    bytes += static_cast<char>(character);
  return bytes;
}

}  // namespace test_support
