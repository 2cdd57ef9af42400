#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "settings/settings.h"

namespace dahlo {
namespace {

constexpr int kDefaultCwFilterTreshold = 175;

// Main section keys, in the order they are read and written.
constexpr const char* kAutoThresholdKey = "AutoTreshold";
constexpr const char* kAutoGoToMaxKey = "AutoGoToMax";
constexpr const char* kAfcKey = "Afc";
constexpr const char* kAfcSpeedKey = "AfcSpeed";
constexpr const char* kCentreBinKey = "CentreBin";
constexpr const char* kThresholdKey = "DetectorThreshold";
constexpr const char* kCwFilterTresholdKey = "CwFilterTreshold";
constexpr const char* kFilterWidthKey = "FilterWidth";
constexpr const char* kCharsetKey = "Charset";
constexpr const char* kUserCharsetFileKey = "UserCharsetFile";
constexpr const char* kExportIniFileKey = "ExportIniFile";
constexpr const char* kExportIniSectionKey = "ExportIniSection";

std::int64_t ReadNumber(const IniDocument& doc, const char* section, const char* key,
                        std::int64_t fallback) {
    const auto text = doc.Get(section, key);
    if (!text) return fallback;
    return ScanProfileInt(*text).value_or(fallback);
}

int Saturate32(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

int ReadInt(const IniDocument& doc, const char* section, const char* key, int fallback) {
    return Saturate32(ReadNumber(doc, section, key, fallback));
}

bool ReadFlag(const IniDocument& doc, const char* section, const char* key, bool fallback) {
    return ReadNumber(doc, section, key, fallback ? 1 : 0) != 0;
}

std::uint32_t Low32(std::int64_t v) {
    return static_cast<std::uint32_t>(v);
}

std::int32_t ReadColor(const IniDocument& doc, const char* section, const char* key,
                       std::int32_t fallback) {
    // Low 32 bits, so that a colour written unsigned ("2147483656") reads as the same colour.
    return static_cast<std::int32_t>(Low32(ReadNumber(doc, section, key, fallback)));
}

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// The export file and section are written as they are, but reading drops the blanks around a
// value and one pair of quotes: a name with either (typed into a hand-edited file inside quotes)
// is written inside quotes, so that a save does not change it.
std::string QuotedWhereReadingWouldChangeIt(const std::string& s) {
    if (s.empty()) return s;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const bool quotes =
        s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
    return blank(s.front()) || blank(s.back()) || quotes ? Quoted(s) : s;
}

std::string ThresholdToStored(double threshold) {
    const double scaled = std::trunc(threshold * 10000.0);
    // Out of range values (or NaN) cannot come back through the unsigned load; keep the
    // nearest one that does.
    if (!(scaled > 0.0)) return "0";
    if (scaled >= 4294967295.0) return "4294967295";
    return std::to_string(static_cast<std::uint32_t>(scaled));
}

}  // namespace

Settings LoadSettings(const IniDocument& doc) {
    const Settings d;
    Settings s;
    const char* m = kMainSection;
    s.autoThreshold = ReadFlag(doc, m, kAutoThresholdKey, d.autoThreshold);
    s.onTop = ReadFlag(doc, m, kOnTopKey, d.onTop);
    s.autoGoToMax = ReadFlag(doc, m, kAutoGoToMaxKey, d.autoGoToMax);
    s.afc = ReadFlag(doc, m, kAfcKey, d.afc);
    // The up-down control holds a signed 16-bit position.
    const auto afcSpeed = static_cast<std::int16_t>(ReadNumber(doc, m, kAfcSpeedKey, d.afcSpeed));
    s.afcSpeed = std::clamp<int>(afcSpeed, 0, 99);
    s.centreBin = std::clamp(ReadInt(doc, m, kCentreBinKey, d.centreBin), 30, 450);
    s.threshold = Low32(ReadNumber(doc, m, kThresholdKey, 1000)) * 0.0001;
    s.cwFilterTreshold = ReadInt(doc, m, kCwFilterTresholdKey, d.cwFilterTreshold);
    if (s.cwFilterTreshold <= 0) s.cwFilterTreshold = kDefaultCwFilterTreshold;
    s.filterWidth = ReadInt(doc, m, kFilterWidthKey, d.filterWidth);
    s.charset = ReadInt(doc, m, kCharsetKey, d.charset);
    if (s.charset != 1 && s.charset != 2) s.charset = 0;
    s.userCharsetFile = doc.GetString(m, kUserCharsetFileKey, d.userCharsetFile);
    s.exportIniFile = doc.GetString(m, kExportIniFileKey, d.exportIniFile);
    s.exportIniSection = doc.GetString(m, kExportIniSectionKey, d.exportIniSection);

    const char* w = kWindowSection;
    s.window.left = ReadInt(doc, w, "Left", d.window.left);
    s.window.top = ReadInt(doc, w, "Top", d.window.top);
    s.window.height = ReadInt(doc, w, "Height", d.window.height);
    s.window.width = ReadInt(doc, w, "Width", d.window.width);
    s.window.spectrumHeight = ReadInt(doc, w, "SpectrumHeight", d.window.spectrumHeight);
    s.window.textHeight = ReadInt(doc, w, "RxHeight", d.window.textHeight);

    const char* f = kFontSection;
    s.font.name = doc.GetString(f, "Name", d.font.name);
    s.font.charset = static_cast<int>(Low32(ReadNumber(doc, f, "Charset", d.font.charset)) & 0xFF);
    s.font.color = ReadColor(doc, f, "Color", d.font.color);
    s.font.height = ReadInt(doc, f, "Height", d.font.height);
    s.font.pitch = static_cast<int>(Low32(ReadNumber(doc, f, "Pitch", d.font.pitch)) & 0xFF);
    s.font.size = ReadInt(doc, f, "Size", d.font.size);
    s.font.style = static_cast<int>(Low32(ReadNumber(doc, f, "Style", d.font.style)) & 0xF);
    s.font.bkgColor = ReadColor(doc, f, "BkgColor", d.font.bkgColor);

    const char* b = kBandSection;
    s.band.left = ReadInt(doc, b, "Left", d.band.left);
    s.band.top = ReadInt(doc, b, "Top", d.band.top);
    s.band.width = ReadInt(doc, b, "Width", d.band.width);
    s.band.height = ReadInt(doc, b, "Height", d.band.height);
    s.band.floorDb = std::clamp(ReadInt(doc, b, "Floor", d.band.floorDb), -160, 0);
    s.band.contrastDb = std::clamp(ReadInt(doc, b, "Contrast", d.band.contrastDb), 10, 120);
    s.band.spotPort = ReadInt(doc, b, "SpotPort", d.band.spotPort);
    if (s.band.spotPort < 0 || s.band.spotPort > 65535) s.band.spotPort = d.band.spotPort;
    s.band.dialHz = std::max<std::int64_t>(0, ReadNumber(doc, b, "DialHz", d.band.dialHz));
    return s;
}

Settings LoadSettings(const std::string& path) {
    IniDocument doc;
    ReadIniFile(path, doc);  // whatever could be read; the rest takes its defaults
    return LoadSettings(doc);
}

void StoreSettings(IniDocument& doc, const Settings& s) {
    const auto num = [](std::int64_t v) { return std::to_string(v); };
    const auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
    const char* m = kMainSection;
    doc.Set(m, kAutoThresholdKey, flag(s.autoThreshold));
    doc.Set(m, kOnTopKey, flag(s.onTop));
    doc.Set(m, kAutoGoToMaxKey, flag(s.autoGoToMax));
    doc.Set(m, kAfcKey, flag(s.afc));
    doc.Set(m, kAfcSpeedKey, num(s.afcSpeed));
    doc.Set(m, kCentreBinKey, num(s.centreBin));
    doc.Set(m, kThresholdKey, ThresholdToStored(s.threshold));
    doc.Set(m, kCwFilterTresholdKey, num(s.cwFilterTreshold));
    doc.Set(m, kFilterWidthKey, num(s.filterWidth));
    doc.Set(m, kCharsetKey, num(s.charset));
    doc.Set(m, kUserCharsetFileKey, Quoted(s.userCharsetFile));
    doc.Set(m, kExportIniFileKey, QuotedWhereReadingWouldChangeIt(s.exportIniFile));
    doc.Set(m, kExportIniSectionKey, QuotedWhereReadingWouldChangeIt(s.exportIniSection));

    const char* w = kWindowSection;
    doc.Set(w, "Left", num(s.window.left));
    doc.Set(w, "Top", num(s.window.top));
    doc.Set(w, "Height", num(s.window.height));
    doc.Set(w, "Width", num(s.window.width));
    doc.Set(w, "SpectrumHeight", num(s.window.spectrumHeight));
    doc.Set(w, "RxHeight", num(s.window.textHeight));

    const char* f = kFontSection;
    doc.Set(f, "Name", Quoted(s.font.name));
    doc.Set(f, "Charset", num(s.font.charset));
    doc.Set(f, "Color", num(s.font.color));
    doc.Set(f, "Height", num(s.font.height));
    doc.Set(f, "Pitch", num(s.font.pitch));
    doc.Set(f, "Size", num(s.font.size));
    doc.Set(f, "Style", num(s.font.style));
    doc.Set(f, "BkgColor", num(s.font.bkgColor));

    const char* b = kBandSection;
    doc.Set(b, "Left", num(s.band.left));
    doc.Set(b, "Top", num(s.band.top));
    doc.Set(b, "Width", num(s.band.width));
    doc.Set(b, "Height", num(s.band.height));
    doc.Set(b, "Floor", num(s.band.floorDb));
    doc.Set(b, "Contrast", num(s.band.contrastDb));
    doc.Set(b, "SpotPort", num(s.band.spotPort));
    doc.Set(b, "DialHz", num(s.band.dialHz));
}

bool SaveSettings(const std::string& path, const Settings& settings, std::string& error) {
    IniDocument doc;
    if (ReadIniFile(path, doc) == IniReadStatus::kFailed) {
        // Rewriting a file we could not read whole would lose the lines we did not see.
        error = UnableToWriteMessage(path);
        return false;
    }
    StoreSettings(doc, settings);
    return WriteUserFile(path, doc.Serialize(), error);
}

bool ReadOnTop(const std::string& path) {
    IniDocument doc;
    ReadIniFile(path, doc);
    return ReadFlag(doc, kMainSection, kOnTopKey, false);
}

}  // namespace dahlo
