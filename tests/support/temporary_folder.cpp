#include "temporary_folder.h"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace test_support {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(const std::string& namePart) {
  std::string pattern = (fs::temp_directory_path() / (namePart + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder from " + pattern);
  }
  m_path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code error;
  fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(m_path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink()) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::remove_all(m_path, error);
}

}  // namespace test_support
