#pragma once
// The command line of dahlo-decode.

#include <optional>
#include <string>
#include <vector>

namespace dahlo {

enum class InputKind { kFile, kStdin, kLive };

struct DecodeOptions {
    InputKind input = InputKind::kFile;
    std::string path;  // the file; "-" for standard input

    std::optional<int> filterWidth;  // 0 Narrow, 1 Wide, 2 Very Wide
    std::optional<int> centreBin;    // from --pitch
    std::optional<int> burstLpm;     // one of the nine menu speeds
    std::optional<double> threshold;
    std::optional<bool> autoThreshold;
    std::optional<bool> afc;
    std::optional<int> afcSpeed;
    std::optional<bool> autoGoToMax;
    std::optional<int> charset;  // 0 English, 1 Russian, 2 the file below
    std::string charsetFile;
    std::optional<std::string> settingsFile;
    bool cp1251 = false;
    bool events = false;
    bool coldStart = false;
    bool verbose = false;  // the controls used, on standard error
    bool help = false;
    bool version = false;
};

// Parses argv[1..]; on a bad option returns one line naming it and the reason.
std::optional<std::string> ParseDecodeOptions(const std::vector<std::string>& args,
                                              DecodeOptions& options);

// The text of --help.
std::string DecodeUsage();

// The nearest bin to a pitch in Hz.
int PitchToBin(double hz);

}  // namespace dahlo
