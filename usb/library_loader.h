// Finds and loads the vendor USB library GPlusUSBLibEx once per process, hands out its
// exports, and unloads it at exit. Loading is lazy: the first device scan loads it.
#pragma once

#include <cstddef>
#include <string>

#include "usb/library_exports.h"

// The state is class-wide, so every instance sees the same library; the process has one
// instance, usbLibraryLoader. The loader has no lock of its own: its callers serialise it
// (the device agent reaches it from its scans, in this program on the UI thread, and the
// agent facade holds the agent lock around those). A failed load shows an ownerless
// "Warning" box on the calling thread and blocks until it is dismissed.
class C_USBLibraryLoader {
 public:
  // Room for a path and its terminator: longer paths are refused (SetLibraryPath).
  static constexpr std::size_t kPathCapacity = 260;

  // Nothing loaded, default location.
  C_USBLibraryLoader();
  // Unloads the library if it is loaded.
  virtual ~C_USBLibraryLoader();

  C_USBLibraryLoader(const C_USBLibraryLoader&) = delete;
  C_USBLibraryLoader& operator=(const C_USBLibraryLoader&) = delete;

  // Chooses an explicit library file, or with null the default GPlusUSBLibEx.so in the
  // running program's folder. The same path again (ASCII letter case ignored), or null while
  // the default is chosen, changes nothing; any other choice unloads a loaded library. A
  // path of 260 bytes or more is refused: the choice and the library stay as they were.
  // A relative explicit path is taken from the working folder, never the search path.
  void SetLibraryPath(const char* path);

  // The file EnsureLoaded loads: the explicit path (a name without a slash taken from the
  // working folder), or GPlusUSBLibEx.so in the running program's folder. Empty when that
  // folder cannot be found.
  static std::string LibraryFilePath();

  // 1: the library is loaded (a loaded one is never reloaded); 0: loading failed, after
  // the warning box. Every later call tries again.
  int EnsureLoaded();

  // Address of an export, loading the library first; null when the library cannot be
  // loaded (after the warning) or has no such export (silently). Prefer GetExport.
  void* GetProc(const char* exportName);

  // The export described by an entry of library_exports.h, as its typed function pointer.
  template <typename Export>
  typename Export::Function GetExport() {
    return reinterpret_cast<typename Export::Function>(GetProc(Export::kName));
  }

  // The handle from dlopen; null while nothing is loaded.
  static void* libraryHandle;
  // The explicit library file; empty (first byte 0) for the default location.
  static char libraryPath[kPathCapacity];
};

// The process's loader, constructed during static initialisation.
extern C_USBLibraryLoader usbLibraryLoader;
