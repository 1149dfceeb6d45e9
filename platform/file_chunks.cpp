// The read loop behind the program's and the simulated library's file readers (file_chunks.h).
#include "platform/file_chunks.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

ChunkReadEnd ReadInChunks(int file, std::span<char> buffer,
                          const std::function<bool(const char* bytes, std::size_t size)>& take) {
  for (;;) {
    const ssize_t got = ::read(file, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ChunkReadEnd::Failed;
    if (got == 0) return ChunkReadEnd::EndOfFile;
    if (!take(buffer.data(), static_cast<std::size_t>(got))) return ChunkReadEnd::Stopped;
  }
}

}  // namespace platform
