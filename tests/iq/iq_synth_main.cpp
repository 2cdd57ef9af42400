// dahlo-iq-synth: writes a band of CW stations as IQ, and its truth.
//   dahlo-iq-synth OUT FORMAT [--stations N] [--rate HZ] [--centre HZ] [--seconds S] [--seed N]
// FORMAT: wav-float, wav16, sigmf-cf32, sigmf-ci16 (OUT without extension) or cu8.
// The truth goes to OUT.truth.tsv.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "iq/iq_band_synth.h"

int main(int argc, char** argv) {
    using namespace dahlo::test;
    if (argc < 3) {
        std::fprintf(stderr, "usage: dahlo-iq-synth OUT wav-float|wav16|sigmf-cf32|sigmf-ci16|cu8 "
                             "[--stations N] [--rate HZ] [--centre HZ] [--seconds S] [--seed N]\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string format = argv[2];
    int stations = 20;
    double rate = 48000.0;
    double centre = 7020000.0;
    double seconds = 60.0;
    unsigned long long seed = 1;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--stations") stations = std::atoi(value);
        else if (option == "--rate") rate = std::atof(value);
        else if (option == "--centre") centre = std::atof(value);
        else if (option == "--seconds") seconds = std::atof(value);
        else if (option == "--seed") seed = std::strtoull(value, nullptr, 10);
        else {
            std::fprintf(stderr, "dahlo-iq-synth: unknown option %s\n", option.c_str());
            return 2;
        }
    }
    const IqBand band = RandomIqBand(stations, rate, centre, seconds, seed);
    const auto samples = SynthesizeIqBand(band, seed);
    std::string error;
    if (format == "wav-float" || format == "wav16") {
        error = WriteIqWav(out, samples, rate, format == "wav-float");
    } else if (format == "sigmf-cf32" || format == "sigmf-ci16") {
        error = WriteIqSigmf(out, samples, rate, centre, format == "sigmf-cf32" ? "cf32_le" : "ci16_le");
    } else if (format == "cu8") {
        error = WriteIqCu8(out, samples);
    } else {
        error = "unknown format " + format;
    }
    if (error.empty()) error = WriteIqTruth(out + ".truth.tsv", band);
    if (!error.empty()) {
        std::fprintf(stderr, "dahlo-iq-synth: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
