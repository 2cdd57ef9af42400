#pragma once
// Windows-1251 bytes, the receiver's text, to UTF-8 for a terminal or a pipe.

#include <string>
#include <string_view>

namespace dahlo {

// The Unicode code point of a Windows-1251 byte; the one unassigned byte (0x98) gives U+FFFD.
char32_t Cp1251ToCodePoint(unsigned char byte);

// Appends the UTF-8 form of `cp1251` to `out`.
void AppendCp1251AsUtf8(std::string_view cp1251, std::string& out);

}  // namespace dahlo
