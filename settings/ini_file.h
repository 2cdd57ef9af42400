#pragma once
// INI profile files, read and written one key at a time:
//  - section and key names match without regard to letter case, for every letter of the
//    Windows-1251 code page;
//  - blanks around a value are dropped, then one pair of enclosing double or single quotes;
//  - a value is read up to kMaxProfileValue characters;
//  - a write replaces the key's line, or adds the key (and, if needed, its section), and leaves
//    every other line, comment and line ending as it was; LF and CRLF files both work;
//  - files are read and written as in settings/user_file.h: only regular files are read, a
//    failed write leaves the previous file as it was.
// Lines starting with ';' are comments. The first section of a name and the first key of a
// name in it count; later duplicates are kept but not used.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/user_file.h"

namespace dahlo {

inline constexpr std::size_t kMaxProfileValue = 2047;

// Files larger than this are read only up to it and never rewritten (a write fails): a runaway
// file must neither exhaust memory nor be truncated.
inline constexpr std::size_t kMaxProfileFileBytes = 64u << 20;

class IniDocument {
  public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    // The value of `key` in `section`, unquoted and cut to kMaxProfileValue; nullopt when the
    // section or the key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;

    // Replaces or adds the entry. Line breaks inside `value` become blanks so that a value can
    // never add lines of its own.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Serialize() const;

  private:
    struct Line {
        std::string text;
        std::string eol;  // "", "\n" or "\r\n"
        bool header;      // a "[section]" line
    };
    // Index of the first header line of `section`, or lines_.size().
    std::size_t FindSection(std::string_view section) const;
    // First line after the section's header that belongs to another section, or lines_.size().
    std::size_t SectionEnd(std::size_t header) const;
    std::size_t FindKey(std::size_t header, std::size_t end, std::string_view key) const;
    void InsertLine(std::size_t at, std::string text);

    std::vector<Line> lines_;
    std::string newline_ = "\n";  // of the file's first line; new lines use it
};

using IniReadStatus = FileReadStatus;

// Reads `path` into `doc`. kMissing: no such file (an empty document). kFailed: the file
// exists but is not a regular file or cannot be read whole (`doc` holds what could be read).
IniReadStatus ReadIniFile(const std::string& path, IniDocument& doc);

// One-key helpers on a file; a missing file reads as empty.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback);
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string& error);

// Scans a value as a signed decimal integer: leading blanks skipped, an optional sign, then
// digits up to the first non-digit ("12abc" is 12). nullopt when no digit follows; values past
// the 64-bit range saturate.
std::optional<std::int64_t> ScanProfileInt(std::string_view value);

}  // namespace dahlo
