#pragma once
// A band of CW stations as complex baseband, for the IQ front end's tests and accuracy runs:
// stations at their own offset, level, speed and start, some with slow fading (QSB), in white
// noise; written as a stereo sound file, SigMF or raw cu8, with the truth beside it.

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace dahlo::test {

struct IqStation {
    double offset_hz = 0.0;   // from the band centre
    double snr_db = 20.0;     // tone power against the noise in 2500 Hz
    double wpm = 20.0;
    double start_s = 0.5;
    double qsb_depth_db = 0.0;  // peak-to-peak of a slow sinusoidal fade; 0: steady
    double qsb_period_s = 8.0;
    std::string text;
    std::string call;
};

struct IqBand {
    double rate_hz = 48000.0;
    double centre_hz = 7020000.0;
    double duration_s = 30.0;
    double noise_dbfs = -45.0;  // RMS of the complex noise per sample, over the whole band
    std::vector<IqStation> stations;
};

// `count` stations at random offsets (at least `min_spacing_hz` apart, inside +-0.45 of the
// rate), 16..35 WPM, SNR 8..30 dB, a third of them fading, each sending CQ or TEST and its call
// until `duration_s`.
IqBand RandomIqBand(int count, double rate_hz, double centre_hz, double duration_s,
                    std::uint64_t seed, double min_spacing_hz = 120.0);

// The band's samples, full scale at magnitude 1 (clipped there).
std::vector<std::complex<float>> SynthesizeIqBand(const IqBand& band, std::uint64_t seed);

// Tone amplitude (magnitude) for an SNR against the band's noise in 2500 Hz.
double IqAmplitudeFor(const IqBand& band, double snr_db);

// Writers; each returns an error line, empty on success.
std::string WriteIqWav(const std::string& path, const std::vector<std::complex<float>>& samples,
                       double rate_hz, bool float32);
// `base` without extension: writes base.sigmf-meta and base.sigmf-data ("cf32_le" or "ci16_le").
std::string WriteIqSigmf(const std::string& base, const std::vector<std::complex<float>>& samples,
                         double rate_hz, double centre_hz, const std::string& datatype);
std::string WriteIqCu8(const std::string& path, const std::vector<std::complex<float>>& samples);
// One line per station: rf_hz offset_hz snr_db wpm call text (tab-separated, with a header).
std::string WriteIqTruth(const std::string& path, const IqBand& band);

}  // namespace dahlo::test
