// Reading the version stamp back from ELF files built byte by byte here: both classes, both
// byte orders, section or segment tables, and the damaged files that must yield no stamp.
#include "platform/version_stamp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Note {
  std::string owner;  // without the terminator; the note's name size counts one more
  std::uint32_t type;
  Bytes description;
};

struct ElfPlan {
  bool is64 = true;
  bool bigEndian = false;
  bool sectionTable = true;
  bool segmentTable = true;
  std::uint64_t noteAlignment = 4;
  std::vector<Note> notes;
};

void Put(Bytes& bytes, std::size_t offset, std::uint64_t value, int width, bool bigEndian) {
  if (bytes.size() < offset + width) bytes.resize(offset + width);
  for (int index = 0; index < width; ++index) {
    const int shift = 8 * (bigEndian ? width - 1 - index : index);
    bytes[offset + index] = static_cast<unsigned char>(value >> shift);
  }
}

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

Bytes EncodeNotes(const ElfPlan& plan) {
  Bytes region;
  for (const Note& note : plan.notes) {
    const std::size_t start = region.size();
    Put(region, start, note.owner.size() + 1, 4, plan.bigEndian);
    Put(region, start + 4, note.description.size(), 4, plan.bigEndian);
    Put(region, start + 8, note.type, 4, plan.bigEndian);
    region.insert(region.end(), note.owner.begin(), note.owner.end());
    region.push_back(0);
    region.resize(AlignUp(region.size(), plan.noteAlignment), 0);
    region.insert(region.end(), note.description.begin(), note.description.end());
    region.resize(AlignUp(region.size(), plan.noteAlignment), 0);
  }
  return region;
}

Bytes VersionDescription(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                         std::uint16_t revision, bool bigEndian) {
  Bytes description;
  const std::uint16_t parts[] = {major, minor, build, revision};
  for (int index = 0; index < 4; ++index) Put(description, 2 * index, parts[index], 2, bigEndian);
  return description;
}

constexpr std::size_t kNotesOffset = 0x100;
constexpr std::size_t kProgramTableOffset = 0x400;
constexpr std::size_t kSectionTableOffset = 0x500;

Bytes BuildElf(const ElfPlan& plan) {
  const bool big = plan.bigEndian;
  const int width = plan.is64 ? 8 : 4;
  Bytes bytes(kSectionTableOffset, 0);
  bytes[0] = 0x7F;
  bytes[1] = 'E';
  bytes[2] = 'L';
  bytes[3] = 'F';
  bytes[4] = plan.is64 ? 2 : 1;
  bytes[5] = big ? 2 : 1;
  bytes[6] = 1;
  Put(bytes, 16, 2, 2, big);  // executable
  Put(bytes, 20, 1, 4, big);

  const Bytes notes = EncodeNotes(plan);
  std::copy(notes.begin(), notes.end(), bytes.begin() + kNotesOffset);

  // Header field offsets of the two classes.
  const std::size_t programOffsetField = plan.is64 ? 0x20 : 0x1C;
  const std::size_t sectionOffsetField = plan.is64 ? 0x28 : 0x20;
  const std::size_t sizesField = plan.is64 ? 0x34 : 0x28;  // e_ehsize, then the entry sizes
  const std::size_t programEntrySize = plan.is64 ? 56 : 32;
  const std::size_t sectionEntrySize = plan.is64 ? 64 : 40;
  Put(bytes, sizesField, plan.is64 ? 64 : 52, 2, big);
  Put(bytes, sizesField + 2, programEntrySize, 2, big);
  Put(bytes, sizesField + 6, sectionEntrySize, 2, big);

  if (plan.segmentTable) {
    Put(bytes, programOffsetField, kProgramTableOffset, width, big);
    Put(bytes, sizesField + 4, 2, 2, big);
    // A loadable segment first, then the notes.
    const std::size_t load = kProgramTableOffset;
    Put(bytes, load, 1, 4, big);
    const std::size_t note = kProgramTableOffset + programEntrySize;
    Put(bytes, note, 4, 4, big);
    Put(bytes, note + (plan.is64 ? 8 : 4), kNotesOffset, width, big);
    Put(bytes, note + (plan.is64 ? 0x20 : 0x10), notes.size(), width, big);
    Put(bytes, note + (plan.is64 ? 0x30 : 0x1C), plan.noteAlignment, width, big);
  }
  if (plan.sectionTable) {
    Put(bytes, sectionOffsetField, kSectionTableOffset, width, big);
    Put(bytes, sizesField + 8, 3, 2, big);
    bytes.resize(kSectionTableOffset + 3 * sectionEntrySize, 0);
    // Section 0 is the null section; 1 holds program bits; 2 the notes.
    const std::size_t code = kSectionTableOffset + sectionEntrySize;
    Put(bytes, code + 4, 1, 4, big);
    const std::size_t note = kSectionTableOffset + 2 * sectionEntrySize;
    Put(bytes, note + 4, 7, 4, big);
    Put(bytes, note + (plan.is64 ? 0x18 : 0x10), kNotesOffset, width, big);
    Put(bytes, note + (plan.is64 ? 0x20 : 0x14), notes.size(), width, big);
    Put(bytes, note + (plan.is64 ? 0x30 : 0x20), plan.noteAlignment, width, big);
  }
  return bytes;
}

