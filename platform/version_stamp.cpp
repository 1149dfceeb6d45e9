// Reads the version note back from the running program's loaded image. The loader maps every
// PT_NOTE segment, so the note is read in place, in the program's own byte order; every size
// in a note is checked against its segment before it is used.
#include "platform/version_stamp.h"

#include <link.h>

#include <cstdio>
#include <cstring>

namespace platform {
namespace {

constexpr std::size_t kNoteHeaderSize = 12;

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Called by dl_iterate_phdr; the first object it reports is the main program, so the walk
// stops after it.
int SearchMainProgram(dl_phdr_info* info, std::size_t, void* data) {
  auto* stamp = static_cast<std::optional<VersionStamp>*>(data);
  for (ElfW(Half) index = 0; index < info->dlpi_phnum && !*stamp; ++index) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[index];
    if (segment.p_type != PT_NOTE) continue;
    const auto* notes = reinterpret_cast<const void*>(info->dlpi_addr + segment.p_vaddr);
    *stamp = FindVersionStamp(notes, segment.p_memsz, segment.p_align);
  }
  return 1;
}

}  // namespace

std::optional<VersionStamp> FindVersionStamp(const void* notes, std::size_t size,
                                             std::size_t alignment) {
  if (alignment < 4) alignment = 4;
  const auto* bytes = static_cast<const unsigned char*>(notes);
  std::size_t offset = 0;
  while (size - offset >= kNoteHeaderSize) {
    std::uint32_t header[3];
    std::memcpy(header, bytes + offset, sizeof header);
    const std::size_t nameSize = header[0];
    const std::size_t descriptionSize = header[1];
    const std::size_t nameAt = offset + kNoteHeaderSize;
    if (nameSize > size - nameAt) return std::nullopt;
    const std::size_t descriptionAt = AlignUp(nameAt + nameSize, alignment);
    if (descriptionAt > size || descriptionSize > size - descriptionAt) return std::nullopt;
    if (nameSize == sizeof(kVersionNoteOwner) && header[2] == kVersionNoteType &&
        descriptionSize == sizeof(VersionNote::parts) &&
        std::memcmp(bytes + nameAt, kVersionNoteOwner, sizeof(kVersionNoteOwner)) == 0) {
      VersionStamp stamp;
      std::memcpy(stamp.parts.data(), bytes + descriptionAt, sizeof(VersionNote::parts));
      return stamp;
    }
    offset = AlignUp(descriptionAt + descriptionSize, alignment);
    if (offset > size) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<VersionStamp> ReadOwnVersionStamp() {
  std::optional<VersionStamp> stamp;
  dl_iterate_phdr(&SearchMainProgram, &stamp);
  return stamp;
}

std::string FormatVersion(const VersionStamp& stamp) {
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(stamp.parts[0]),
                static_cast<unsigned>(stamp.parts[1]), static_cast<unsigned>(stamp.parts[2]),
                static_cast<unsigned>(stamp.parts[3]));
  return text;
}

}  // namespace platform
