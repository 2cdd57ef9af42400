#pragma once
// The command line of dahlo-decode.

#include <cstdint>
#include <ctime>
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
    std::string decoder = "auto";  // --decoder: auto, hard or soft (the default path)
    // The skimmer: every signal in the passband (--skim), its output as DX-cluster spot lines
    // (--spots), the spotter's call, the radio's dial in kHz, the time of the first sample.
    bool skim = false;
    bool spots = false;
    std::string spotter = "DAHLO-#";
    double dialKhz = 0.0;
    std::optional<std::int64_t> startUtc;  // seconds since 1970
    // While skimming: spots to loggers on a telnet port (--spot-port, 0 for any free port) at
    // --listen's address; the dial read from a rigctld (--rig HOST:PORT) or from a radio Hamlib
    // drives itself (--rig-model N, --rig-device DEV).
    std::optional<int> spotPort;
    std::optional<std::string> listenAddress;
    std::string rigAddress;
    std::optional<int> rigModel;
    std::optional<std::string> rigDevice;
    // Spots: calls spotted after one copy (--known-calls, MASTER.SCP), and how long a call waits
    // before it is spotted again on the same frequency (--respot-minutes).
    std::optional<std::string> knownCallsFile;
    std::optional<double> respotMinutes;
    // Wideband IQ, skimmed (implies --skim): a recording or raw stream (--iq FILE|-, raw with
    // --iq-format and --rate), or a SoapySDR device (--sdr ARGS --rate HZ [--gain DB]); the RF
    // frequency of its centre (--centre, kHz); the threads its sub-bands run on.
    std::optional<std::string> iqPath;
    std::optional<std::string> iqFormat;
    std::optional<std::string> sdrArgs;
    bool liveIq = false;  // --live-iq: stereo IQ from the sound server (--rate, --centre)
    std::optional<double> rateHz;
    std::optional<double> centreKhz;
    std::optional<double> gainDb;
    std::optional<double> sdrBufferS;  // --sdr-buffer: seconds of samples the SDR's queue holds
    std::optional<int> threads;
    bool verbose = false;  // the controls used, on standard error
    bool help = false;
    bool version = false;
};

// Parses argv[1..]; on a bad option returns one line naming it and the reason.
std::optional<std::string> ParseDecodeOptions(const std::vector<std::string>& args,
                                              DecodeOptions& options);

// The text of --help.
std::string DecodeUsage();

// A UTC time: "2026-12-08T14:30:00Z", or "14:30" for that time on the day of `now`.
std::optional<std::int64_t> ParseUtc(const std::string& text, std::time_t now = std::time(nullptr));

// The nearest bin to a pitch in Hz.
int PitchToBin(double hz);

}  // namespace dahlo
