#pragma once
// Everything the receiver remembers between runs, as one plain value, and its INI file.

#include <cstdint>
#include <string>

#include "settings/ini_file.h"

namespace dahlo {

inline constexpr const char* kSettingsFile = "DAHLO.INI";  // in the working directory

// Section names. The main section and its "OnTop" key are also read on their own while the
// window is created, before the rest of the file.
inline constexpr const char* kMainSection = "Dahlo";
inline constexpr const char* kWindowSection = "Window";
inline constexpr const char* kFontSection = "RxFont";
inline constexpr const char* kBandSection = "Band";  // the band view's own
inline constexpr const char* kOnTopKey = "OnTop";

// Colours: low three bytes red, green, blue when the top byte is 0; 0x80000000 + an index of a
// system colour when the top bit is set.
inline constexpr std::int32_t kColorWindowText = -2147483640;  // system colour 8
inline constexpr std::int32_t kColorWindow = -2147483643;      // system colour 5

struct FontSettings {
    std::string name = "MS Sans Serif";
    int charset = 204;  // 0..255
    std::int32_t color = kColorWindowText;
    int height = -13;
    int pitch = 0;  // 0 default, 1 variable, 2 fixed
    int size = 10;  // points; decides over the height when both are given
    int style = 1;  // 1 bold, 2 italic, 4 underline, 8 strike-out
    std::int32_t bkgColor = kColorWindow;

    friend bool operator==(const FontSettings&, const FontSettings&) = default;
};

// -1: keep the design value.
struct WindowSettings {
    int left = -1;
    int top = -1;
    int height = -1;
    int width = -1;
    int spectrumHeight = -1;
    int textHeight = -1;

    friend bool operator==(const WindowSettings&, const WindowSettings&) = default;
};

// The band view: its place and outer size (-1: its own default), and the waterfall's floor and
// contrast (the range of levels from black to white), in dB below full scale and dB.
struct BandSettings {
    int left = -1;
    int top = -1;
    int width = -1;
    int height = -1;
    int floorDb = -95;    // -160..0
    int contrastDb = 70;  // 10..120
    int spotPort = 0;     // serve the band's spots on this port of 127.0.0.1 (0: no)
    std::int64_t dialHz = 0;  // the radio's dial, for the spots' frequencies

    friend bool operator==(const BandSettings&, const BandSettings&) = default;
};

struct Settings {
    bool autoThreshold = false;
    bool onTop = false;
    bool autoGoToMax = false;
    bool afc = true;
    int afcSpeed = 2;            // 0..99
    int centreBin = 185;         // 30..450
    double threshold = 0.1;      // stored as ten-thousandths
    int cwFilterTreshold = 175;  // > 0
    int filterWidth = 0;         // as stored; 0 Narrow, 1 Wide, other Very Wide
    int charset = 0;             // 0 English, 1 Russian, 2 user-defined
    std::string userCharsetFile;
    std::string exportIniFile = "loginput.ini";
    std::string exportIniSection = "QSO";
    WindowSettings window;
    FontSettings font;
    BandSettings band;

    friend bool operator==(const Settings&, const Settings&) = default;
};

// Reads every entry; a missing file, section or key gives the default above. Values are
// brought into the ranges the receiver needs:
//  - a value that does not begin with a decimal integer gives the entry's default;
//  - numbers beyond the 32-bit range saturate; colours take the low 32 bits;
//  - afcSpeed: the low 16 bits as a signed number, then clamped to 0..99;
//  - centreBin: clamped to 30..450;
//  - threshold: the value's low 32 bits as an unsigned number times 0.0001;
//  - cwFilterTreshold: 0 or less gives 175;
//  - charset: 1 and 2 as stored, anything else 0 (the window still falls back to English
//    when a user charset file cannot be loaded);
//  - filterWidth: as stored (the window treats every value but 0 and 1 as Very Wide);
//  - font charset and pitch: the low 8 bits; font style: bits 1, 2, 4 and 8 only.
Settings LoadSettings(const std::string& path);
Settings LoadSettings(const IniDocument& doc);

// Writes every entry in table order (main, window, font section) into the file, keeping all
// other lines, in one write (settings/user_file.h): on failure, a file the user may not write
// or one that is not a regular file included, `error` is "Unable to write to <path>" and the
// file is as it was. The threshold is stored as trunc(threshold * 10000), kept within
// 0..4294967295 so that it loads back.
bool SaveSettings(const std::string& path, const Settings& settings, std::string& error);
void StoreSettings(IniDocument& doc, const Settings& settings);

// The early read of the on-top state: section "Dahlo", key "OnTop", not 0 means on top.
bool ReadOnTop(const std::string& path);

}  // namespace dahlo
