// dahlo-synth: writes a synthesized Morse recording with libsndfile, for the bundled samples and
// for trying dahlo-decode by hand.
//   dahlo-synth OUT.(wav|flac|ogg|raw) TEXT [--wpm N] [--pitch HZ] [--level DBFS] [--snr DB]
//               [--jitter R] [--rise S] [--rate HZ] [--channels N] [--seed N]
//   dahlo-synth OUT --band|--band12   (the skimmer's test band: seven or twelve stations)

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/band_synth.h"
#include "support/morse_synth.h"
#include "tools_test_audio.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: dahlo-synth OUT TEXT [--wpm N] [--pitch HZ] [--level DBFS] "
                     "[--snr DB] [--jitter R] [--rise S] [--rate HZ] [--channels N] [--seed N]\n"
                     "       dahlo-synth OUT --band|--band12\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string text = argv[2];
    if (text == "--band" || text == "--band12") {
        // The skimmer's test band: seven stations in noise, or twelve.
        const std::vector<std::int16_t> band = dahlo::test::SynthesizeBand(
            text == "--band" ? dahlo::test::TestBand() : dahlo::test::TwelveStationBand(),
            dahlo::test::TestBandNoiseSigma());
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
        } else {
            std::fprintf(stderr, "dahlo-synth: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    const std::vector<std::int16_t> samples = dahlo::test::SynthesizeMorse(text, options);
    std::string error;
    if (!dahlo::testaudio::WriteAudioFile(out, samples, rate, channels, error)) {
        std::fprintf(stderr, "dahlo-synth: %s\n", error.c_str());
        return 2;
    }
    return 0;
}
