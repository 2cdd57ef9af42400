// dahlo-synth: writes a synthesized Morse recording with libsndfile, for the bundled samples and
// for trying dahlo-decode by hand.
//   dahlo-synth OUT.(wav|flac|ogg|raw) TEXT [--wpm N] [--pitch HZ] [--level DBFS] [--snr DB]
//               [--jitter R] [--rise S] [--farnsworth WPM] [--step-at CHAR --step-wpm WPM]
//               [--letter-gap-min DOTS --letter-gap-max DOTS] [--extra-word-space DOTS]
//               [--qsb DB --qsb-period S] [--rate HZ] [--channels N] [--seed N]
//   dahlo-synth OUT KIND [--variant 0..3] [--noisy 1] [--rate HZ] [--channels N]
//     KIND: speed-step, hand, farnsworth, long-gaps, plain-800, weak, noise-tail, ident-pause
//     (the recordings of `make accuracy`; the text sent goes to standard output)
//   dahlo-synth OUT --band|--band12|--band12-weak [--tail S] [--fill S]   (the skimmer's test
//     band: seven or twelve stations, or twelve with four weak ones, then S seconds of noise;
//     --fill: each station repeats its text until it has sent for S seconds, so that the band
//     played in a loop keeps every station on the air; prints each station's call, pitch and
//     end in seconds)

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/recording_kinds.h"
#include "support/band_synth.h"
#include "support/morse_synth.h"
#include "support/audio_files.h"

namespace {

struct KindEntry {
    const char* name;
    dahlo::test::RecordingKind kind;
};

constexpr KindEntry kKinds[] = {
    {"speed-step", dahlo::test::RecordingKind::kSpeedStep},
    {"hand", dahlo::test::RecordingKind::kHandKeyed},
    {"farnsworth", dahlo::test::RecordingKind::kFarnsworth},
    {"long-gaps", dahlo::test::RecordingKind::kLongLetterGaps},
    {"plain-800", dahlo::test::RecordingKind::kPlain800Hz},
    {"weak", dahlo::test::RecordingKind::kWeakSignal},
    {"noise-tail", dahlo::test::RecordingKind::kNoiseTail},
    {"ident-pause", dahlo::test::RecordingKind::kIdentPause},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: dahlo-synth OUT TEXT [--wpm N] [--pitch HZ] [--level DBFS] "
                     "[--snr DB] [--jitter R] [--rise S] [--farnsworth WPM] "
                     "[--step-at CHAR --step-wpm WPM] "
                     "[--letter-gap-min DOTS --letter-gap-max DOTS] [--extra-word-space DOTS] "
                     "[--qsb DB --qsb-period S] [--rate HZ] [--channels N] [--seed N]\n"
                     "       dahlo-synth OUT KIND [--variant 0..3] [--noisy 1] [--rate HZ] "
                     "[--channels N]\n"
                     "       dahlo-synth OUT --band|--band12|--band12-weak [--tail S]\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string text = argv[2];
    if (text == "--band" || text == "--band12" || text == "--band12-weak") {
        // The skimmer's test band: seven stations in noise, or twelve.
        // --tail S: S seconds of the band's noise after the last station stops (default 2).
        double tail = 2.0;
        double fill = 0.0;
        for (int i = 3; i + 1 < argc; i += 2) {
            if (std::string(argv[i]) == "--tail") tail = std::atof(argv[i + 1]);
            if (std::string(argv[i]) == "--fill") fill = std::atof(argv[i + 1]);
        }
        std::vector<dahlo::test::BandStation> stations =
            text == "--band"     ? dahlo::test::TestBand()
            : text == "--band12" ? dahlo::test::TwelveStationBand()
                                 : dahlo::test::WeakStationBand();
        for (dahlo::test::BandStation& s : stations) {
            const std::string once = s.text;
            while (dahlo::test::BandStationEndSeconds(s) < fill) s.text += " " + once;
        }
        const std::vector<std::int16_t> band = dahlo::test::SynthesizeBand(
            stations, dahlo::test::TestBandNoiseSigma(), 1, tail);
        // Where each station is and when its last mark ends, for scoring a skimmer's output.
        for (const dahlo::test::BandStation& s : stations) {
            std::printf("%s %.1f %.3f\n", s.call.c_str(), s.pitch_hz,
                        dahlo::test::BandStationEndSeconds(s));
        }
        std::string error;
        if (!dahlo::testaudio::WriteAudioFile(out, band, 11025, 1, error)) {
            std::fprintf(stderr, "dahlo-synth: %s\n", error.c_str());
            return 2;
        }
        return 0;
    }
    dahlo::test::MorseSynthOptions options;
    int rate = 11025;
    int channels = 1;
    const KindEntry* kind = nullptr;
    for (const KindEntry& k : kKinds) {
        if (text == k.name) kind = &k;
    }
    int variant = 0;
    bool noisy = false;
    std::size_t stepAt = 0;
    bool step = false;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const double value = std::atof(argv[i + 1]);
        if (key == "--wpm") {
            options.wpm = value;
        } else if (key == "--pitch") {
            options.signal.pitch_hz = value;
        } else if (key == "--level") {
            options.signal.level_dbfs = value;
        } else if (key == "--snr") {
            options.snr_db = value;
        } else if (key == "--jitter") {
            options.jitter = value;
        } else if (key == "--rate") {
            rate = static_cast<int>(value);
        } else if (key == "--channels") {
            channels = static_cast<int>(value);
        } else if (key == "--rise") {
            options.rise_time_s = value;
        } else if (key == "--seed") {
            options.seed = static_cast<std::uint64_t>(value);
        } else if (key == "--farnsworth") {
            options.farnsworth_wpm = value;
        } else if (key == "--step-at") {
            stepAt = static_cast<std::size_t>(value);
        } else if (key == "--step-wpm") {
            step = true;
            options.speed_steps.push_back({0, value});
        } else if (key == "--letter-gap-min") {
            options.letter_gap_min_dots = value;
        } else if (key == "--letter-gap-max") {
            options.letter_gap_max_dots = value;
        } else if (key == "--qsb") {
            options.qsb_depth_db = value;
        } else if (key == "--qsb-period") {
            options.qsb_period_s = value;
        } else if (key == "--extra-word-space") {
            options.extra_word_space_dots = value;
        } else if (key == "--variant") {
            variant = static_cast<int>(value);
        } else if (key == "--noisy") {
            noisy = value != 0.0;
        } else {
            std::fprintf(stderr, "dahlo-synth: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if (step) options.speed_steps.back().character = stepAt;
    std::vector<std::int16_t> samples;
    if (kind != nullptr) {
        const dahlo::test::KindRecording r =
            dahlo::test::MakeKindRecording(kind->kind, variant, noisy);
        samples = r.samples;
        std::printf("%s\n", r.sent.c_str());
    } else {
        samples = dahlo::test::SynthesizeMorse(text, options);
    }
    std::string error;
    if (!dahlo::testaudio::WriteAudioFile(out, samples, rate, channels, error)) {
        std::fprintf(stderr, "dahlo-synth: %s\n", error.c_str());
        return 2;
    }
    return 0;
}
