// Finding the version stamp among the notes of a loaded segment, built byte by byte here: other
// notes before it, 4- and 8-byte alignment, foreign owners and types, and damaged sizes that
// must end the search inside the segment. This test program itself carries no stamp.
#include "platform/version_stamp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Note {
  std::string owner;  // without the terminator; the note's name size counts one more
  std::uint32_t type;
  Bytes description;
};

void PutWord(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, sizeof value);
}

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// The notes as the loader maps them: native byte order, name and description padded.
Bytes EncodeNotes(const std::vector<Note>& notes, std::size_t alignment = 4) {
  Bytes segment;
  for (const Note& note : notes) {
    const std::size_t start = segment.size();
    segment.resize(start + 12);
    PutWord(segment, start, static_cast<std::uint32_t>(note.owner.size() + 1));
    PutWord(segment, start + 4, static_cast<std::uint32_t>(note.description.size()));
    PutWord(segment, start + 8, note.type);
    segment.insert(segment.end(), note.owner.begin(), note.owner.end());
    segment.push_back(0);
    segment.resize(AlignUp(segment.size(), alignment), 0);
    segment.insert(segment.end(), note.description.begin(), note.description.end());
    segment.resize(AlignUp(segment.size(), alignment), 0);
  }
  return segment;
}

Note StampNote(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
               std::uint16_t revision) {
  const std::uint16_t parts[] = {major, minor, build, revision};
  Bytes description(sizeof parts);
  std::memcpy(description.data(), parts, sizeof parts);
  return {"SCXVER", 1, description};
}

std::optional<platform::VersionStamp> Find(const Bytes& segment, std::size_t alignment = 4) {
  return platform::FindVersionStamp(segment.data(), segment.size(), alignment);
}

TEST(VersionStampTest, FindsTheStampAfterOtherNotes) {
  const auto stamp = Find(EncodeNotes({{"GNU", 3, Bytes(20, 0xAB)}, StampNote(1, 3, 0, 12)}));
  ASSERT_TRUE(stamp.has_value());
  EXPECT_EQ(stamp->parts, (std::array<std::uint16_t, 4>{1, 3, 0, 12}));
}

TEST(VersionStampTest, HonoursEightByteNoteAlignment) {
  // A GNU property note (name of 4 bytes, description of 12) pads differently at 8 bytes.
  const Bytes segment = EncodeNotes({{"GNU", 5, Bytes(12, 0x01)}, StampNote(2, 0, 1, 5)}, 8);
  const auto stamp = Find(segment, 8);
  ASSERT_TRUE(stamp.has_value());
  EXPECT_EQ(platform::FormatVersion(*stamp), "2.0.1.5");
  // Read with 4-byte padding, the same bytes do not line up.
  EXPECT_FALSE(Find(segment, 4).has_value());
}

TEST(VersionStampTest, IgnoresNotesOfOtherOwnersTypesOrSizes) {
  const Note good = StampNote(1, 2, 3, 4);
  for (const Note& note : {Note{"SCXVEX", 1, good.description}, Note{"SCXVER", 2, good.description},
                           Note{"SCXVER", 1, Bytes(6, 0x01)}, Note{"SCX", 1, Bytes(8, 0x01)}}) {
    EXPECT_FALSE(Find(EncodeNotes({note})).has_value()) << note.owner << " type " << note.type;
  }
}

TEST(VersionStampTest, DamagedSizesEndTheSearchInsideTheSegment) {
  const Bytes good = EncodeNotes({StampNote(1, 3, 0, 12)});
  ASSERT_TRUE(Find(good).has_value());
  EXPECT_FALSE(Find({}).has_value());
  EXPECT_FALSE(Find(Bytes(good.begin(), good.begin() + 11)).has_value()) << "half a header";
  EXPECT_FALSE(Find(Bytes(good.begin(), good.end() - 1)).has_value()) << "description cut";
  for (const std::uint32_t size : {0xFFFFFFFFu, 0xFFFFFFF0u, 64u}) {
    Bytes longName = good;
    PutWord(longName, 0, size);
    EXPECT_FALSE(Find(longName).has_value()) << "name size " << size;
    Bytes longDescription = good;
    PutWord(longDescription, 4, size);
    EXPECT_FALSE(Find(longDescription).has_value()) << "description size " << size;
  }
  // A foreign note whose description runs past the end hides nothing after it.
  Bytes foreign = EncodeNotes({{"GNU", 3, Bytes(8, 0)}, StampNote(1, 3, 0, 12)});
  PutWord(foreign, 4, 0x7FFFFFFF);
  EXPECT_FALSE(Find(foreign).has_value());
}

TEST(VersionStampTest, UnstampedRunningProgramHasNoStamp) {
  // This test program is built without the stamp, among the toolchain's own notes.
  EXPECT_FALSE(platform::ReadOwnVersionStamp().has_value());
}

TEST(FormatVersionTest, PrintsEveryPartAsAnUnsignedNumber) {
  EXPECT_EQ(platform::FormatVersion({{0, 0, 0, 0}}), "0.0.0.0");
  EXPECT_EQ(platform::FormatVersion({{65535, 65535, 65535, 65535}}), "65535.65535.65535.65535");
  EXPECT_EQ(platform::FormatVersion({{1, 3, 0, 12}}), "1.3.0.12");
}

}  // namespace
