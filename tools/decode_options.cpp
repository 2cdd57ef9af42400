#include "tools/decode_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "dsp/main_filter.h"

namespace dahlo {

namespace {

constexpr std::array<int, 9> kMenuSpeeds = {100, 200, 300, 500, 1000, 1500, 2500, 3000, 5000};

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool ParseInteger(const std::string& text, int& value) {
    double d = 0.0;
    if (!ParseNumber(text, d) || d != std::floor(d) || std::fabs(d) > 1e9) return false;
    value = static_cast<int>(d);
    return true;
}

std::optional<bool> ParseOnOff(const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    return std::nullopt;
}

}  // namespace

int PitchToBin(double hz) {
    return static_cast<int>(std::lround(hz / kHzPerBin));
}

std::optional<std::string> ParseDecodeOptions(const std::vector<std::string>& args,
                                              DecodeOptions& options) {
    bool haveInput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        auto bad = [&](const std::string& why) {
            return std::optional<std::string>("option " + arg + ": " + why);
        };
        auto flagOnly = [&]() { return inlineValue ? bad("takes no value") : std::nullopt; };

        if (arg == "--help" || arg == "-h") {
            if (auto e = flagOnly()) return e;
            options.help = true;
        } else if (arg == "--version") {
            if (auto e = flagOnly()) return e;
            options.version = true;
        } else if (arg == "--cold-start") {
            if (auto e = flagOnly()) return e;
            options.coldStart = true;
        } else if (arg == "--verbose" || arg == "-v") {
            if (auto e = flagOnly()) return e;
            options.verbose = true;
        } else if (arg == "--events") {
            if (auto e = flagOnly()) return e;
            options.events = true;
        } else if (arg == "--live") {
            if (auto e = flagOnly()) return e;
            if (haveInput) return bad("give either a file, '-' or --live, once");
            options.input = InputKind::kLive;
            haveInput = true;
        } else if (arg == "--width" || arg == "--pitch" || arg == "--burst" ||
                   arg == "--threshold" || arg == "--afc" || arg == "--afc-speed" ||
                   arg == "--auto-gotomax" || arg == "--charset" || arg == "--settings" ||
                   arg == "--encoding") {
            if (!takeValue()) return bad("needs a value");
            if (arg == "--width") {
                if (value == "narrow") {
                    options.filterWidth = kNarrow;
                } else if (value == "wide") {
                    options.filterWidth = kWide;
                } else if (value == "very-wide") {
                    options.filterWidth = kVeryWide;
                } else {
                    return bad("'" + value + "' is not narrow, wide or very-wide");
                }
            } else if (arg == "--pitch") {
                double hz = 0.0;
                if (!ParseNumber(value, hz)) return bad("'" + value + "' is not a frequency in Hz");
                const int bin = PitchToBin(hz);
                if (bin < kFirstBin || bin > kLastBin) {
                    return bad("'" + value + "' Hz is outside the tunable range 162..2422 Hz");
                }
                options.centreBin = bin;
            } else if (arg == "--burst") {
                int lpm = 0;
                if (!ParseInteger(value, lpm) ||
                    std::find(kMenuSpeeds.begin(), kMenuSpeeds.end(), lpm) == kMenuSpeeds.end()) {
                    return bad("'" + value +
                               "' is not one of 100, 200, 300, 500, 1000, 1500, 2500, 3000, 5000");
                }
                options.burstLpm = lpm;
            } else if (arg == "--threshold") {
                if (value == "auto") {
                    options.autoThreshold = true;
                } else {
                    double level = 0.0;
                    if (!ParseNumber(value, level) || level <= 0.0 || level > 2.0) {
                        return bad("'" + value + "' is not 'auto' or a level above 0 and up to 2");
                    }
                    options.threshold = level;
                    options.autoThreshold = false;
                }
            } else if (arg == "--afc" || arg == "--auto-gotomax") {
                const auto on = ParseOnOff(value);
                if (!on) return bad("'" + value + "' is not on or off");
                (arg == "--afc" ? options.afc : options.autoGoToMax) = *on;
            } else if (arg == "--afc-speed") {
                int speed = 0;
                if (!ParseInteger(value, speed) || speed < 0 || speed > 99) {
                    return bad("'" + value + "' is not a whole number from 0 to 99");
                }
                options.afcSpeed = speed;
            } else if (arg == "--charset") {
                if (value == "english") {
                    options.charset = 0;
                } else if (value == "russian") {
                    options.charset = 1;
                } else if (value.empty()) {
                    return bad("needs english, russian or a charset file");
                } else {
                    options.charset = 2;
                    options.charsetFile = value;
                }
            } else if (arg == "--settings") {
                if (value.empty()) return bad("needs a settings file");
                options.settingsFile = value;
            } else if (arg == "--encoding") {
                if (value == "utf-8" || value == "utf8") {
                    options.cp1251 = false;
                } else if (value == "cp1251" || value == "windows-1251") {
                    options.cp1251 = true;
                } else {
                    return bad("'" + value + "' is not utf-8 or cp1251");
                }
            }
        } else if (arg == "-" || arg.empty() || arg[0] != '-') {
            if (haveInput) {
                return std::optional<std::string>("'" + arg +
                                                  "': give either a file, '-' or --live, once");
            }
            if (arg.empty()) return std::optional<std::string>("an empty file name");
            options.input = arg == "-" ? InputKind::kStdin : InputKind::kFile;
            options.path = arg;
            haveInput = true;
        } else {
            return std::optional<std::string>("unknown option " + arg + " (see --help)");
        }
    }
    if (!haveInput && !options.help && !options.version) {
        return std::optional<std::string>(
            "no input: give a sound file, '-' for standard input, or --live");
    }
    return std::nullopt;
}

std::string DecodeUsage() {
    return R"(Usage: dahlo-decode [OPTIONS] FILE|-|--live

Decodes Morse code (CW) from a recording to text on standard output.

Input:
  FILE                   any format libsndfile reads (WAV, FLAC, OGG, MP3, ...), any rate and
                         channel count; mixed to mono and resampled to 11025 Hz
  -                      raw signed 16-bit little-endian mono at 11025 Hz on standard input
  --live                 the default sound input until Ctrl-C

Receiver controls (preset from a look at the input, a stream's through a 10 s look-ahead;
options win):
  --width narrow|wide|very-wide   main filter width (preset: narrow)
  --pitch HZ             centre frequency, 162..2422 Hz, taken to the nearest bin
  --burst LPM            burst filter: 100 200 300 500 1000 1500 2500 3000 5000
  --threshold LEVEL|auto detector threshold (envelope level, 0.1 in the window) or automatic
  --afc on|off           automatic frequency control (window: on)
  --afc-speed N          AFC search half-width in bins, 0..99 (window: 2)
  --auto-gotomax on|off  jump to the strongest signal after a silence (window: off)
  --settings FILE        take the controls and charset from a settings file (DAHLO.INI)
  --cold-start           no look at the input and a cold decoder start: the window's defaults
                         and the text the window shows for the same samples

Output:
  --charset english|russian|FILE  character set (FILE: a user charset file)
  --encoding utf-8|cp1251         text encoding (default utf-8)
  --events               JSON lines: every character and word space with its time (s),
                         centre frequency (Hz) and, when shown, the speed
  -v, --verbose          the controls chosen, as options, on standard error
  --help, --version

Exit status: 0 the whole input decoded; 1 a damaged file: the text before the damage, then one
line on standard error; 2 a bad option or input (one line on standard error).
)";
}

}  // namespace dahlo
