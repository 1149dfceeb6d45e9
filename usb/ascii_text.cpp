// Comparison of narrow text ignoring the case of ASCII letters.
#include "usb/ascii_text.h"

namespace usb {
namespace {

char FoldAsciiLetter(char character) {
  return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a')
                                                : character;
}

}  // namespace

bool EqualIgnoringAsciiCase(const char* left, const char* right) {
  if (left == nullptr || right == nullptr) return false;
  for (;; ++left, ++right) {
    if (FoldAsciiLetter(*left) != FoldAsciiLetter(*right)) return false;
    if (*left == '\0') return true;
  }
}

}  // namespace usb
