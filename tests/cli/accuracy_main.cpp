// dahlo-accuracy: character error rate of dahlo-decode's default path (no options: presets from a
// look at the recording) on synthesized recordings, each decoded by the tool itself from a WAV
// file (or raw samples on standard input). Prints the tables and writes the CER-versus-SNR data
// for the plot (DATA_FILE, and the weak-signal curve of both decoders in DATA_FILE.weak).
//   dahlo-accuracy [DATA_FILE]
//   dahlo-accuracy --weak-sets N   (only the weak-signal table of the default path, over N sets
//                                   of its recordings: 12 N per cell, the first set the table's)

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/recording_kinds.h"
#include "support/morse_synth.h"
#include "support/text_compare.h"
#include "cli/decode_main.h"
#include "support/audio_files.h"

using dahlo::test::EditDistance;

namespace {

using dahlo::test::MorseSynthOptions;

const char* const kTexts[] = {
    "cq cq de dl1abc dl1abc pse k",
    "r ok tnx fer call ur rst 579 579 name hans qth berlin",
    "the quick brown fox jumps over the lazy dog 1234567890",
    "wx sunny temp 22c rig 100w ant dipole hw cpy",
    "qrl? qrz? de ok2xyz = gm om es tnx fer nice qso 73",
};

std::string Normalize(const std::string& text) {
    std::string out;
    bool space = false;
    for (const char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

struct Condition {
    double wpm = 20;
    double pitch = 700;
    double level = -20;
    double snr = 100;  // >= 100: no noise
    double jitter = 0;
    bool fading = false;
    bool interferer = false;
    double qsbDb = 0.0;  // slow fading of this depth, period 7 s, starting at the peak
};

std::vector<std::int16_t> Synthesize(const std::string& text, const Condition& c,
                                     std::uint64_t seed) {
    MorseSynthOptions options;
    options.wpm = c.wpm;
    options.signal.pitch_hz = c.pitch;
    options.signal.level_dbfs = c.level;
    options.jitter = c.jitter;
    options.seed = seed;
    options.qsb_depth_db = c.qsbDb;
    if (c.interferer) {
        dahlo::test::Interferer other;
        other.text = "test de f5zz f5zz ar test de f5zz k qrl";
        other.wpm = c.wpm * 1.3;
        other.signal.pitch_hz = c.pitch + 150.0;
        other.signal.level_dbfs = c.level - 6.0;
        other.start_s = 0.3;
        options.interferer = other;
    }
    std::vector<std::int16_t> clean = dahlo::test::SynthesizeMorse(text, options);
    const double amplitude = 32767.0 * std::pow(10.0, c.level / 20.0);
    std::mt19937_64 random(seed * 7919 + 17);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double sigma = c.snr < 100 ? dahlo::test::NoiseSigmaFor(amplitude, c.snr) : 0.0;
    std::vector<std::int16_t> out(clean.size());
    for (std::size_t n = 0; n < clean.size(); ++n) {
        double x = clean[n];
        if (c.fading) {
            // Slow fading between 0 and -12 dB, period 7 s.
            const double t = static_cast<double>(n) / 11025.0;
            const double depthDb = 6.0 - 6.0 * std::cos(2.0 * std::numbers::pi * t / 7.0);
            x *= std::pow(10.0, -depthDb / 20.0);
        }
        if (sigma > 0.0) x += sigma * gauss(random);
        out[n] = static_cast<std::int16_t>(std::clamp(std::lround(x), -32768L, 32767L));
    }
    return out;
}

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

// The text dahlo-decode prints with no options for `samples`: from a WAV file, or raw on
// standard input.
std::string DecodeWithTool(const std::vector<std::int16_t>& samples, bool stdinput,
                           const std::string& dir, std::string* errors = nullptr,
                           const char* decoder = nullptr) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::vector<std::string> args;
    if (decoder != nullptr) args.insert(args.end(), {"--decoder", decoder});
    if (stdinput) {
        dahlo::testaudio::WriteRawToStream(in, samples);
        args.push_back("-");
    } else {
        const std::string path = dir + "/recording.wav";
        std::string error;
        if (!dahlo::testaudio::WriteAudioFile(path, samples, 11025, 1, error)) {
            std::fprintf(stderr, "dahlo-accuracy: %s\n", error.c_str());
            std::exit(2);
        }
        args.push_back(path);
    }
    dahlo::DecodeStreams streams;
    streams.in = in;
    streams.out = out;
    streams.err = err;
    dahlo::RunDecodeTool(args, streams);
    const std::string text = ReadAll(out);
    if (errors != nullptr) *errors = ReadAll(err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return text;
}

bool Verbose() {
    return std::getenv("DAHLO_ACCURACY_VERBOSE") != nullptr;
}

// CER of one recording through the default path of dahlo-decode.
// `decoder`: the --decoder option (none: the tool's own choice).
double MeasureTextCer(const std::string& sent, const Condition& c, std::uint64_t seed,
                      const std::string& dir, const char* decoder = nullptr) {
    const std::string want = Normalize(sent);
    const std::string got =
        Normalize(DecodeWithTool(Synthesize(sent, c, seed), false, dir, nullptr, decoder));
    if (Verbose()) {
        std::fprintf(stderr,
                     "wpm %.0f pitch %.0f level %.0f snr %.0f jitter %.2f fading %d 2nd %d "
                     "qsb %.0f %s\n  sent: %s\n  got:  %s\n",
                     c.wpm, c.pitch, c.level, c.snr, c.jitter, c.fading, c.interferer, c.qsbDb,
                     decoder != nullptr ? decoder : "", want.c_str(), got.c_str());
    }
    return static_cast<double>(EditDistance(want, got)) / static_cast<double>(want.size());
}

double MeasureCer(const Condition& c, int textIndex, std::uint64_t seed, const std::string& dir,
                  const char* decoder = nullptr) {
    return MeasureTextCer(kTexts[textIndex % std::size(kTexts)], c, seed, dir, decoder);
}

// QSO text made mostly of the one- and two-element letters, which noise keys too: the words
// must come out because their marks were the signal's, whatever their letters.
const char* const kShortLetterTexts[] = {
    "hi anna = name is tina = team meet at ten am = time to eat = 73 es gn",
    "= name ray ray = qth oslo = ant is a dipole at ten m = tnx fer qso",
    "mni tnx = i am in a tent = temp is ten = item in mine = man meets men at net",
    "at time = ur rst 599 = name tim = it is a nice ant = mean time = 73",
};

// CER of one recording of a kind: raw samples on standard input for the 800 Hz kind.
double MeasureKindCer(dahlo::test::RecordingKind kind, int variant, bool noisy,
                      const std::string& dir) {
    const dahlo::test::KindRecording r = dahlo::test::MakeKindRecording(kind, variant, noisy);
    std::string errors;
    const std::string want = Normalize(r.sent);
    const std::string got = Normalize(
        DecodeWithTool(r.samples, kind == dahlo::test::RecordingKind::kPlain800Hz, dir, &errors));
    if (Verbose()) {
        std::fprintf(stderr, "%s #%d%s\n  sent: %s\n  got:  %s\n%s", dahlo::test::KindName(kind),
                     variant, noisy ? " +3 dB" : "", want.c_str(), got.c_str(), errors.c_str());
    }
    return static_cast<double>(EditDistance(want, got)) / static_cast<double>(want.size());
}

double Mean(const std::vector<double>& v) {
    double s = 0;
    for (const double x : v) s += x;
    return v.empty() ? 0.0 : s / static_cast<double>(v.size());
}

const std::vector<double> weakSnrs = {-4, -6, -8, -10, -12};

// Mean CER of a weak-signal cell: 16..28 WPM x 700..1100 Hz, steady or with 8 dB slow fading,
// `sets` times over (the first set is the table's; each further one has other texts and noise).
double WeakCellCer(bool fading, std::size_t snrIndex, double snr, int sets, const std::string& dir,
                   const char* decoder = nullptr) {
    std::vector<double> cers;
    for (int set = 0; set < sets; ++set) {
        int r = 0;
        for (const double wpm : {16.0, 20.0, 24.0, 28.0}) {
            for (const double pitch : {700.0, 900.0, 1100.0}) {
                Condition c;
                c.wpm = wpm;
                c.pitch = pitch;
                c.level = -20.0 - 2.0 * r;
                c.snr = snr;
                c.qsbDb = fading ? 8.0 : 0.0;
                const std::uint64_t seed = 3000 + (fading ? 100 : 0) + 12 * snrIndex +
                                           static_cast<std::uint64_t>(r + 1000 * set);
                cers.push_back(MeasureCer(c, r + set, seed, dir, decoder));
                ++r;
            }
        }
    }
    return Mean(cers);
}

// The weak-signal table of the default path over `sets` sets of recordings.
void PrintWideWeakTable(int sets, const std::string& dir) {
    std::printf("Weak signals, default path: mean CER by SNR (dB in 2500 Hz), %d recordings per "
                "cell (16..28 WPM, 700..1100 Hz)\n\n| signal |",
                12 * sets);
    for (const double snr : weakSnrs) std::printf(" %+.0f dB |", snr);
    std::printf("\n|---|");
    for (std::size_t s = 0; s < weakSnrs.size(); ++s) std::printf("---|");
    std::printf("\n");
    for (const bool fading : {false, true}) {
        std::printf("| %s |", fading ? "QSB 8 dB, 7 s" : "steady");
        for (std::size_t s = 0; s < weakSnrs.size(); ++s) {
            std::printf(" %.3f |", WeakCellCer(fading, s, weakSnrs[s], sets, dir));
            std::fflush(stdout);
        }
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool wide = argc > 2 && std::string(argv[1]) == "--weak-sets";
    const int sets = wide ? std::atoi(argv[2]) : 1;
    if (wide && (sets < 1 || sets > 100)) {
        std::fprintf(stderr, "dahlo-accuracy: --weak-sets takes 1..100\n");
        return 2;
    }
    const char* dataPath = argc > 1 ? argv[1] : "accuracy.dat";
    char dirTemplate[] = "/tmp/dahlo-accuracy-XXXXXX";
    const char* made = ::mkdtemp(dirTemplate);
    if (made == nullptr) {
        std::fprintf(stderr, "dahlo-accuracy: cannot create a temporary directory\n");
        return 2;
    }
    const std::string dir = made;
    if (wide) {
        PrintWideWeakTable(sets, dir);
        std::remove((dir + "/recording.wav").c_str());
        ::rmdir(dir.c_str());
        return 0;
    }

    // Clean recordings: speeds x pitches x levels.
    std::printf(
        "Clean recordings (no noise): mean CER per speed over pitches 300..2000 Hz and "
        "levels -6..-45 dBFS\n\n");
    std::printf("| WPM | recordings | mean CER | worst CER |\n|---|---|---|---|\n");
    std::vector<double> allClean;
    int seed = 1;
    for (const double wpm : {8.0, 12.0, 20.0, 30.0, 45.0}) {
        std::vector<double> cers;
        for (const double pitch : {300.0, 700.0, 1200.0, 2000.0}) {
            for (const double level : {-6.0, -25.0, -45.0}) {
                Condition c;
                c.wpm = wpm;
                c.pitch = pitch;
                c.level = level;
                cers.push_back(MeasureCer(c, seed, static_cast<std::uint64_t>(seed), dir));
                ++seed;
            }
        }
        allClean.insert(allClean.end(), cers.begin(), cers.end());
        std::printf("| %.0f | %zu | %.3f | %.3f |\n", wpm, cers.size(), Mean(cers),
                    *std::max_element(cers.begin(), cers.end()));
        std::fflush(stdout);
    }
    std::printf("\nAll clean recordings: mean CER %.4f (target <= 0.03)\n\n", Mean(allClean));

    // SNR sweep in 2500 Hz, five kinds of signal, four recordings each (speeds 15..35 WPM,
    // pitches 500..1100 Hz, different texts and noise).
    const std::vector<double> snrs = {-6, -3, 0, 3, 6, 10, 20};
    const char* const kinds[] = {"steady", "hand-keyed (jitter 0.1)", "fading 0..-12 dB",
                                 "2nd signal +150 Hz, -6 dB", "all three"};
    std::vector<std::vector<double>> table(std::size(kinds), std::vector<double>(snrs.size()));
    for (std::size_t k = 0; k < std::size(kinds); ++k) {
        for (std::size_t s = 0; s < snrs.size(); ++s) {
            std::vector<double> cers;
            for (int r = 0; r < 4; ++r) {
                Condition c;
                c.wpm = 15.0 + 7.0 * r;
                c.pitch = 500.0 + 200.0 * r;
                c.level = -20.0 - 5.0 * r;
                c.snr = snrs[s];
                c.jitter = (k == 1 || k == 4) ? 0.1 : 0.0;
                c.fading = k == 2 || k == 4;
                c.interferer = k == 3 || k == 4;
                cers.push_back(MeasureCer(c, r + static_cast<int>(s),
                                          1000 + 100 * k + 10 * s + static_cast<std::uint64_t>(r),
                                          dir));
            }
            table[k][s] = Mean(cers);
        }
    }
    std::printf("Mean CER by SNR (dB in 2500 Hz), four recordings per cell\n\n| signal |");
    for (const double snr : snrs) std::printf(" %+.0f dB |", snr);
    std::printf("\n|---|");
    for (std::size_t s = 0; s < snrs.size(); ++s) std::printf("---|");
    std::printf("\n");
    for (std::size_t k = 0; k < std::size(kinds); ++k) {
        std::printf("| %s |", kinds[k]);
        for (std::size_t s = 0; s < snrs.size(); ++s) std::printf(" %.3f |", table[k][s]);
        std::printf("\n");
    }
    std::printf("\nSteady signal at 0 dB SNR: mean CER %.3f (target <= 0.10)\n", table[0][2]);

    std::printf("\nWords of e, t, i, a, n, m (NAME, TIME, TEAM, AT, TEN, ...), four recordings "
                "per cell (18..36 WPM, 600..1200 Hz)\n\n| noise | mean CER | worst CER |\n"
                "|---|---|---|\n");
    for (const double snr : {100.0, 10.0, 3.0}) {
        std::vector<double> cers;
        for (int r = 0; r < 4; ++r) {
            Condition c;
            c.wpm = 18.0 + 6.0 * r;
            c.pitch = 600.0 + 200.0 * r;
            c.level = -20.0 - 4.0 * r;
            c.snr = snr;
            cers.push_back(MeasureTextCer(kShortLetterTexts[r], c,
                                          5000 + static_cast<std::uint64_t>(10 * snr + r), dir));
        }
        std::printf("| %s | %.3f | %.3f |\n", snr >= 100 ? "none" : snr > 5 ? "+10 dB" : "+3 dB",
                    Mean(cers), *std::max_element(cers.begin(), cers.end()));
    }

    // Weak signals: the default path (the soft decoder reads them) against the hard decoder on
    // the same recordings, 16..28 WPM x 700..1100 Hz, steady and with 8 dB slow fading.
    const char* const weakKinds[] = {"steady", "QSB 8 dB, 7 s"};
    const char* const decoders[] = {nullptr, "hard"};
    // weak[kind][decoder][snr]
    std::vector<std::vector<std::vector<double>>> weak(
        std::size(weakKinds), std::vector<std::vector<double>>(2, std::vector<double>(weakSnrs.size())));
    for (std::size_t k = 0; k < std::size(weakKinds); ++k) {
        for (std::size_t s = 0; s < weakSnrs.size(); ++s) {
            for (std::size_t d = 0; d < 2; ++d) {
                weak[k][d][s] = WeakCellCer(k == 1, s, weakSnrs[s], 1, dir, decoders[d]);
            }
        }
    }
    std::printf("\nWeak signals: mean CER by SNR (dB in 2500 Hz), 12 recordings per cell "
                "(16..28 WPM, 700..1100 Hz)\n\n| signal | decoder |");
    for (const double snr : weakSnrs) std::printf(" %+.0f dB |", snr);
    std::printf("\n|---|---|");
    for (std::size_t s = 0; s < weakSnrs.size(); ++s) std::printf("---|");
    std::printf("\n");
    for (std::size_t k = 0; k < std::size(weakKinds); ++k) {
        for (std::size_t d = 0; d < 2; ++d) {
            std::printf("| %s | %s |", weakKinds[k], d == 0 ? "default (soft)" : "--decoder hard");
            for (std::size_t s = 0; s < weakSnrs.size(); ++s) std::printf(" %.3f |", weak[k][d][s]);
            std::printf("\n");
        }
    }
    std::fflush(stdout);

    // Kinds of sending and recording, each with four recordings (texts, speeds, pitches 550..1000
    // Hz, levels -15..-39 dBFS).
    using dahlo::test::RecordingKind;
    struct Row {
        RecordingKind kind;
        bool noisy;
    };
    const Row rows[] = {
        {RecordingKind::kSpeedStep, false},      {RecordingKind::kSpeedStep, true},
        {RecordingKind::kHandKeyed, false},      {RecordingKind::kHandKeyed, true},
        {RecordingKind::kFarnsworth, false},     {RecordingKind::kFarnsworth, true},
        {RecordingKind::kLongLetterGaps, false}, {RecordingKind::kLongLetterGaps, true},
        {RecordingKind::kPlain800Hz, false},     {RecordingKind::kPlain800Hz, true},
        {RecordingKind::kWeakSignal, false},     {RecordingKind::kNoiseTail, false},
        {RecordingKind::kIdentPause, false},
    };
    std::printf("\nKinds of sending and recording, four recordings each, no options\n\n");
    std::printf("| kind | noise | mean CER | worst CER |\n|---|---|---|---|\n");
    for (const Row& row : rows) {
        std::vector<double> cers;
        for (int v = 0; v < 4; ++v) cers.push_back(MeasureKindCer(row.kind, v, row.noisy, dir));
        const bool ownNoise = row.kind == RecordingKind::kWeakSignal ||
                              row.kind == RecordingKind::kNoiseTail ||
                              row.kind == RecordingKind::kIdentPause;
        std::printf("| %s | %s | %.3f | %.3f |\n", dahlo::test::KindName(row.kind),
                    ownNoise    ? "its own"
                    : row.noisy ? "+3 dB"
                                : "none",
                    Mean(cers), *std::max_element(cers.begin(), cers.end()));
        std::fflush(stdout);
    }
    std::remove((dir + "/recording.wav").c_str());
    ::rmdir(dir.c_str());

    std::FILE* data = std::fopen(dataPath, "w");
    if (data == nullptr) {
        std::fprintf(stderr, "dahlo-accuracy: cannot create %s\n", dataPath);
        return 2;
    }
    std::fprintf(data, "snr_db");
    for (const char* kind : kinds) std::fprintf(data, " \"%s\"", kind);
    std::fprintf(data, "\n");
    for (std::size_t s = 0; s < snrs.size(); ++s) {
        std::fprintf(data, "%.0f", snrs[s]);
        for (std::size_t k = 0; k < std::size(kinds); ++k) std::fprintf(data, " %.4f", table[k][s]);
        std::fprintf(data, "\n");
    }
    std::fclose(data);

    const std::string weakPath = std::string(dataPath) + ".weak";
    std::FILE* weakData = std::fopen(weakPath.c_str(), "w");
    if (weakData == nullptr) {
        std::fprintf(stderr, "dahlo-accuracy: cannot create %s\n", weakPath.c_str());
        return 2;
    }
    std::fprintf(weakData,
                 "snr_db \"steady, default (soft)\" \"steady, hard\" \"QSB 8 dB, default (soft)\" "
                 "\"QSB 8 dB, hard\"\n");
    for (std::size_t s = 0; s < weakSnrs.size(); ++s) {
        std::fprintf(weakData, "%.0f %.4f %.4f %.4f %.4f\n", weakSnrs[s], weak[0][0][s],
                     weak[0][1][s], weak[1][0][s], weak[1][1][s]);
    }
    std::fclose(weakData);
    return 0;
}