class VersionStampTest : public testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& path : m_files) ::unlink(path.c_str());
  }

  std::string WriteFile(const Bytes& bytes) {
    const std::string path = testing::TempDir() + "fwu-stamp-" + std::to_string(::getpid()) + "-" +
                             std::to_string(m_files.size());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    m_files.push_back(path);
    return path;
  }

  std::optional<platform::VersionStamp> Read(const Bytes& bytes) {
    return platform::ReadVersionStamp(WriteFile(bytes));
  }

  static Note StampNote(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                        std::uint16_t revision, bool bigEndian = false) {
    return {"SCXVER", 1, VersionDescription(major, minor, build, revision, bigEndian)};
  }

 private:
  std::vector<std::string> m_files;
};

TEST_F(VersionStampTest, FindsTheStampAmongOtherNotesOfA64BitFile) {
  ElfPlan plan;
  plan.notes = {{"GNU", 3, Bytes(20, 0xAB)}, StampNote(1, 3, 0, 12)};
  const auto stamp = Read(BuildElf(plan));
  ASSERT_TRUE(stamp.has_value());
  EXPECT_EQ(stamp->parts, (std::array<std::uint16_t, 4>{1, 3, 0, 12}));
  EXPECT_EQ(platform::FormatVersion(*stamp), "1.3.0.12");
}

TEST_F(VersionStampTest, ReadsBigEndian32BitFilesThroughTheirSegmentsAlone) {
  ElfPlan plan;
  plan.is64 = false;
  plan.bigEndian = true;
  plan.sectionTable = false;  // stripped of its section table
  plan.notes = {StampNote(65535, 0, 7, 65535, true)};
  const auto stamp = Read(BuildElf(plan));
  ASSERT_TRUE(stamp.has_value());
  // Each part is unsigned: 65535 never turns into -1.
  EXPECT_EQ(platform::FormatVersion(*stamp), "65535.0.7.65535");
}

TEST_F(VersionStampTest, HonoursEightByteNoteAlignment) {
  ElfPlan plan;
  plan.noteAlignment = 8;
  plan.segmentTable = false;
  // A GNU property note (name of 4 bytes, description of 12) pads differently at 8 bytes.
  plan.notes = {{"GNU", 5, Bytes(12, 0x01)}, StampNote(2, 0, 1, 5)};
  const auto stamp = Read(BuildElf(plan));
  ASSERT_TRUE(stamp.has_value());
  EXPECT_EQ(platform::FormatVersion(*stamp), "2.0.1.5");
}

