// The folder of the running program, read from the kernel's link to the program's own file.
#include "platform/program_path.h"

#include <unistd.h>

#include <string>
#include <vector>

namespace platform {

std::string ProgramFolder() {
  // The link's length is not known ahead; grow the buffer until the target fits with room
  // to spare, since readlink gives no terminator and no hint that it cut the text.
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(length));
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
