#pragma once
// The receiver's Windows-1251 text as the window's Unicode text, and back.

#include <QString>
#include <string>
#include <string_view>

#include "morse/cp1251.h"

namespace dahlo {

QString Cp1251ToQString(std::string_view bytes);

// Characters without a 1251 byte become '?'.
std::string QStringToCp1251(const QString& text);

}  // namespace dahlo
