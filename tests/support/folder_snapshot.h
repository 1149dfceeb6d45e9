// A snapshot of a folder, to show that nothing under it was written, created, removed or
// touched: the updater only ever reads its working folder and the firmware file.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace test_support {

// Every entry below a folder (recursively, links not followed): its kind, permissions, bytes
// (regular files only: reading a pipe would block) and modification time, both as the
// filesystem library reports it and as lstat's seconds and nanoseconds.
class FolderSnapshot {
 public:
  static FolderSnapshot Take(const std::filesystem::path& folder);
  // One readable line per difference (an entry added, removed or changed, or an entry either
  // snapshot could not read); empty when equal.
  std::vector<std::string> DifferencesTo(const FolderSnapshot& later) const;
  std::size_t EntryCount() const { return m_entries.size(); }

 private:
  struct Entry {
    std::filesystem::file_type type;
    mode_t mode;
    std::vector<std::uint8_t> bytes;
    std::filesystem::file_time_type writeTime;
    timespec modified;
  };
  std::map<std::string, Entry> m_entries;  // by path relative to the folder, raw bytes
  std::vector<std::string> m_errors;       // what could not be read
};

// A name with its control characters and bytes outside printable ASCII shown as \xNN.
std::string Printable(const std::string& text);

}  // namespace test_support
