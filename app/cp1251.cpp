#include "app/cp1251.h"

namespace dahlo {

QString Cp1251ToQString(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char b : bytes) text.append(QChar(Cp1251ToUnicode(static_cast<unsigned char>(b))));
    return text;
}

std::string QStringToCp1251(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (QChar c : text) {
        const int b = UnicodeToCp1251(c.unicode());
        bytes.push_back(static_cast<char>(b < 0 ? '?' : b));
    }
    return bytes;
}

}  // namespace dahlo
