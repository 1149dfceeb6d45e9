// Reading back what a test or the program under test wrote: a file's bytes or lines, or what
// went into a stream. One reader for every test, so that all of them read a file alike.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// The bytes of a file; empty when it is missing or cannot be read.
std::string FileBytes(const std::filesystem::path& path);

// The lines of a text file without their line ends; none when it is missing or cannot be read.
std::vector<std::string> FileLines(const std::filesystem::path& path);

// Everything written to a stream so far, read from its start (a std::tmpfile given to the code
// under test in place of stderr, say).
std::string StreamBytes(std::FILE* stream);

}  // namespace test_support
