#pragma once
// Windows-1251 bytes to Unicode and back. The core keeps decoded text, charset files and saved
// buffers as 1251 bytes; the window shows Unicode. Written out as a table so that the result does
// not depend on which codecs the Qt build happens to carry.

#include <QString>
#include <string>
#include <string_view>

namespace dahlo {

// The Unicode character of one 1251 byte. 0x98 (unassigned) maps to U+0098.
char16_t Cp1251ToUnicode(unsigned char byte);
QString Cp1251ToQString(std::string_view bytes);

// Characters without a 1251 byte become '?'.
std::string QStringToCp1251(const QString& text);

}  // namespace dahlo
