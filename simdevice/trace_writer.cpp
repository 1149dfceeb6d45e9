// Trace lines go straight to the file with O_APPEND writes: nothing is buffered in the
// process, and lines from several agents tracing into the same file do not interleave.
#include "simdevice/trace_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace simdevice {

std::unique_ptr<TraceWriter> TraceWriter::Open(const std::string& path, std::string* error) {
  const int file = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) {
    *error = "cannot open trace file '" + path + "': " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TraceWriter>(new TraceWriter(file));
}

TraceWriter::~TraceWriter() {
  ::close(file_);
}

void TraceWriter::WriteLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = ::write(file_, text.data() + written, text.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return;
    written += static_cast<std::size_t>(result);
  }
}

}  // namespace simdevice
