// Reads the version note back from an ELF program file. Every offset and count in the file is
// checked against the file's size before it is used, so a damaged or foreign file yields no
// stamp rather than a crash or a huge allocation.
#include "platform/version_stamp.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

namespace platform {
namespace {

constexpr unsigned char kElfMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr std::uint32_t kSectionTypeNote = 7;  // SHT_NOTE
constexpr std::uint32_t kSegmentTypeNote = 4;  // PT_NOTE
// No note table of ours comes near this; a larger one is not worth reading.
constexpr std::uint64_t kLargestNoteRegion = 1 << 20;
constexpr std::uint32_t kLargestTableEntries = 1 << 16;

// A regular file read at explicit offsets, bounded by its size.
class BoundedFile {
 public:
  explicit BoundedFile(const std::string& path) : m_stream(path, std::ios::binary) {
    if (m_stream) {
      m_stream.seekg(0, std::ios::end);
      const std::streamoff end = m_stream.tellg();
      m_size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
  }

  bool Read(std::uint64_t offset, void* buffer, std::uint64_t length) {
    if (offset > m_size || length > m_size - offset) return false;
    m_stream.clear();
    m_stream.seekg(static_cast<std::streamoff>(offset));
    m_stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
    return static_cast<std::uint64_t>(m_stream.gcount()) == length;
  }

 private:
  std::ifstream m_stream;
  std::uint64_t m_size = 0;
};

// Integers in the file's byte order.
class ByteOrder {
 public:
  explicit ByteOrder(bool bigEndian) : m_bigEndian(bigEndian) {}

  std::uint64_t Read(const unsigned char* bytes, int width) const {
    std::uint64_t value = 0;
    for (int index = 0; index < width; ++index) {
      const int position = m_bigEndian ? index : width - 1 - index;
      value = (value << 8) | bytes[position];
    }
    return value;
  }

