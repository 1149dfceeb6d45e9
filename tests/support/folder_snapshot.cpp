// The folder snapshot: a recursive listing with bytes and times, and its differences.
#include "folder_snapshot.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace test_support {
namespace {

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream stream(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::string Describe(const timespec& time) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld.%09ld", static_cast<long long>(time.tv_sec),
                static_cast<long>(time.tv_nsec));
  return text;
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string shown;
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      shown += character;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    }
  }
  return shown;
}

FolderSnapshot FolderSnapshot::Take(const fs::path& folder) {
  FolderSnapshot snapshot;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path path = it->path();
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
      snapshot.m_errors.push_back("cannot stat " + Printable(path.string()));
      continue;
    }
    Entry entry{it->symlink_status().type(), status.st_mode, {}, {}, status.st_mtim};
    if (S_ISREG(status.st_mode)) entry.bytes = ReadBytes(path);
    entry.writeTime = fs::last_write_time(path, error);
    error.clear();
    snapshot.m_entries.emplace(fs::relative(path, folder).string(), std::move(entry));
  }
  if (error) {
    snapshot.m_errors.push_back("cannot list " + Printable(folder.string()) + ": " +
                                error.message());
  }
  return snapshot;
}

std::vector<std::string> FolderSnapshot::DifferencesTo(const FolderSnapshot& later) const {
  std::vector<std::string> differences = m_errors;
  differences.insert(differences.end(), later.m_errors.begin(), later.m_errors.end());
  for (const auto& [name, entry] : m_entries) {
    const auto found = later.m_entries.find(name);
    if (found == later.m_entries.end()) {
      differences.push_back("removed: " + Printable(name));
      continue;
    }
    const Entry& now = found->second;
    if (now.type != entry.type || now.mode != entry.mode) {
      differences.push_back("kind or permissions changed: " + Printable(name));
    }
    if (now.bytes != entry.bytes) differences.push_back("bytes changed: " + Printable(name));
    if (now.writeTime != entry.writeTime) {
      differences.push_back("last_write_time changed: " + Printable(name));
    }
    if (now.modified.tv_sec != entry.modified.tv_sec ||
        now.modified.tv_nsec != entry.modified.tv_nsec) {
      differences.push_back("st_mtim changed from " + Describe(entry.modified) + " to " +
                            Describe(now.modified) + ": " + Printable(name));
    }
  }
  for (const auto& [name, entry] : later.m_entries) {
    if (!m_entries.contains(name)) differences.push_back("appeared: " + Printable(name));
  }
  return differences;
}

}  // namespace test_support
