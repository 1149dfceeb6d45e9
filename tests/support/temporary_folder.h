// A fresh folder under the system's temporary folder for one test, removed with everything in
// it when the test is done.
#pragma once

#include <filesystem>
#include <string>

namespace test_support {

class TemporaryFolder {
 public:
  // Named namePart-XXXXXX; throws std::runtime_error when no folder can be made.
  explicit TemporaryFolder(const std::string& namePart = "fwu-test");
  // Gives back every permission a test took away inside, so that all of it can be removed.
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

}  // namespace test_support
