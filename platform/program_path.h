// The folder of the running program, from which private files beside it (the vendor USB
// library) are taken, independent of the working folder and the library search path.
#pragma once

#include <string>

namespace platform {

// Absolute path of the folder holding the running program's file, read from /proc/self/exe,
// without a trailing slash ("/" for a program in the root folder). Empty when the link
// cannot be read. Any thread may call it.
std::string ProgramFolder();

}  // namespace platform
