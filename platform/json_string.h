// JSON string literals for the lines we write as JSON: the call trace and the terminal's events.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// A JSON string literal of text (UTF-8), quotes included: quote, backslash and control
// characters escaped, so that any file name or message stays one valid JSON value on one line.
std::string JsonString(std::string_view text);

}  // namespace platform
