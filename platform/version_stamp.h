// The program's version stamp: four 16-bit parts that the build embeds into the program file
// as an ELF note, read back from the file at run time for the about box.
#pragma once

#include <array>
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

// Reads the stamp from an ELF program file (32 or 64 bits, either byte order), through its
// note sections or, when the section table is missing, its PT_NOTE segments. nullopt when the
// file cannot be read, is no ELF file or carries no stamp; malformed tables are rejected
// without reading past the file's end. Any thread; no state.
std::optional<VersionStamp> ReadVersionStamp(const std::string& programPath);

// The stamp of the running program, read from its file (/proc/self/exe) on every call.
std::optional<VersionStamp> ReadOwnVersionStamp();

// "major.minor.build.revision", each part as an unsigned decimal number (65535 stays 65535).
std::string FormatVersion(const VersionStamp& stamp);

}  // namespace platform
