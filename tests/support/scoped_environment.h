// An environment variable set or removed for as long as a test needs it, then put back as it
// was: one scoper for every test that steers the code through its environment.
#pragma once

#include <optional>
#include <string>

namespace test_support {

// Sets the variable (or, with nullopt, removes it) for its lifetime. The environment is the
// whole process's: only while no other thread of the test reads it.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Sets or removes it again; the destructor still restores the value from before the scope.
  void Set(const std::optional<std::string>& value);

 private:
  std::string m_name;
  std::optional<std::string> m_previous;
};

}  // namespace test_support
