// The program's version stamp: four 16-bit parts that the build embeds into the program as an
// ELF note, read back from the loaded program at run time for the about box.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// major, minor, build, revision
struct VersionStamp {
  std::array<std::uint16_t, 4> parts{};

  friend bool operator==(const VersionStamp&, const VersionStamp&) = default;
};

// The note's owner name and type. The name tells our note from the toolchain's (GNU build id,
// ABI tag), so the type only has to be unique within the owner.
inline constexpr char kVersionNoteOwner[] = "SCXVER";
inline constexpr std::uint32_t kVersionNoteType = 1;

// The note exactly as the build lays it out in a ".note.*" section of the program, in the
// program's own byte order: the standard note header, the owner name padded to 4 bytes, then
// the four parts as the description.
struct VersionNote {
  std::uint32_t nameSize;
  std::uint32_t descriptionSize;
  std::uint32_t type;
  char name[8];
  std::uint16_t parts[4];
};
static_assert(sizeof(VersionNote) == 28);

// Looks for the stamp among the notes of one loaded PT_NOTE segment: size bytes of notes in
// the program's byte order, each name and description padded to alignment (4 or 8; anything
// smaller counts as 4). nullopt when no note there is ours; a note whose sizes run past the
// segment ends the search without reading beyond it. Any thread; no state.
std::optional<VersionStamp> FindVersionStamp(const void* notes, std::size_t size,
                                             std::size_t alignment);

// The stamp of the running program, read from the PT_NOTE segments of its loaded image (the
// main program, never a library) on every call.
std::optional<VersionStamp> ReadOwnVersionStamp();

// "major.minor.build.revision", each part as an unsigned decimal number (65535 stays 65535).
std::string FormatVersion(const VersionStamp& stamp);

}  // namespace platform
