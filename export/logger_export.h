#pragma once
// Hands a selected word to a logging program: the word goes into the logger's input file (an
// INI file) under the field's key, then "Keyvox_Message" tells listeners to pick it up.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "export/broadcaster.h"

namespace dahlo {

struct ExportFieldInfo {
    const char* caption;  // popup menu text
    const char* key;      // key written in the export file
    std::uint32_t flag;   // long parameter of the broadcast
};

// The log fields in popup-menu order.
inline constexpr std::array<ExportFieldInfo, 7> kExportFields = {{
    {"Call", "Call", 0x4},
    {"Number", "NumberRcvd", 0x100000},
    {"RST", "RprtRcvd", 0x40},
    {"Name", "Name", 0x80},
    {"QTH", "QTH", 0x100},
    {"QSL via", "QSLVia", 0x200},
    {"Remarks", "Note", 0x400},
}};

// The selected text as the popup shows and exports it: every byte 0..32 (blanks, tabs, line
// breaks, other controls) removed from both ends; inner bytes stay.
std::string_view TrimCaption(std::string_view selected);

// Where bare export file names live: $XDG_CONFIG_HOME when it is an absolute path, else
// $HOME/.config (home from the password database when HOME is unset); empty if neither exists.
std::string DefaultConfigDir();

// A name with a directory part is used as given; a bare name is placed in `configDir`.
std::string ExportPathFor(std::string_view exportIniFile, std::string_view configDir);

class LoggerExport {
  public:
    explicit LoggerExport(Broadcaster& broadcaster, std::string configDir = DefaultConfigDir());

    // File and section from the settings.
    void SetExportFile(std::string exportIniFile, std::string exportIniSection);

    // Registers "Keyvox_Message"; until then the id is 0 and the first export registers it.
    void RegisterMessages();
    std::uint32_t KeyvoxMessage() const { return keyvoxMessage_; }

    // Writes key = "text" (inner CR and LF as blanks) into the export file, creating the
    // configuration directory for a bare name if needed, then broadcasts
    // (0x83 | ExportSequence, flag) and advances the sequence by 0x100 within 0..0x7F00.
    // A failed write sets `error` to "Unable to write to <file>" (the file actually written,
    // after placing a bare name), sends nothing and leaves the sequence as it was.
    bool ExportField(std::string_view key, std::string_view text, std::uint32_t flag,
                     std::string& error);

    std::uint32_t ExportSequence() const { return exportSequence_; }
    std::string ExportPath() const { return ExportPathFor(exportIniFile_, configDir_); }

  private:
    Broadcaster& broadcaster_;
    std::string configDir_;
    std::string exportIniFile_ = "loginput.ini";
    std::string exportIniSection_ = "QSO";
    std::uint32_t keyvoxMessage_ = 0;
    std::uint32_t exportSequence_ = 0;
};

}  // namespace dahlo
