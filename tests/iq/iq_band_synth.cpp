#include "iq/iq_band_synth.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>

#include <nlohmann/json.hpp>

#include "support/morse_synth.h"

namespace dahlo::test {

namespace {

constexpr double kNoiseBandwidthHz = 2500.0;  // the SNR's reference bandwidth
constexpr double kRiseS = 0.005;              // raised-cosine key edge

// Half-height shaping of a key edge `x` seconds after it (negative: before).
double Edge(double x) {
    if (x <= -kRiseS / 2) return 0.0;
    if (x >= kRiseS / 2) return 1.0;
    return 0.5 + 0.5 * std::sin(M_PI * x / kRiseS);
}

std::string RandomCall(std::mt19937_64& random) {
    static const char* const kPrefixes[] = {"K", "W", "N", "DL", "G", "F", "JA", "VK", "OH", "SP",
                                            "OK", "UA", "EA", "I", "PA", "ON", "LZ", "YO", "HA"};
    std::uniform_int_distribution<int> prefix(0, std::size(kPrefixes) - 1);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> letter(0, 25);
    std::uniform_int_distribution<int> length(2, 3);
    std::string call = kPrefixes[prefix(random)];
    call += static_cast<char>('0' + digit(random));
    for (int i = length(random); i > 0; --i) call += static_cast<char>('A' + letter(random));
    return call;
}

}  // namespace

double IqAmplitudeFor(const IqBand& band, double snr_db) {
    const double noisePower = std::pow(10.0, band.noise_dbfs / 10.0) * kNoiseBandwidthHz / band.rate_hz;
    return std::sqrt(noisePower * std::pow(10.0, snr_db / 10.0));
}

IqBand RandomIqBand(int count, double rate_hz, double centre_hz, double duration_s,
                    std::uint64_t seed, double min_spacing_hz) {
    IqBand band;
    band.rate_hz = rate_hz;
    band.centre_hz = centre_hz;
    band.duration_s = duration_s;
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> offset(-0.45 * rate_hz, 0.45 * rate_hz);
    std::uniform_real_distribution<double> snr(8.0, 30.0);
    std::uniform_real_distribution<double> wpm(16.0, 35.0);
    std::uniform_real_distribution<double> start(0.2, 3.0);
    std::uniform_real_distribution<double> period(5.0, 15.0);
    for (int tries = 0; static_cast<int>(band.stations.size()) < count && tries < 100000; ++tries) {
        IqStation s;
        s.offset_hz = std::round(offset(random));
        const bool crowded = std::any_of(band.stations.begin(), band.stations.end(), [&](auto& o) {
            return std::abs(o.offset_hz - s.offset_hz) < min_spacing_hz;
        });
        if (crowded) continue;
        s.snr_db = std::round(snr(random));
        s.wpm = std::round(wpm(random));
        s.start_s = start(random);
        if (band.stations.size() % 3 == 2) {
            s.qsb_depth_db = 10.0;
            s.qsb_period_s = period(random);
        }
        s.call = RandomCall(random);
        std::string lower = s.call;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string once = random() % 2 == 0 ? "cq cq de " + lower + " " + lower + " k "
                                                   : "test " + lower + " " + lower + " ";
        // Repeat while the keying still ends a second before the band does.
        MorseSynthOptions keying;
        keying.wpm = s.wpm;
        keying.lead_silence_s = s.start_s;
        keying.trail_silence_s = 0.0;
        const auto seconds = [&](const std::string& text) {
            std::int64_t samples = 0;
            for (const KeyRun& run : SynthesizeKeying(text, keying)) samples += run.samples;
            return static_cast<double>(samples) / kSampleRateHz;
        };
        while (seconds(s.text + once) < duration_s - 1.0) s.text += once;
        if (s.text.empty()) s.text = once;
        while (!s.text.empty() && s.text.back() == ' ') s.text.pop_back();
        band.stations.push_back(s);
    }
    return band;
}

std::vector<std::complex<float>> SynthesizeIqBand(const IqBand& band, std::uint64_t seed) {
    const auto total = static_cast<std::size_t>(band.duration_s * band.rate_hz);
    std::vector<std::complex<double>> mix(total);
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> phase(0.0, 2 * M_PI);
    for (const IqStation& s : band.stations) {
        MorseSynthOptions options;
        options.wpm = s.wpm;
        options.lead_silence_s = s.start_s;
        options.trail_silence_s = 0.0;
        const std::vector<KeyRun> runs = SynthesizeKeying(s.text, options);
        const double amplitude = IqAmplitudeFor(band, s.snr_db);
        const double phase0 = phase(random);
        const double qsbPhase = phase(random);
        double t = 0.0;  // seconds at the start of the run
        for (const KeyRun& run : runs) {
            const double end = t + static_cast<double>(run.samples) / kSampleRateHz;
            if (run.down) {
                const auto first = static_cast<std::size_t>(
                    std::max(0.0, std::floor((t - kRiseS) * band.rate_hz)));
                const auto last = std::min(
                    total, static_cast<std::size_t>(std::ceil((end + kRiseS) * band.rate_hz)));
                for (std::size_t n = first; n < last; ++n) {
                    const double time = static_cast<double>(n) / band.rate_hz;
                    const double fadeDb = s.qsb_depth_db / 2 *
                                          (std::sin(2 * M_PI * time / s.qsb_period_s + qsbPhase) - 1);
                    const double a = amplitude * Edge(time - t) * Edge(end - time) *
                                     std::pow(10.0, fadeDb / 20.0);
                    const double cycles = std::fmod(s.offset_hz * static_cast<double>(n) / band.rate_hz, 1.0);
                    mix[n] += std::polar(a, 2 * M_PI * cycles + phase0);
                }
            }
            t = end;
        }
    }
    const double sigma = std::pow(10.0, band.noise_dbfs / 20.0) / std::sqrt(2.0);
    std::normal_distribution<double> noise(0.0, sigma);
    std::vector<std::complex<float>> out(total);
    for (std::size_t n = 0; n < total; ++n) {
        const std::complex<double> v = mix[n] + std::complex<double>(noise(random), noise(random));
        out[n] = {static_cast<float>(std::clamp(v.real(), -1.0, 1.0)),
                  static_cast<float>(std::clamp(v.imag(), -1.0, 1.0))};
    }
    return out;
}

std::string WriteIqWav(const std::string& path, const std::vector<std::complex<float>>& samples,
                       double rate_hz, bool float32) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate_hz));
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (float32 ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) return path + ": " + sf_strerror(nullptr);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const auto frames = static_cast<sf_count_t>(samples.size());
    const bool ok = sf_writef_float(file, reinterpret_cast<const float*>(samples.data()), frames) == frames;
    sf_close(file);
    return ok ? "" : path + ": write failed";
}

