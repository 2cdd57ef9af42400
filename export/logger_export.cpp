#include "export/logger_export.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "settings/ini_file.h"

namespace dahlo {

std::string_view TrimCaption(std::string_view selected) {
    const auto control = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!selected.empty() && control(selected.front())) selected.remove_prefix(1);
    while (!selected.empty() && control(selected.back())) selected.remove_suffix(1);
    return selected;
}

std::string DefaultConfigDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0') return {};
    return (std::filesystem::path(home) / ".config").string();
}

std::string ExportPathFor(std::string_view exportIniFile, std::string_view configDir) {
    if (exportIniFile.find('/') != std::string_view::npos || configDir.empty()) {
        return std::string(exportIniFile);
    }
    return (std::filesystem::path(configDir) / exportIniFile).string();
}

LoggerExport::LoggerExport(Broadcaster& broadcaster, std::string configDir)
    : broadcaster_(broadcaster), configDir_(std::move(configDir)) {}

void LoggerExport::SetExportFile(std::string exportIniFile, std::string exportIniSection) {
    exportIniFile_ = std::move(exportIniFile);
    exportIniSection_ = std::move(exportIniSection);
}

void LoggerExport::RegisterMessages() {
    keyvoxMessage_ = broadcaster_.RegisterMessage(kKeyvoxMessageName);
}

bool LoggerExport::ExportField(std::string_view key, std::string_view text, std::uint32_t flag,
                               std::string& error) {
    const std::string path = ExportPath();
    if (exportIniFile_.find('/') == std::string::npos && !configDir_.empty()) {
        std::error_code ec;  // a failure shows up as the write's failure
        std::filesystem::create_directories(configDir_, ec);
    }
    // An INI value is one line: a selection across lines is exported with blanks instead.
    std::string value;
    value.reserve(text.size() + 2);
    value.push_back('"');
    for (char c : text) value.push_back((c == '\r' || c == '\n') ? ' ' : c);
    value.push_back('"');
    if (!WriteProfileString(path, exportIniSection_, key, value, error)) return false;

    if (keyvoxMessage_ == 0) RegisterMessages();
    broadcaster_.Broadcast(keyvoxMessage_, 0x83u | exportSequence_,
                           static_cast<std::int32_t>(flag));
    exportSequence_ = (exportSequence_ + 0x100u) & 0x7F00u;
    return true;
}

}  // namespace dahlo
