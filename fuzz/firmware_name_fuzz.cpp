// Fuzzes the firmware file name rules: which names qualify, in a folder and as a named file,
// the version text shown for a name, and that the folder search only ever chooses a qualifying
// name.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_support.h"
#include "update/firmware_image.h"

namespace {

constexpr std::size_t kNameMax = 255;  // the longest file name the file system takes
constexpr std::size_t kMaxNamesInFolder = 3;
const std::string kPrefix = "SC5_Firmware_v";

std::filesystem::path workingFolder;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where "<digits>.<digits>" ends if it starts at index of name (just after the prefix), or npos.
std::size_t VersionEnd(const std::string& name, std::size_t index) {
  const std::size_t major = index;
  while (index < name.size() && IsDigit(name[index])) ++index;
  if (index == major || index >= name.size() || name[index] != '.') return std::string::npos;
  const std::size_t minor = ++index;
  while (index < name.size() && IsDigit(name[index])) ++index;
  return index == minor ? std::string::npos : index;
}

// The name rule written out by hand, apart from the regular expression: some occurrence of
// the prefix followed by digits, a dot, digits and ".bin".
bool QualifiesByHand(const std::string& name) {
  for (std::size_t at = name.find(kPrefix); at != std::string::npos;
       at = name.find(kPrefix, at + 1)) {
    const std::size_t end = VersionEnd(name, at + kPrefix.size());
    if (end != std::string::npos && name.compare(end, 4, ".bin") == 0) return true;
  }
  return false;
}

// The rule for a named file by hand: ends in ".bin", and the first occurrence of the prefix
// followed by digits, a dot and digits gives the version; "" when there is none.
std::string NamedVersionByHand(const std::string& name) {
  if (name.size() < 4 || name.compare(name.size() - 4, 4, ".bin") != 0) return {};
  for (std::size_t at = name.find(kPrefix); at != std::string::npos;
       at = name.find(kPrefix, at + 1)) {
    const std::size_t major = at + kPrefix.size();
    const std::size_t end = VersionEnd(name, major);
    if (end != std::string::npos) return name.substr(major, end - major);
  }
  return {};
}

// digits, a dot, digits: the version as a plain name shows it.
bool IsPlainVersion(const std::string& text) {
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
  for (std::size_t index = 0; index < text.size(); ++index) {
    if (index != dot && !IsDigit(text[index])) return false;
  }
  return true;
}

void CheckNameRules(const std::string& name) {
  const bool qualifies = IsFirmwareFileName(name);
  FUZZ_CHECK(qualifies == QualifiesByHand(name),
             "the name rule and its hand-written reading disagree on \"" + name + "\"");

  FUZZ_CHECK(NamedFirmwareVersion(name) == NamedVersionByHand(name),
             "the named-file rule and its hand-written reading disagree on \"" + name + "\"");

  const std::string version = FirmwareVersionText(name);
  const std::size_t prefix = name.find(kPrefix);
  if (prefix == std::string::npos) {
    FUZZ_CHECK(version.empty(), "a version text for a name without the prefix");
    return;
  }
  const std::size_t start = prefix + kPrefix.size();
  // What follows the first prefix, less exactly four characters; never more than the name.
  if (name.size() - start < 4) {
    FUZZ_CHECK(version.empty(), "a version text longer than the name allows");
  } else {
    FUZZ_CHECK(start + version.size() + 4 == name.size() &&
                   name.compare(start, version.size(), version) == 0,
               "the version text is not the name after the prefix less four characters");
  }
  if (!qualifies) return;
  FUZZ_CHECK(!version.empty(), "a qualifying name shows no version");
  // A name that is the prefix, the version and ".bin" shows the bare version, no suffix.
  const std::string tail = name.substr(start);
  if (tail.size() > 4 && tail.compare(tail.size() - 4, 4, ".bin") == 0 &&
      IsPlainVersion(tail.substr(0, tail.size() - 4))) {
    FUZZ_CHECK(version == tail.substr(0, tail.size() - 4), "a plain name shows another version");
    FUZZ_CHECK(IsPlainVersion(version), "the version of a plain name is not digits.digits");
  }
}

// Names usable as files: no NUL, no slash, not "." or "..", at most kNameMax bytes.
std::vector<std::string> FolderNames(const std::string& input) {
  std::vector<std::string> names;
  std::string current;
  auto finish = [&] {
    if (current.size() > kNameMax) current.resize(kNameMax);
    if (!current.empty() && current != "." && current != ".." && names.size() < kMaxNamesInFolder) {
      bool duplicate = false;
      for (const std::string& name : names) duplicate = duplicate || name == current;
      if (!duplicate) names.push_back(current);
    }
    current.clear();
  };
  for (char c : input) {
    if (c == '/') {
      finish();
    } else if (c != '\0') {
      current += c;
    }
  }
  finish();
  return names;
}

void CheckFolderSearch(const std::vector<std::string>& names) {
  std::vector<std::string> created;
  for (const std::string& name : names) {
    std::ofstream file(workingFolder / name, std::ios::binary);
    if (file) created.push_back(name);
  }
  const std::string found = FindFirmwareFile();
  bool anyQualifies = false;
  for (const std::string& name : created) anyQualifies = anyQualifies || IsFirmwareFileName(name);

  if (!anyQualifies) {
    FUZZ_CHECK(found.empty(), "\"" + found + "\" chosen though no name qualifies");
  } else {
    const std::filesystem::path path(found);
    FUZZ_CHECK(path.parent_path() == workingFolder, "a file outside the working folder chosen");
    const std::string chosen = path.filename().string();
    bool listed = false;
    for (const std::string& name : created) listed = listed || name == chosen;
    FUZZ_CHECK(listed, "\"" + found + "\" is not one of the folder's files");
    FUZZ_CHECK(IsFirmwareFileName(chosen), "a name that does not qualify was chosen");
  }
  std::error_code ignored;
  for (const std::string& name : created) std::filesystem::remove(workingFolder / name, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  workingFolder = fuzz::EnterPrivateWorkingFolder("firmware_name_fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  CheckNameRules(input);
  const std::vector<std::string> names = FolderNames(input);
  for (const std::string& name : names) CheckNameRules(name);
  if (!names.empty()) CheckFolderSearch(names);
  return 0;
}
