// The chunked read loop: every chunk up to the end of the file, an early stop when the reader
// has enough, and a failing read reported with its error.
#include "platform/file_chunks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

// A pipe holding text, its writing end closed: reading it ends after the text.
class FilledPipe {
 public:
  explicit FilledPipe(const std::string& text) {
    if (::pipe(ends_) != 0) ADD_FAILURE() << "no pipe";
    if (::write(ends_[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      ADD_FAILURE() << "short write into the pipe";
    }
    ::close(ends_[1]);
    ends_[1] = -1;
  }
  ~FilledPipe() { ::close(ends_[0]); }
  int readEnd() const { return ends_[0]; }

 private:
  int ends_[2] = {-1, -1};
};

TEST(ReadInChunksTest, HandsOverEveryChunkUpToTheEndOfTheFile) {
  FilledPipe pipe("abcdefghij");
  char buffer[4];
  std::vector<std::string> chunks;
  const platform::ChunkReadEnd end = platform::ReadInChunks(
      pipe.readEnd(), buffer, [&chunks](const char* bytes, std::size_t size) {
        chunks.emplace_back(bytes, size);
        return true;
      });
  EXPECT_EQ(end, platform::ChunkReadEnd::EndOfFile);
  EXPECT_EQ(chunks, (std::vector<std::string>{"abcd", "efgh", "ij"}));
}

TEST(ReadInChunksTest, StopsWhenTheReaderHasEnough) {
  FilledPipe pipe("abcdefghij");
  char buffer[4];
  std::string text;
  const platform::ChunkReadEnd end =
      platform::ReadInChunks(pipe.readEnd(), buffer, [&text](const char* bytes, std::size_t size) {
        text.append(bytes, size);
        return text.size() < 5;
      });
  EXPECT_EQ(end, platform::ChunkReadEnd::Stopped);
  EXPECT_EQ(text, "abcdefgh");
}

TEST(ReadInChunksTest, AFailingReadEndsWithItsError) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  char buffer[4];
  bool handedOver = false;
  // The writing end of a pipe cannot be read.
  const platform::ChunkReadEnd end =
      platform::ReadInChunks(ends[1], buffer, [&handedOver](const char*, std::size_t) {
        handedOver = true;
        return true;
      });
  const int error = errno;
  ::close(ends[0]);
  ::close(ends[1]);
  EXPECT_EQ(end, platform::ChunkReadEnd::Failed);
  EXPECT_EQ(error, EBADF);
  EXPECT_FALSE(handedOver);
}

}  // namespace
