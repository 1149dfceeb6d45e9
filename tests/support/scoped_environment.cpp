// Setting an environment variable for a test and putting the previous value back.
#include "scoped_environment.h"

#include <cstdlib>

namespace test_support {

ScopedEnvironment::ScopedEnvironment(const char* name, std::optional<std::string> value)
    : m_name(name) {
  if (const char* previous = std::getenv(name)) m_previous = previous;
  Set(value);
}

ScopedEnvironment::~ScopedEnvironment() {
  Set(m_previous);
}

void ScopedEnvironment::Set(const std::optional<std::string>& value) {
  if (value) {
    ::setenv(m_name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(m_name.c_str());
  }
}

}  // namespace test_support