std::string WriteIqSigmf(const std::string& base, const std::vector<std::complex<float>>& samples,
                         double rate_hz, double centre_hz, const std::string& datatype) {
    nlohmann::json meta;
    meta["global"] = {{"core:datatype", datatype},
                      {"core:sample_rate", rate_hz},
                      {"core:version", "1.0.0"},
                      {"core:description", "Dahlo test band"}};
    meta["captures"] = nlohmann::json::array({{{"core:sample_start", 0}, {"core:frequency", centre_hz}}});
    meta["annotations"] = nlohmann::json::array();
    std::ofstream(base + ".sigmf-meta") << meta.dump(2) << "\n";
    std::ofstream data(base + ".sigmf-data", std::ios::binary);
    if (datatype == "cf32_le") {
        data.write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof samples[0]));
    } else if (datatype == "ci16_le") {
        std::vector<std::int16_t> ints(2 * samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ints[2 * i] = static_cast<std::int16_t>(std::lround(std::clamp(samples[i].real() * 32767.0f, -32768.0f, 32767.0f)));
            ints[2 * i + 1] = static_cast<std::int16_t>(std::lround(std::clamp(samples[i].imag() * 32767.0f, -32768.0f, 32767.0f)));
        }
        data.write(reinterpret_cast<const char*>(ints.data()),
                   static_cast<std::streamsize>(ints.size() * sizeof ints[0]));
    } else {
        return datatype + ": not a datatype written here";
    }
    return data ? "" : base + ".sigmf-data: write failed";
}

std::string WriteIqCu8(const std::string& path, const std::vector<std::complex<float>>& samples) {
    std::vector<unsigned char> bytes(2 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = static_cast<unsigned char>(std::lround(std::clamp(samples[i].real() * 127.5f + 127.5f, 0.0f, 255.0f)));
        bytes[2 * i + 1] = static_cast<unsigned char>(std::lround(std::clamp(samples[i].imag() * 127.5f + 127.5f, 0.0f, 255.0f)));
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out ? "" : path + ": write failed";
}

std::string WriteIqTruth(const std::string& path, const IqBand& band) {
    std::ofstream out(path);
    out << "rf_hz\toffset_hz\tsnr_db\twpm\tqsb_db\tcall\ttext\n";
    char line[160];
    for (const IqStation& s : band.stations) {
        std::snprintf(line, sizeof line, "%.1f\t%.1f\t%.1f\t%.0f\t%.0f\t", band.centre_hz + s.offset_hz,
                      s.offset_hz, s.snr_db, s.wpm, s.qsb_depth_db);
        out << line << s.call << "\t" << s.text << "\n";
    }
    return out ? "" : path + ": write failed";
}

}  // namespace dahlo::test
