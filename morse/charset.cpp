#include "morse/charset.h"

#include <cstring>
#include <string>
#include <utility>

#include "settings/user_file.h"

namespace dahlo {

namespace {

struct Entry {
    int code;
    const char* english;
    const char* russian;
};

// Letters lower case, procedure signals upper case, Cyrillic as Windows-1251 bytes. The five
// four- and five-element words with no Latin letter carry the Russian letters in both tables.
constexpr Entry kBuiltIn[] = {
    {0, " ", " "},        {2, "e", "\xE5"},     {3, "t", "\xF2"},     {4, "i", "\xE8"},
    {5, "a", "\xE0"},     {6, "n", "\xED"},     {7, "m", "\xEC"},     {8, "s", "\xF1"},
    {9, "u", "\xF3"},     {10, "r", "\xF0"},    {11, "w", "\xE2"},    {12, "d", "\xE4"},
    {13, "k", "\xEA"},    {14, "g", "\xE3"},    {15, "o", "\xEE"},    {16, "h", "\xF5"},
    {17, "v", "\xE6"},    {18, "f", "\xF4"},    {19, "\xFE", "\xFE"}, {20, "l", "\xEB"},
    {21, "\xFF", "\xFF"}, {22, "p", "\xEF"},    {23, "j", "\xE9"},    {24, "b", "\xE1"},
    {25, "x", "\xFC"},    {26, "c", "\xF6"},    {27, "y", "\xFB"},    {28, "z", "\xE7"},
    {29, "q", "\xF9"},    {30, "\xF7", "\xF7"}, {31, "\xF8", "\xF8"}, {32, "5", "5"},
    {33, "4", "4"},       {35, "3", "3"},       {36, "\xFD", "\xFD"}, {39, "2", "2"},
    {40, "AS", "AS"},     {42, "AR", "AR"},     {47, "1", "1"},       {48, "6", "6"},
    {49, "=", "="},       {50, "/", "/"},       {53, "KA", "KA"},     {54, "KN", "KN"},
    {56, "7", "7"},       {60, "8", "8"},       {62, "9", "9"},       {63, "0", "0"},
    {64, ".", "."},       {69, "SK", "SK"},     {76, "?", "?"},       {77, "_", "_"},
    {82, "\"", "\""},     {85, ".", "."},       {94, "\"", "\""},     {97, "-", "-"},
    {106, ";", ";"},      {109, ")", ")"},      {115, ",", ","},      {120, ":", ":"},
    {125, "^", "^"},      {128, "#", "#"},      {197, "BK", "BK"},
};

constexpr CharsetTable BuildTable(bool russian) {
    CharsetTable table{};
    for (auto& text : table) text = "%";
    for (const Entry& e : kBuiltIn) table[e.code] = russian ? e.russian : e.english;
    return table;
}

constexpr CharsetTable kEnglishTable = BuildTable(false);
constexpr CharsetTable kRussianTable = BuildTable(true);

constexpr bool IsBlank(unsigned char c) {
    return c <= 0x20;
}
constexpr unsigned char kLineFeed = 0x0A;

// Consumes bytes up to and including the next LF. False when the file ended first.
bool SkipPastLineEnd(ByteStream& s) {
    while (s.pos < s.end) {
        if (*s.pos++ == kLineFeed) return true;
    }
    return false;
}

}  // namespace

const CharsetTable& EnglishCharsetTable() {
    return kEnglishTable;
}
const CharsetTable& RussianCharsetTable() {
    return kRussianTable;
}

int ReadCharsetLine(ByteStream& stream, int& code, char (&text)[16]) {
    ByteStream& s = stream;
    while (s.pos < s.end && IsBlank(*s.pos)) ++s.pos;
    if (s.pos >= s.end) return -1;

    if (*s.pos != '.' && *s.pos != '-') return SkipPastLineEnd(s) ? 1 : -1;

    int built = 1;
    while (s.pos < s.end && (*s.pos == '.' || *s.pos == '-')) {
        built = (built << 1) | (*s.pos == '-' ? 1 : 0);
        ++s.pos;
        if (built >= 256) return SkipPastLineEnd(s) ? 2 : -1;
    }
    if (s.pos >= s.end) return -1;

    // The separator may run over line ends: a code alone on its line takes the next word.
    while (s.pos < s.end && IsBlank(*s.pos)) ++s.pos;
    if (s.pos >= s.end) return -1;

    std::size_t length = 0;
    unsigned char ender = 0;
    bool endedByByte = false;
    while (length < 15) {
        if (s.pos >= s.end) break;
        const unsigned char c = *s.pos++;
        if (IsBlank(c)) {
            ender = c;
            endedByByte = true;
            break;
        }
        text[length++] = static_cast<char>(c);
    }
    text[length] = '\0';
    code = built;

    if (!(endedByByte && ender == kLineFeed)) SkipPastLineEnd(s);
    return 0;
}

int CharsetAfterUserFileChoice(int current, int loadResult) {
    return loadResult == 0 ? kUserDefined : current;
}

Charsets::Charsets() {
    ResetUserTable();
}

void Charsets::ResetUserTable() {
    for (auto& entry : user_) {
        entry.fill('\0');
        entry[0] = '%';
    }
    user_[0][0] = ' ';
}

std::string_view Charsets::CodeToText(std::uint32_t code) {
    if (code < 256) {
        const char* text = nullptr;
        if (Charset == kRussian) {
            text = kRussianTable[code];
        } else if (Charset == kUserDefined) {
            text = user_[code].data();
        } else {
            text = kEnglishTable[code];
        }
        if (text[0] != '%') return text;
    }
    if (code == 429) return "CQ";

    // Dotted form of an unlisted or overflowed word; a word with no dash reads "#".
    std::size_t n = 0;
    scratch_[n++] = '{';
    scratch_[n++] = ' ';
    bool anyDash = false;
    int marker = 31;
    while (marker >= 0 && ((code >> marker) & 1u) == 0) --marker;
    for (int bit = marker - 1; bit >= 0; --bit) {
        const bool dash = ((code >> bit) & 1u) != 0;
        anyDash = anyDash || dash;
        scratch_[n++] = dash ? '-' : '.';
        scratch_[n++] = ' ';
    }
    if ((code & 0x80000000u) != 0) scratch_[n++] = '%';
    scratch_[n++] = '}';
    if (!anyDash) return "#";
    return std::string_view(scratch_.data(), n);
}

int Charsets::LoadUserCharsetBytes(std::string_view bytes) {
    if (bytes.empty()) return -1;
    ResetUserTable();
    ByteStream stream{reinterpret_cast<const unsigned char*>(bytes.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()};
    int code = 0;
    char text[16] = {};
    for (;;) {
        const int r = ReadCharsetLine(stream, code, text);
        if (r == -1) break;
        if (r != 0 || code < 2 || code > 255) continue;
        auto& entry = user_[code];  // a later entry for the same word replaces an earlier one
        entry.fill('\0');
        std::memcpy(entry.data(), text, std::strlen(text));
    }
    return 0;
}

int Charsets::LoadUserCharset(const std::string& path, std::string& error) {
    std::string bytes;
    if (ReadRegularFile(path, kMaxCharsetFileBytes, bytes) != FileReadStatus::kOk) {
        error = "Cannot open file " + path;
        return -2;
    }
    return LoadUserCharsetBytes(bytes);
}

int Charsets::ChooseUserCharsetFile(const std::string& path, std::string& error) {
    const int result = LoadUserCharset(path, error);
    Charset = CharsetAfterUserFileChoice(Charset, result);
    if (result == 0) UserCharsetFile = path;
    return result;
}

int Charsets::ApplyCharsetSetting(int stored, const std::string& path, std::string& error) {
    UserCharsetFile = path;
    Charset = kEnglish;
    if (stored == kRussian) {
        Charset = kRussian;
        return 0;
    }
    if (stored != kUserDefined) return 0;
    const int result = LoadUserCharset(path, error);
    if (result == 0) Charset = kUserDefined;
    return result;
}

}  // namespace dahlo