TEST_F(VersionStampTest, IgnoresNotesOfOtherOwnersTypesOrSizes) {
  for (const Note& note : {Note{"SCXVEX", 1, VersionDescription(1, 2, 3, 4, false)},
                           Note{"SCXVER", 2, VersionDescription(1, 2, 3, 4, false)},
                           Note{"SCXVER", 1, Bytes(6, 0x01)}, Note{"SCX", 1, Bytes(8, 0x01)}}) {
    ElfPlan plan;
    plan.notes = {note};
    EXPECT_FALSE(Read(BuildElf(plan)).has_value()) << note.owner << " type " << note.type;
  }
}

TEST_F(VersionStampTest, FilesThatAreNoStampedProgramYieldNothing) {
  EXPECT_FALSE(platform::ReadVersionStamp("/nonexistent/fwu-program").has_value());
  EXPECT_FALSE(Read({}).has_value());
  const std::string text = "#!/bin/sh\necho not a program\n";
  EXPECT_FALSE(Read(Bytes(text.begin(), text.end())).has_value());

  ElfPlan plan;
  plan.notes = {StampNote(1, 3, 0, 12)};
  const Bytes good = BuildElf(plan);
  // Cut short inside the header.
  EXPECT_FALSE(Read(Bytes(good.begin(), good.begin() + 40)).has_value());
  // An unknown class.
  Bytes badClass = good;
  badClass[4] = 3;
  EXPECT_FALSE(Read(badClass).has_value());
  // A directory is not a program file.
  EXPECT_FALSE(platform::ReadVersionStamp(testing::TempDir()).has_value());
}

TEST_F(VersionStampTest, DamagedTablesAndNotesAreRejectedWithoutReadingPastTheEnd) {
  ElfPlan plan;
  plan.notes = {StampNote(1, 3, 0, 12)};
  plan.segmentTable = false;
  const Bytes good = BuildElf(plan);
  ASSERT_TRUE(Read(good).has_value());

  // The note section points past the end of the file.
  Bytes pastEnd = good;
  Put(pastEnd, kSectionTableOffset + 2 * 64 + 0x18, 0xFFFFFFFFFFFF0000ULL, 8, false);
  EXPECT_FALSE(Read(pastEnd).has_value());
  // The note section claims an enormous size.
  Bytes huge = good;
  Put(huge, kSectionTableOffset + 2 * 64 + 0x20, 0x7FFFFFFFFFFFFFFFULL, 8, false);
  EXPECT_FALSE(Read(huge).has_value());
  // The note's name size runs off the region.
  Bytes longName = good;
  Put(longName, kNotesOffset, 0xFFFFFFFFU, 4, false);
  EXPECT_FALSE(Read(longName).has_value());
  // The section table itself lies beyond the file.
  Bytes tableGone = good;
  Put(tableGone, 0x28, 0x10000000, 8, false);
  EXPECT_FALSE(Read(tableGone).has_value());
  // Entries too small to hold their fields.
  Bytes smallEntries = good;
  Put(smallEntries, 0x3A, 8, 2, false);
  EXPECT_FALSE(Read(smallEntries).has_value());
}

TEST_F(VersionStampTest, UnstampedRealProgramHasNoStamp) {
  // This test program is built without the stamp, among the toolchain's own notes.
  EXPECT_FALSE(platform::ReadOwnVersionStamp().has_value());
}

TEST(FormatVersionTest, PrintsEveryPartAsAnUnsignedNumber) {
  EXPECT_EQ(platform::FormatVersion({{0, 0, 0, 0}}), "0.0.0.0");
  EXPECT_EQ(platform::FormatVersion({{65535, 65535, 65535, 65535}}), "65535.65535.65535.65535");
  EXPECT_EQ(platform::FormatVersion({{1, 3, 0, 12}}), "1.3.0.12");
}

}  // namespace
