// The window's 1251 table against the C library's converter, and the way back.
#include "app/cp1251.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace dahlo {
namespace {

// The C library's idea of one byte, or 0 when it has none.
char16_t IconvCp1251(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    char in[1] = {static_cast<char>(byte)};
    char out[4] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof(out);
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1) || outLeft != 2) return 0;
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                 (static_cast<unsigned char>(out[1]) << 8));
}

TEST(Cp1251, EveryAssignedByteMatchesTheCLibrary) {
    if (IconvCp1251('A') != u'A') GTEST_SKIP() << "no CP1251 converter in this C library";
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98) continue;  // unassigned in the code page
        EXPECT_EQ(Cp1251ToUnicode(static_cast<unsigned char>(b)),
                  IconvCp1251(static_cast<unsigned char>(b)))
            << "byte 0x" << std::hex << b;
    }
}

TEST(Cp1251, RoundTripsEveryByteAndMarksForeignCharacters) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const QString text = Cp1251ToQString(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(QStringToCp1251(text), all);

    EXPECT_EQ(Cp1251ToQString("\xE5\xF2\xE0"), QString::fromUtf8("ета"));
    EXPECT_EQ(Cp1251ToQString("\xA8\xB8\xB9"), QString::fromUtf8("Ёё№"));
    EXPECT_EQ(QStringToCp1251(QString::fromUtf8("é中ю")), std::string("??\xFE"));
}

}  // namespace
}  // namespace dahlo
