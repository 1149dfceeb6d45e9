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
  // An entry whose permissions cannot be changed does not end the walk; remove_all then
  // takes what it can.
  std::error_code ignored;
  fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
  std::error_code walk;
  for (auto it = fs::recursive_directory_iterator(m_path, walk);
       !walk && it != fs::recursive_directory_iterator(); it.increment(walk)) {
    if (!it->is_symlink()) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(m_path, ignored);
}

}  // namespace test_support
