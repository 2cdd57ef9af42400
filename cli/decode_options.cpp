#include "cli/decode_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "dsp/main_filter.h"
#include "iq/iq_source.h"

namespace dahlo {

namespace {

constexpr int kMostThreads = 64;  // more than any skimmer host has cores
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

// --spot-port, --listen, --rig, --rig-model, --rig-device: the reason when `value` is bad.
std::optional<std::string> ParseServiceOption(const std::string& arg, const std::string& value,
                                              DecodeOptions& options) {
    int number = 0;
    if (arg == "--spot-port") {
        if (!ParseInteger(value, number) || number < 0 || number > 65535) {
            return "'" + value + "' is not a TCP port (1..65535, or 0 for any free port)";
        }
        options.spotPort = number;
    } else if (arg == "--listen") {
        if (value.empty()) return std::string("needs an IPv4 or IPv6 address");
        options.listenAddress = value;
    } else if (arg == "--rig") {
        const auto colon = value.rfind(':');
        if (colon == std::string::npos || colon == 0 ||
            !ParseInteger(value.substr(colon + 1), number) || number < 1 || number > 65535) {
            return "'" + value + "' is not HOST:PORT of a rigctld (e.g. localhost:4532)";
        }
        options.rigAddress = value;
    } else if (arg == "--known-calls") {
        if (value.empty()) return std::string("needs a file of callsigns (MASTER.SCP)");
        options.knownCallsFile = value;
    } else if (arg == "--respot-minutes") {
        double minutes = 0.0;
        if (!ParseNumber(value, minutes) || minutes < 0.0 || minutes > 1440.0) {
            return "'" + value + "' is not a number of minutes (0..1440)";
        }
        options.respotMinutes = minutes;
    } else if (arg == "--rig-model") {
        if (!ParseInteger(value, number) || number < 1) {
            return "'" + value + "' is not a Hamlib rig model number (rigctl --list)";
        }
        options.rigModel = number;
    } else {
        if (value.empty()) return std::string("needs the radio's device, e.g. /dev/ttyUSB0");
        options.rigDevice = value;
    }
    return std::nullopt;
}

// --iq-format, --rate, --centre, --gain, --sdr-buffer, --threads: the reason when `value` is bad.
std::optional<std::string> ParseIqOption(const std::string& arg, const std::string& value,
                                         DecodeOptions& options) {
    double number = 0.0;
    if (arg == "--iq-format") {
        if (!iq::ParseIqFormat(value)) {
            return "'" + value + "' is not a sample format (cu8, ci8, cs16, cu16_le, ci32_le, cf32)";
        }
        options.iqFormat = value;
    } else if (arg == "--rate") {
        if (!ParseNumber(value, number) || number < iq::kMinRateHz || number > iq::kMaxRateHz) {
            return "'" + value + "' is not a sample rate of 8000..768000 Hz";
        }
        options.rateHz = number;
    } else if (arg == "--centre" || arg == "--center") {
        if (!ParseNumber(value, number) || number < 0.0 || number * 1000.0 > iq::kMaxCentreHz) {
            return "'" + value + "' is not a frequency of 0..30000000 kHz (30 GHz)";
        }
        options.centreKhz = number;
    } else if (arg == "--gain") {
        if (!ParseNumber(value, number) || number < -20.0 || number > 100.0) {
            return "'" + value + "' is not a gain in dB (-20..100)";
        }
        options.gainDb = number;
    } else if (arg == "--sdr-buffer") {
        if (!ParseNumber(value, number) || number < 0.1 || number > 600.0) {
            return "'" + value + "' is not a buffer length of 0.1..600 s";
        }
        options.sdrBufferS = number;
    } else {
        int count = 0;
        if (!ParseInteger(value, count) || count < 1 || count > kMostThreads) {
            return "'" + value + "' is not a number of threads (1..64)";
        }
        options.threads = count;
    }
    return std::nullopt;
}

std::optional<std::string> CheckIqOptions(const DecodeOptions& options) {
    const bool wide = options.iqPath || options.sdrArgs || options.liveIq;
    if (!wide && (options.iqFormat || options.rateHz || options.centreKhz || options.gainDb ||
                  options.sdrBufferS || options.threads)) {
        return std::string("options --iq-format, --rate, --centre, --gain and --threads need "
                           "--iq, --sdr or --live-iq");
    }
    if (!wide) return std::nullopt;
    const bool rig = !options.rigAddress.empty() || options.rigModel;
    if (options.dialKhz != 0.0) {
        return std::string("option --dial: with --iq or --sdr the RF frequency comes from "
                           "--centre, the SigMF file or --rig");
    }
    if (rig && options.centreKhz && !options.sdrArgs) {
        return std::string("option --centre: the band's centre comes from the rig; leave "
                           "--centre out");
    }
    if (options.gainDb && !options.sdrArgs) {
        return std::string("option --gain: the gain of an SDR; give --sdr");
    }
    if (options.sdrBufferS && !options.sdrArgs) {
        return std::string("option --sdr-buffer: the buffer of an SDR; give --sdr");
    }
    const bool raw = options.sdrArgs || options.iqFormat || options.liveIq;
    if (options.iqPath && *options.iqPath == "-" && !options.iqFormat) {
        return std::string("option --iq -: standard input is raw; give --iq-format and --rate");
    }
    if ((options.sdrArgs || options.liveIq) && options.iqFormat) {
        return std::string("option --iq-format: the samples of --iq; a live input gives its own");
    }
    // An SDR is tuned by --centre even where the rig gives the RF (an SDR on the radio's IF).
    if (raw && (!options.rateHz || (!options.centreKhz && (options.sdrArgs || !rig)))) {
        return std::string(options.sdrArgs  ? "option --sdr"
                           : options.liveIq ? "option --live-iq"
                                            : "option --iq-format") +
               ": give the sample rate (--rate HZ) and the RF frequency of the centre "
               "(--centre KHZ)";
    }
    return std::nullopt;
}

std::optional<std::string> CheckServiceOptions(const DecodeOptions& options) {
    const bool rig = !options.rigAddress.empty() || options.rigModel || options.rigDevice;
    if (!options.skim && (options.spotPort || options.listenAddress || rig ||
                          options.knownCallsFile || options.respotMinutes)) {
        return "options --spot-port, --listen, --rig, --rig-model, --rig-device, --known-calls "
               "and --respot-minutes need --skim";
    }
    // Without the dial a spot would carry the audio pitch as its frequency: no logger wants it.
    if (options.spotPort && !rig && options.dialKhz == 0.0 && !options.iqPath && !options.sdrArgs &&
        !options.liveIq) {
        return std::string(
            "option --spot-port: spots need the radio's frequency; give --dial KHZ or --rig");
    }
    if (options.listenAddress && !options.spotPort) {
        return std::string("option --listen: the address of --spot-port; give the port too");
    }
    if (!options.rigAddress.empty() && (options.rigModel || options.rigDevice)) {
        return std::string(
            "option --rig: a rigctld's address, or --rig-model with --rig-device; not both");
    }
    if (options.rigDevice && !options.rigModel) {
        return std::string("option --rig-device: give the radio's --rig-model too");
    }
    if (rig && options.dialKhz != 0.0) {
        return std::string("option --dial: the dial comes from the rig; leave --dial out");
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ParseUtc(const std::string& text, std::time_t now) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    char z = 0;
    std::tm tm{};
    const int full = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi,
                                 &sec, &z);
    if (full == 7 && z == 'Z') {
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
    } else if (std::sscanf(text.c_str(), "%2d:%2d%c", &h, &mi, &z) == 2 && text.size() == 5) {
        gmtime_r(&now, &tm);  // today
        sec = 0;
    } else {
        return std::nullopt;
    }
    if (mo < 0 || mo > 12 || d < 0 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 ||
        sec > 60) {
        return std::nullopt;
    }
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = sec;
    return static_cast<std::int64_t>(timegm(&tm));
}

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
        } else if (arg == "--skim" || arg == "--spots") {
            if (auto e = flagOnly()) return e;
            options.skim = true;
            options.spots = options.spots || arg == "--spots";
        } else if (arg == "--spotter" || arg == "--dial" || arg == "--start") {
            if (!takeValue()) return bad("needs a value");
            if (arg == "--spotter") {
                const bool plain = !value.empty() && value.size() <= 12 &&
                                   std::all_of(value.begin(), value.end(), [](char c) {
                                       return std::isalnum(static_cast<unsigned char>(c)) ||
                                              c == '-' || c == '/' || c == '#';
                                   });
                if (!plain) return bad("'" + value + "' is not a callsign (up to 12 letters, digits, - / #)");
                options.spotter = value;
                for (char& c : options.spotter) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            } else if (arg == "--dial") {
                double khz = 0.0;
                if (!ParseNumber(value, khz) || khz < 0.0 || khz > 1e7) {
                    return bad("'" + value + "' is not a frequency in kHz");
                }
                options.dialKhz = khz;
            } else {
                const std::optional<std::int64_t> utc = ParseUtc(value);
                if (!utc) return bad("'" + value + "' is not a UTC time (2026-12-08T14:30:00Z or 14:30)");
                options.startUtc = *utc;
            }
        } else if (arg == "--spot-port" || arg == "--listen" || arg == "--rig" ||
                   arg == "--rig-model" || arg == "--rig-device" || arg == "--known-calls" ||
                   arg == "--respot-minutes") {
            if (!takeValue()) return bad("needs a value");
            if (auto e = ParseServiceOption(arg, value, options)) return bad(*e);
        } else if (arg == "--iq" || arg == "--sdr") {
            if (!takeValue()) return bad("needs a value");
            if (haveInput) {
                return bad("give one input: a file, '-', --live, --iq, --sdr or --live-iq");
            }
            if (value.empty()) {
                return bad(arg == "--iq" ? "needs an IQ recording, or '-' for standard input"
                                         : "needs SoapySDR device arguments, e.g. driver=rtlsdr");
            }
            (arg == "--iq" ? options.iqPath : options.sdrArgs) = value;
            options.skim = true;
            haveInput = true;
        } else if (arg == "--iq-format" || arg == "--rate" || arg == "--centre" ||
                   arg == "--center" || arg == "--gain" || arg == "--sdr-buffer" ||
                   arg == "--threads") {
            if (!takeValue()) return bad("needs a value");
            if (auto e = ParseIqOption(arg, value, options)) return bad(*e);
        } else if (arg == "--live-iq") {
            if (auto e = flagOnly()) return e;
            if (haveInput) {
                return bad("give one input: a file, '-', --live, --iq, --sdr or --live-iq");
            }
            options.liveIq = true;
            options.skim = true;
            haveInput = true;
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
        } else if (arg == "--decoder") {
            if (!takeValue()) return bad("needs a value");
            if (value != "auto" && value != "hard" && value != "soft") {
                return bad("'" + value + "' is not auto, hard or soft");
            }
            options.decoder = value;
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
    if (options.skim && (options.filterWidth || options.centreBin || options.burstLpm ||
                         options.threshold || options.autoThreshold || options.afc ||
                         options.afcSpeed || options.autoGoToMax || options.settingsFile ||
                         options.coldStart)) {
        return std::optional<std::string>(
            "option --skim: the receiver controls (--width, --pitch, --burst, --threshold, "
            "--afc, --afc-speed, --auto-gotomax, --settings, --cold-start) are preset for every "
            "channel by itself");
    }
    if (!options.skim && (options.spotter != "DAHLO-#" || options.dialKhz != 0.0 ||
                          options.startUtc)) {
        return std::optional<std::string>("options --spotter, --dial and --start need --skim");
    }
    if (auto e = CheckIqOptions(options)) return e;
    if (auto e = CheckServiceOptions(options)) return e;
    if (!haveInput && !options.help && !options.version) {
        return std::optional<std::string>(
            "no input: give a sound file, '-' for standard input, or --live");
    }
    return std::nullopt;
}

std::string DecodeUsage() {
    return R"(Usage: dahlo-decode [OPTIONS] FILE|-|--live
       dahlo-decode [OPTIONS] --iq FILE|- | --sdr ARGS | --live-iq

Decodes Morse code (CW) from a recording to text on standard output.

Input:
  FILE                   any format libsndfile reads (WAV, FLAC, OGG, MP3, ...), any rate and
                         channel count; mixed to mono and resampled to 11025 Hz
  -                      raw signed 16-bit little-endian mono at 11025 Hz on standard input
  --live                 the default sound input until Ctrl-C

Wideband IQ from an SDR (skims the whole band, as --skim; frequencies are RF):
  --iq FILE              stereo I/Q sound file (I left, Q right) or SigMF (.sigmf-meta/-data)
  --iq -                 raw I/Q on standard input (needs --iq-format and --rate), e.g. from
                         rtl_sdr; with --iq-format, FILE is read raw too
  --iq-format FORMAT     cu8 (rtl_sdr), ci8, cs16, cu16_le, ci32_le or cf32
  --sdr ARGS             a SoapySDR device (driver=rtlsdr, driver=airspy, ...) until Ctrl-C
  --live-iq              stereo IQ (I left, Q right) from the sound server until Ctrl-C
  --rate HZ              sample rate of a raw stream or the SDR, 8000..768000
  --centre KHZ           RF frequency of the band's centre (a SigMF file may give it, or
                         the radio's dial with --rig); with --sdr what the SDR is tuned to
  --gain DB              the SDR's gain (default: its automatic gain)
  --sdr-buffer S         seconds of the SDR's samples held while the decode catches up (default
                         2); what does not fit is dropped, as a radio drops it
  --threads N            threads for the sub-bands (default: every core); the output is the
                         same for any N

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
  --decoder auto|hard|soft  the default path's decoder: the window's (hard), the soft-decision
                         one, or as the look finds best (auto: soft on weak or fading signals)

Skimming (every signal in the passband at once):
  --skim                 one channel per signal found: a line per channel and group of words,
                         with pitch, speed and SNR; with --events, also "ch" and spot lines
  --spots                only DX-cluster spot lines of the callsigns heard (implies --skim)
  --spotter CALL         the spotter in spot lines (default DAHLO-#)
  --dial KHZ             the radio's dial; a station is at dial + pitch (upper sideband CW)
  --start TIME           UTC time of a recording's first sample, 2026-12-08T14:30:00Z or 14:30
                         (default: now); live spots carry the clock's time
  --spot-port PORT       also serve the spots to loggers on this telnet port, as a DX-cluster
                         node does (0: any free port, told on standard error); needs --dial
                         or --rig
  --listen ADDRESS       the address the spot port listens on (default 127.0.0.1; :: or 0.0.0.0
                         for every interface)
  --known-calls FILE     callsigns spotted after one clean copy (MASTER.SCP: one call a line);
                         any other call is spotted after two copies on its frequency
  --respot-minutes N     a call is spotted again on the same frequency after N minutes
                         (default 10); at once when it moved more than 1 kHz
  --rig HOST:PORT        read the dial about once a second from a rigctld (Hamlib)
  --rig-model N          ... or from a radio Hamlib drives itself (rigctl --list gives N)
  --rig-device DEV       that radio's port, e.g. /dev/ttyUSB0

Output:
  --charset english|russian|FILE  character set (FILE: a user charset file)
  --encoding utf-8|cp1251         text encoding (default utf-8)
  --events               JSON lines: every character and word space with its time (s),
                         centre frequency (Hz) and, when shown, the speed
  -v, --verbose          the controls chosen, as options, on standard error
  --help, --version

Exit status: 0 the whole input decoded; 1 a damaged file: the text before the damage, then one
line on standard error; 2 a bad option or input, a spot port that cannot be opened or a rig
that does not answer at the start (one line on standard error).
)";
}

}  // namespace dahlo
