#include "support/band_synth.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace dahlo::test {

namespace {

MorseSynthOptions StationOptions(const BandStation& s, std::uint64_t seed, double trail_s) {
    MorseSynthOptions options;
    options.wpm = s.wpm;
    options.signal.pitch_hz = s.pitch_hz;
    options.signal.level_dbfs = s.level_dbfs;
    options.jitter = s.jitter;
    options.rise_time_s = s.rise_time_s;
    options.lead_silence_s = s.start_s;
    options.trail_silence_s = trail_s;
    options.seed = seed + static_cast<std::uint64_t>(s.pitch_hz);
    return options;
}

}  // namespace

double BandStationEndSeconds(const BandStation& station) {
    std::int64_t end = 0;
    std::int64_t at = 0;
    for (const KeyRun& run : SynthesizeKeying(station.text, StationOptions(station, 1, 0.0))) {
        at += run.samples;
        if (run.down) end = at;
    }
    return static_cast<double>(end) / kSampleRateHz;
}

std::vector<std::int16_t> SynthesizeBand(const std::vector<BandStation>& stations,
                                         double noise_sigma, std::uint64_t seed, double trail_s) {
    std::vector<double> mix;
    for (const BandStation& s : stations) {
        const std::vector<std::int16_t> one = SynthesizeMorse(s.text, StationOptions(s, seed, trail_s));
        if (mix.size() < one.size()) mix.resize(one.size(), 0.0);
        for (std::size_t i = 0; i < one.size(); ++i) mix[i] += one[i];
    }
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, noise_sigma);
    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const double v = std::round(mix[i] + (noise_sigma > 0.0 ? noise(random) : 0.0));
        out[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
    return out;
}

std::vector<BandStation> TestBand() {
    return {
        {"cq cq de k1abc k1abc k", "K1ABC", 22, 600, -20, 0.0, 0.3},
        {"cq test dl2xyz dl2xyz test", "DL2XYZ", 28, 660, -26, 0.0, 1.1},
        {"cq cq de ok1rr ok1rr k", "OK1RR", 15, 900, -30, 0.08, 0.6},
        {"test ua3abc ua3abc", "UA3ABC", 35, 1150, -24, 0.0, 2.0},
        {"vvv de 9a1aa 9a1aa", "9A1AA", 18, 1400, -34, 0.0, 1.5},
        {"k1abc de w1aw w1aw tu 5nn", "W1AW", 25, 1700, -18, 0.0, 0.9},
        {"cq cq de ja1xyz ja1xyz k", "JA1XYZ", 20, 2000, -28, 0.0, 2.4},
    };
}

std::vector<BandStation> TwelveStationBand() {
    std::vector<BandStation> band = TestBand();
    const std::vector<BandStation> more = {
        {"cq cq de sm5abc sm5abc k", "SM5ABC", 24, 800, -22, 0.0, 1.0},
        {"qrz de ha5xx ha5xx k", "HA5XX", 19, 1050, -25, 0.0, 0.2},
        {"cq de iz1abc iz1abc k", "IZ1ABC", 30, 1300, -23, 0.0, 1.7},
        {"test ea3xyz ea3xyz", "EA3XYZ", 32, 1550, -27, 0.0, 0.5},
        {"cq cq de yu1aa yu1aa k", "YU1AA", 17, 2300, -21, 0.0, 2.2},
    };
    band.insert(band.end(), more.begin(), more.end());
    return band;
}

std::vector<BandStation> WeakStationBand() {
    // TestBandNoiseSigma puts -34 dBFS at +10 dB SNR.
    constexpr double kZeroSnrDbfs = -44.0;
    const std::vector<std::pair<std::string, double>> weak = {
        {"SM5ABC", 0.0}, {"HA5XX", -2.0}, {"JA1XYZ", -4.0}, {"9A1AA", -6.0}};
    std::vector<BandStation> band = TwelveStationBand();
    for (BandStation& s : band) {
        s.text = s.text + " " + s.text + " " + s.text;
        for (const auto& [call, snr] : weak) {
            if (s.call == call) s.level_dbfs = kZeroSnrDbfs + snr;
        }
    }
    return band;
}

double TestBandNoiseSigma() {
    return NoiseSigmaFor(32767.0 * std::pow(10.0, -34.0 / 20.0), 10.0);
}

}  // namespace dahlo::test
