// Comparison of narrow names and paths that ignores the letter case of ASCII letters only,
// so that the bytes of multibyte characters are compared exactly and no locale is consulted.
#pragma once

namespace usb {

// True when both strings are non-null and equal once ASCII letters are folded to one case.
bool EqualIgnoringAsciiCase(const char* left, const char* right);

}  // namespace usb
