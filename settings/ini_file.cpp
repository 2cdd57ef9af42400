#include "settings/ini_file.h"

#include <climits>

#include "settings/cp1251_case.h"

namespace dahlo {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Cp1251Lower(a[i]) != Cp1251Lower(b[i])) return false;
    }
    return true;
}

// The name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
    line = TrimBlanks(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    line = TrimBlanks(line);
    return !line.empty() && line.front() == ';';
}

// Splits "key = value" lines; nullopt for lines without '=' or with an empty key.
struct KeyLine {
    std::string_view key;
    std::string_view value;
};
std::optional<KeyLine> SplitKeyLine(std::string_view line) {
    if (IsComment(line) || HeaderName(line)) return std::nullopt;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view key = TrimBlanks(line.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return KeyLine{key, line.substr(eq + 1)};
}

std::string CleanValue(std::string_view raw) {
    std::string_view v = TrimBlanks(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    if (v.size() > kMaxProfileValue) v = v.substr(0, kMaxProfileValue);
    return std::string(v);
}

bool IsEmptyLine(std::string_view line) {
    return TrimBlanks(line).empty();
}

}  // namespace

IniDocument::IniDocument(std::string_view text) {
    bool first = true;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        Line line{};
        if (nl == std::string_view::npos) {
            line.text = std::string(text);
            text = {};
        } else {
            std::string_view body = text.substr(0, nl);
            if (!body.empty() && body.back() == '\r') {
                body.remove_suffix(1);
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = std::string(body);
            text.remove_prefix(nl + 1);
            if (first) newline_ = line.eol;
            first = false;
        }
        line.header = HeaderName(line.text).has_value();
        lines_.push_back(std::move(line));
    }
}

std::size_t IniDocument::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (!lines_[i].header) continue;
        if (SameName(*HeaderName(lines_[i].text), section)) return i;
    }
    return lines_.size();
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && !lines_[i].header) ++i;
    return i;
}

std::size_t IniDocument::FindKey(std::size_t header, std::size_t end, std::string_view key) const {
    for (std::size_t i = header + 1; i < end; ++i) {
        const auto kv = SplitKeyLine(lines_[i].text);
        if (kv && SameName(kv->key, key)) return i;
    }
    return end;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    const std::size_t header = FindSection(section);
    if (header == lines_.size()) return std::nullopt;
    const std::size_t end = SectionEnd(header);
    const std::size_t at = FindKey(header, end, key);
    if (at == end) return std::nullopt;
    return CleanValue(SplitKeyLine(lines_[at].text)->value);
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   std::string_view fallback) const {
    auto value = Get(section, key);
    return value ? std::move(*value) : std::string(fallback);
}

void IniDocument::InsertLine(std::size_t at, std::string text) {
    const bool header = HeaderName(text).has_value();
    // The line before the new one may be the file's last line without a line end.
    if (at > 0 && lines_[at - 1].eol.empty()) lines_[at - 1].eol = newline_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                  Line{std::move(text), newline_, header});
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string entry;
    entry.reserve(key.size() + 1 + value.size());
    entry.append(key).push_back('=');
    for (char c : value) entry.push_back((c == '\r' || c == '\n') ? ' ' : c);

    std::size_t header = FindSection(section);
    if (header == lines_.size()) {
        if (!lines_.empty() && !IsEmptyLine(lines_.back().text)) InsertLine(lines_.size(), "");
        std::string header_line;
        header_line.reserve(section.size() + 2);
        header_line.append("[").append(section).append("]");
        InsertLine(lines_.size(), std::move(header_line));
        InsertLine(lines_.size(), std::move(entry));
        return;
    }
    const std::size_t end = SectionEnd(header);
    const std::size_t at = FindKey(header, end, key);
    if (at != end) {
        lines_[at].text = std::move(entry);
        lines_[at].header = HeaderName(lines_[at].text).has_value();
        return;
    }
    // After the section's last non-empty line, so blank separators stay before the next header.
    std::size_t insert = end;
    while (insert > header + 1 && IsEmptyLine(lines_[insert - 1].text)) --insert;
    InsertLine(insert, std::move(entry));
}

std::string IniDocument::Serialize() const {
    std::string out;
    std::size_t size = 0;
    for (const Line& l : lines_) size += l.text.size() + l.eol.size();
    out.reserve(size);
    for (const Line& l : lines_) out.append(l.text).append(l.eol);
    return out;
}

IniReadStatus ReadIniFile(const std::string& path, IniDocument& doc) {
    std::string data;
    const IniReadStatus status = ReadRegularFile(path, kMaxProfileFileBytes, data);
    doc = IniDocument(data);
    return status;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback) {
    IniDocument doc;
    ReadIniFile(path, doc);
    return doc.GetString(section, key, fallback);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, std::string& error) {
    IniDocument doc;
    if (ReadIniFile(path, doc) == IniReadStatus::kFailed) {
        // Rewriting a file we could not read whole would lose its other entries.
        error = UnableToWriteMessage(path);
        return false;
    }
    doc.Set(section, key, value);
    return WriteUserFile(path, doc.Serialize(), error);
}

std::optional<std::int64_t> ScanProfileInt(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
        negative = value[i] == '-';
        ++i;
    }
    if (i >= value.size() || value[i] < '0' || value[i] > '9') return std::nullopt;
    // Accumulate as a negative number so that the lowest value fits as well.
    std::int64_t acc = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        const int digit = value[i] - '0';
        if (acc < (INT64_MIN + digit) / 10) {
            acc = INT64_MIN;
        } else {
            acc = acc * 10 - digit;
        }
    }
    if (negative) return acc;
    return acc == INT64_MIN ? INT64_MAX : -acc;
}

}  // namespace dahlo
