#pragma once
// Windows-1251, the code page of the receiver's text (charset tables, charset files, the saved
// buffer), to Unicode and back. A table of our own, so that the result never depends on which
// codecs the system or the toolkit carries.

#include <string>
#include <string_view>

namespace dahlo {

// The Unicode character of one byte. The one unassigned byte, 0x98, maps to U+0098 so that text
// survives a round trip unchanged.
char16_t Cp1251ToUnicode(unsigned char byte);

// The byte of a Unicode character, or -1 when the code page has none.
int UnicodeToCp1251(char32_t c);

// Appends the UTF-8 form of `cp1251` to `out`; 0x98 comes out as U+FFFD, since a terminal has
// nothing to show for a control character.
void AppendCp1251AsUtf8(std::string_view cp1251, std::string& out);

}  // namespace dahlo
