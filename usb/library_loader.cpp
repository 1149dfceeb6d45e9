// The vendor USB library loader: the library comes from an explicit file or from the running
// program's own folder, never from the working folder or the library search path.
#include "usb/library_loader.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/message_box.h"
#include "platform/program_path.h"
#include "usb/ascii_text.h"
#include "usb/call_recorder.h"

void* C_USBLibraryLoader::libraryHandle = nullptr;
char C_USBLibraryLoader::libraryPath[C_USBLibraryLoader::kPathCapacity] = {};

C_USBLibraryLoader usbLibraryLoader;

namespace {

constexpr const char* kLibraryFileName = "GPlusUSBLibEx.so";
constexpr unsigned kWarningBoxType = MB_OK | MB_ICONEXCLAMATION;
// The warning's text must fit a 256-byte buffer with its terminator.
constexpr std::size_t kWarningCapacity = 256;

std::string DefaultLibraryPath() {
  std::string folder = platform::ProgramFolder();
  if (folder.empty()) return {};
  if (folder.back() != '/') folder += '/';
  return folder + kLibraryFileName;
}

// dlopen searches the library path for a name without a slash; an explicit file named that
// way is meant relative to the working folder.
std::string ExplicitLibraryPath(const char* path) {
  if (std::strchr(path, '/') != nullptr) return path;
  return std::string("./") + path;
}

// Length of the longest start of text, at most limit bytes, that ends on a character
// boundary: a UTF-8 continuation byte never begins the part that is cut off.
std::size_t CutOnCharacterBoundary(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t length = limit;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return length;
}

// "Load '<name>' failed!!". A name too long for the buffer is cut on a character boundary
// and marked with "...", so the box still says what failed.
std::string LoadWarning(const std::string& name) {
  const std::string head = "Load '";
  const std::string tail = "' failed!!";
  const std::size_t room = kWarningCapacity - 1 - head.size() - tail.size();
  if (name.size() <= room) return head + name + tail;
  const std::string marker = "...";
  return head + name.substr(0, CutOnCharacterBoundary(name, room - marker.size())) + marker + tail;
}

}  // namespace

C_USBLibraryLoader::C_USBLibraryLoader() {
  libraryHandle = nullptr;
  libraryPath[0] = '\0';
}

C_USBLibraryLoader::~C_USBLibraryLoader() {
  if (libraryHandle != nullptr) {
    dlclose(libraryHandle);
    libraryHandle = nullptr;
  }
}

void C_USBLibraryLoader::SetLibraryPath(const char* path) {
  if (path == nullptr && libraryPath[0] == '\0') return;
  if (path != nullptr) {
    if (std::strlen(path) >= kPathCapacity) {
      std::fprintf(stderr,
                   "GPlusUSBLibEx: library path of %zu bytes refused (at most %zu); keeping "
                   "the current choice\n",
                   std::strlen(path), kPathCapacity - 1);
      return;
    }
    if (usb::EqualIgnoringAsciiCase(path, libraryPath)) return;
  }
  if (libraryHandle != nullptr) {
    dlclose(libraryHandle);
    libraryHandle = nullptr;
  }
  if (path == nullptr) {
    libraryPath[0] = '\0';
  } else {
    std::memcpy(libraryPath, path, std::strlen(path) + 1);
  }
}

std::string C_USBLibraryLoader::LibraryFilePath() {
  return libraryPath[0] != '\0' ? ExplicitLibraryPath(libraryPath) : DefaultLibraryPath();
}

int C_USBLibraryLoader::EnsureLoaded() {
  if (libraryHandle != nullptr) return 1;

  const bool explicitPath = libraryPath[0] != '\0';
  const std::string path = LibraryFilePath();
  if (!path.empty()) {
    libraryHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    // A trace names the library file its calls went to.
    if (const std::shared_ptr<usb::CallRecorder> recorder = usb::ActiveCallRecorder()) {
      recorder->NoteLibrary(path, libraryHandle != nullptr);
    }
    if (libraryHandle != nullptr) return 1;
    const char* reason = dlerror();
    std::fprintf(stderr, "GPlusUSBLibEx: %s\n", reason != nullptr ? reason : path.c_str());
  } else {
    std::fprintf(stderr, "GPlusUSBLibEx: the program's own folder cannot be found\n");
  }

  platform::ShowOwnerlessMessageBox(LoadWarning(explicitPath ? libraryPath : kLibraryFileName),
                                    "Warning", kWarningBoxType);
  return 0;
}

void* C_USBLibraryLoader::GetProc(const char* exportName) {
  if (EnsureLoaded() == 0) return nullptr;
  dlerror();
  void* address = dlsym(libraryHandle, exportName);
  if (address == nullptr) {
    const char* reason = dlerror();
    std::fprintf(stderr, "GPlusUSBLibEx: no export %s%s%s\n", exportName,
                 reason != nullptr ? ": " : "", reason != nullptr ? reason : "");
  }
  return address;
}