 private:
  bool m_bigEndian;
};

// Where the fields this reader needs sit in the two ELF classes: in the file header, in a
// section header and in a program (segment) header.
struct ElfLayout {
  int addressWidth;  // 4 or 8 bytes
  std::uint64_t programTableOffsetField;
  std::uint64_t sectionTableOffsetField;
  std::uint64_t programEntrySizeField;
  std::uint64_t programCountField;
  std::uint64_t sectionEntrySizeField;
  std::uint64_t sectionCountField;
  std::uint64_t sectionOffsetField;
  std::uint64_t sectionSizeField;
  std::uint64_t sectionAlignField;
  std::uint64_t segmentOffsetField;
  std::uint64_t segmentSizeField;
  std::uint64_t segmentAlignField;
};

constexpr ElfLayout kElf32{.addressWidth = 4,
                           .programTableOffsetField = 0x1C,
                           .sectionTableOffsetField = 0x20,
                           .programEntrySizeField = 0x2A,
                           .programCountField = 0x2C,
                           .sectionEntrySizeField = 0x2E,
                           .sectionCountField = 0x30,
                           .sectionOffsetField = 0x10,
                           .sectionSizeField = 0x14,
                           .sectionAlignField = 0x20,
                           .segmentOffsetField = 0x04,
                           .segmentSizeField = 0x10,
                           .segmentAlignField = 0x1C};
constexpr ElfLayout kElf64{.addressWidth = 8,
                           .programTableOffsetField = 0x20,
                           .sectionTableOffsetField = 0x28,
                           .programEntrySizeField = 0x36,
                           .programCountField = 0x38,
                           .sectionEntrySizeField = 0x3A,
                           .sectionCountField = 0x3C,
                           .sectionOffsetField = 0x18,
                           .sectionSizeField = 0x20,
                           .sectionAlignField = 0x30,
                           .segmentOffsetField = 0x08,
                           .segmentSizeField = 0x20,
                           .segmentAlignField = 0x30};

struct NoteRegion {
  std::uint64_t offset;
  std::uint64_t size;
  std::uint64_t alignment;
};

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Walks the notes of one region and picks out ours.
std::optional<VersionStamp> FindStampInRegion(BoundedFile& file, const ByteOrder& order,
                                              const NoteRegion& region) {
  if (region.size == 0 || region.size > kLargestNoteRegion) return std::nullopt;
  std::vector<unsigned char> bytes(region.size);
  if (!file.Read(region.offset, bytes.data(), bytes.size())) return std::nullopt;
  // Notes are padded to 4 bytes, or to 8 in a region aligned so (GNU property notes).
  const std::uint64_t padding = region.alignment == 8 ? 8 : 4;
  const std::string_view owner(kVersionNoteOwner, sizeof(kVersionNoteOwner));

  std::uint64_t position = 0;
  while (bytes.size() - position >= 12) {
    const unsigned char* header = bytes.data() + position;
    const std::uint64_t nameSize = order.Read(header, 4);
    const std::uint64_t descriptionSize = order.Read(header + 4, 4);
    const std::uint64_t type = order.Read(header + 8, 4);
    if (nameSize > bytes.size() || descriptionSize > bytes.size()) return std::nullopt;
    // The description and the next note start at the region's alignment.
    const std::uint64_t nameStart = position + 12;
    const std::uint64_t descriptionStart = AlignUp(nameStart + nameSize, padding);
    const std::uint64_t next = AlignUp(descriptionStart + descriptionSize, padding);
    if (descriptionStart + descriptionSize > bytes.size()) return std::nullopt;
    const std::string_view name(reinterpret_cast<const char*>(bytes.data() + nameStart),
                                static_cast<std::size_t>(nameSize));
    if (name == owner && type == kVersionNoteType && descriptionSize == 8) {
      VersionStamp stamp;
      for (std::size_t part = 0; part < stamp.parts.size(); ++part) {
        stamp.parts[part] =
            static_cast<std::uint16_t>(order.Read(bytes.data() + descriptionStart + 2 * part, 2));
      }
      return stamp;
    }
    position = next;
    if (position > bytes.size()) break;
  }
  return std::nullopt;
}

// One table of the file (sections or segments): where it is, and where the fields of the
// note entries sit in each of its entries.
struct NoteTable {
  std::uint64_t offset;
  std::uint64_t entrySize;
  std::uint64_t count;
  std::uint64_t typeField;
  std::uint32_t noteType;
  std::uint64_t offsetField;
  std::uint64_t sizeField;
  std::uint64_t alignField;
};

// The regions of the table's entries that have the note type.
std::vector<NoteRegion> NoteRegions(BoundedFile& file, const ByteOrder& order, int width,
                                    const NoteTable& table) {
  std::vector<NoteRegion> regions;
  if (table.offset == 0 || table.count == 0 || table.count > kLargestTableEntries) {
    return regions;
  }
  if (table.entrySize < table.alignField + width || table.entrySize > 256) return regions;
  std::vector<unsigned char> entry(table.entrySize);
  for (std::uint64_t index = 0; index < table.count; ++index) {
    if (!file.Read(table.offset + index * table.entrySize, entry.data(), entry.size())) break;
    if (order.Read(entry.data() + table.typeField, 4) != table.noteType) continue;
    regions.push_back({order.Read(entry.data() + table.offsetField, width),
                       order.Read(entry.data() + table.sizeField, width),
                       order.Read(entry.data() + table.alignField, width)});
  }
  return regions;
}

}  // namespace

std::optional<VersionStamp> ReadVersionStamp(const std::string& programPath) {
  BoundedFile file(programPath);
  unsigned char header[64] = {};
  if (!file.Read(0, header, 52)) return std::nullopt;  // the smaller, 32-bit header
  if (std::memcmp(header, kElfMagic, sizeof(kElfMagic)) != 0) return std::nullopt;
  const unsigned char elfClass = header[4];
  const unsigned char elfData = header[5];
  if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2)) return std::nullopt;
  if (elfClass == 2 && !file.Read(0, header, 64)) return std::nullopt;

  const ElfLayout& layout = elfClass == 2 ? kElf64 : kElf32;
  const int width = layout.addressWidth;
  const ByteOrder order(elfData == 2);

  // The section table first: it names the note sections directly. A file stripped of its
  // section table still has the loader's PT_NOTE segments.
  const NoteTable sectionTable{order.Read(header + layout.sectionTableOffsetField, width),
                               order.Read(header + layout.sectionEntrySizeField, 2),
                               order.Read(header + layout.sectionCountField, 2),
                               4,
                               kSectionTypeNote,
                               layout.sectionOffsetField,
                               layout.sectionSizeField,
                               layout.sectionAlignField};
  const NoteTable segmentTable{order.Read(header + layout.programTableOffsetField, width),
                               order.Read(header + layout.programEntrySizeField, 2),
                               order.Read(header + layout.programCountField, 2),
                               0,
                               kSegmentTypeNote,
                               layout.segmentOffsetField,
                               layout.segmentSizeField,
                               layout.segmentAlignField};
  for (const NoteTable& table : {sectionTable, segmentTable}) {
    for (const NoteRegion& region : NoteRegions(file, order, width, table)) {
      if (auto stamp = FindStampInRegion(file, order, region)) return stamp;
    }
  }
  return std::nullopt;
}

std::optional<VersionStamp> ReadOwnVersionStamp() {
  return ReadVersionStamp("/proc/self/exe");
}

std::string FormatVersion(const VersionStamp& stamp) {
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(stamp.parts[0]),
                static_cast<unsigned>(stamp.parts[1]), static_cast<unsigned>(stamp.parts[2]),
                static_cast<unsigned>(stamp.parts[3]));
  return text;
}

}  // namespace platform
