#pragma once
// Code words to text: the built-in English and Russian tables, a user table read from a charset
// file, and the dotted form for code words a table does not list. Texts are Windows-1251 bytes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dahlo {

using CharsetTable = std::array<const char*, 256>;
const CharsetTable& EnglishCharsetTable();
const CharsetTable& RussianCharsetTable();

// A forward-only byte cursor over a charset file held in memory.
struct ByteStream {
    const unsigned char* pos;
    const unsigned char* end;
};

// Reads the next entry of a charset file. Returns -1 at the end of the file, 0 for an entry
// (`code` and the zero-terminated `text`, at most 15 bytes, are set), 1 for a line that is not
// an entry, 2 for a code of eight or more elements.
int ReadCharsetLine(ByteStream& stream, int& code, char (&text)[16]);

enum CharsetId : int { kEnglish = 0, kRussian = 1, kUserDefined = 2 };

class Charsets {
public:
    Charsets();

    int Charset = kEnglish;       // 0 English, 1 Russian, 2 user-defined
    std::string UserCharsetFile;  // last loaded from the menu or named by the settings

    // The text for a code word (0: a word space). Valid until the next call.
    std::string_view CodeToText(std::uint32_t code);

    // Reads the file into the user table. 0: read (whatever it held); -1: the file is empty,
    // nothing changed; -2: it cannot be opened, nothing changed, `error` is
    // "Cannot open file <path>". Does not change `Charset`.
    int LoadUserCharset(const std::string& path, std::string& error);
    // The same over bytes already in memory (0 or -1).
    int LoadUserCharsetBytes(std::string_view bytes);

    const std::array<std::array<char, 16>, 256>& UserCharsetTable() const { return user_; }

private:
    std::array<std::array<char, 16>, 256> user_{};
    std::string scratch_;
};

}  // namespace dahlo
