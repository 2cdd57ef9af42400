#pragma once
// Letter case in the Windows-1251 code page: ASCII, the Cyrillic block and the other Cyrillic
// letters above 0x80. Bytes without a case partner map to themselves.

#include <array>

namespace dahlo {

namespace cp1251_case_detail {

struct CasePair {
    unsigned char upper;
    unsigned char lower;
};

// Ђђ Ѓѓ Љљ Њњ Ќќ Ћћ Џџ Ўў Јј Ґґ Ёё Єє Її Іі Ѕѕ
inline constexpr CasePair kHighPairs[] = {
    {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
    {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
    {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
};

constexpr std::array<unsigned char, 256> BuildLowerTable() {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
    for (int b = 'A'; b <= 'Z'; ++b) table[b] = static_cast<unsigned char>(b + 0x20);
    for (int b = 0xC0; b <= 0xDF; ++b) table[b] = static_cast<unsigned char>(b + 0x20);  // А..Я
    for (const CasePair& p : kHighPairs) table[p.upper] = p.lower;
    return table;
}

inline constexpr std::array<unsigned char, 256> kLower = BuildLowerTable();

}  // namespace cp1251_case_detail

// The lower-case form of a Windows-1251 byte.
constexpr char Cp1251Lower(char c) {
    return static_cast<char>(cp1251_case_detail::kLower[static_cast<unsigned char>(c)]);
}

}  // namespace dahlo
