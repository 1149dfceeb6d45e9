// Reading an open file to its end, chunk by chunk, through interrupted reads: one loop for the
// readers that each decide how to open their file, how large a chunk is and what they keep.
#pragma once

#include <cstddef>
#include <functional>
#include <span>

namespace platform {

enum class ChunkReadEnd {
  EndOfFile,  // every byte up to the end of the file was handed over
  Stopped,    // take answered false; the rest of the file was not read
  Failed,     // a read failed; errno holds its error
};

// Reads file from its current position into buffer, again and again, handing each chunk read
// to take(bytes, size) until the end of the file or until take answers false. A read
// interrupted by a signal is repeated. The descriptor is left open.
ChunkReadEnd ReadInChunks(int file, std::span<char> buffer,
                          const std::function<bool(const char* bytes, std::size_t size)>& take);

}  // namespace platform
