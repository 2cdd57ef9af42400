#pragma once
// Code words to text: the built-in English and Russian tables, a user table read from a charset
// file, and the dotted form for code words a table does not list. Texts are Windows-1251 bytes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dahlo {

// 256 texts indexed by a code word of up to seven elements. A text beginning with "%" means the
// code word has no character; entry 0 is one blank (a word space), entry 1 is "%".
using CharsetTable = std::array<const char*, 256>;
const CharsetTable& EnglishCharsetTable();
const CharsetTable& RussianCharsetTable();

// A forward-only byte cursor over a charset file held in memory.
struct ByteStream {
    const unsigned char* pos;
    const unsigned char* end;
};

// Reads the next entry of a charset file. Returns -1 at the end of the file, 0 for an entry
// (`code` and the zero-terminated `text`, 1 to 15 bytes, are set), 1 for a line that is not
// an entry, 2 for a code of eight or more elements. Any byte <= 0x20 is blank.
int ReadCharsetLine(ByteStream& stream, int& code, char (&text)[16]);

enum CharsetId : int { kEnglish = 0, kRussian = 1, kUserDefined = 2 };

// The charset once the user picked a file from the menu and `LoadUserCharset` gave
// `loadResult`: user-defined when the file was read, otherwise the one in force.
int CharsetAfterUserFileChoice(int current, int loadResult);

// A charset file lists at most 254 entries; anything near this size is not one.
inline constexpr std::size_t kMaxCharsetFileBytes = 16u << 20;

// The longest text CodeToText can give: "{ " + 31 elements of two bytes + "%}".
inline constexpr std::size_t kMaxCodeText = 2 + 31 * 2 + 2;

class Charsets {
  public:
    Charsets();

    int Charset = kEnglish;       // 0 English, 1 Russian, 2 user-defined (others: English)
    std::string UserCharsetFile;  // last loaded from the menu or named by the settings

    // The text for a code word (0: a word space). Valid until the next call. Never allocates.
    std::string_view CodeToText(std::uint32_t code);

    // Reads the file into the user table. 0: read (whatever it held); -1: the file is empty,
    // nothing changed; -2: it is missing, not a regular file (a FIFO or device is never
    // opened), unreadable or larger than kMaxCharsetFileBytes, nothing changed, `error` is
    // "Cannot open file <path>". Does not change `Charset`.
    int LoadUserCharset(const std::string& path, std::string& error);
    // The same over bytes already in memory (0 or -1).
    int LoadUserCharsetBytes(std::string_view bytes);

    // The menu's user-defined item after the dialog returned `path`: loads it and, when read,
    // selects it and remembers the path. Returns the result of LoadUserCharset.
    int ChooseUserCharsetFile(const std::string& path, std::string& error);

    // The stored "Charset" and "UserCharsetFile" settings: the path is kept whatever happens;
    // 1 selects Russian, 2 the user file if it can be read, anything else English. A file that
    // cannot be opened leaves English and sets `error`. Returns the load result for 2, else 0.
    int ApplyCharsetSetting(int stored, const std::string& path, std::string& error);

    // Before the first successful load every entry reads "%" (entry 0 a blank).
    const std::array<std::array<char, 16>, 256>& UserCharsetTable() const { return user_; }

  private:
    void ResetUserTable();

    std::array<std::array<char, 16>, 256> user_{};
    std::array<char, kMaxCodeText + 1> scratch_{};
};

}  // namespace dahlo
