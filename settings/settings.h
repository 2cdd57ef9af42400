#pragma once
// Everything the receiver remembers between runs, as one plain value, and its INI file.

#include <cstdint>
#include <string>

namespace dahlo {

inline constexpr const char* kSettingsFile = "DAHLO.INI";  // in the working directory

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
};

// -1: keep the design value.
struct WindowSettings {
    int left = -1;
    int top = -1;
    int height = -1;
    int width = -1;
    int spectrumHeight = -1;
    int textHeight = -1;
};

struct Settings {
    bool autoThreshold = false;
    bool onTop = false;
    bool autoGoToMax = false;
    bool afc = true;
    int afcSpeed = 2;          // 0..99
    int centreBin = 185;       // 30..450
    double threshold = 0.1;    // stored as ten-thousandths
    int cwFilterTreshold = 175;  // > 0
    int filterWidth = 0;       // as stored; 0 Narrow, 1 Wide, other Very Wide
    int charset = 0;           // 0 English, 1 Russian, 2 user-defined
    std::string userCharsetFile;
    std::string exportIniFile = "loginput.ini";
    std::string exportIniSection = "QSO";
    WindowSettings window;
    FontSettings font;
};

}  // namespace dahlo
