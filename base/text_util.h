// Conversions between the program's UTF-16 texts and UTF-8 (file paths on
// Linux, terminal output).
#pragma once

#include <string>
#include <string_view>

namespace kp {

// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view s);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);

}  // namespace kp
