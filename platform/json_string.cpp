// JSON string literals: only what JSON requires is escaped, the rest of the UTF-8 passes as is.
#include "platform/json_string.h"

#include <cstdio>

namespace platform {

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (character == '"' || character == '\\') {
      json += '\\';
      json += character;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(byte));
      json += escaped;
    } else {
      json += character;
    }
  }
  json += '"';
  return json;
}

}  // namespace platform
