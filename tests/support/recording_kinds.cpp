#include "support/recording_kinds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "support/morse_synth.h"

namespace dahlo::test {

namespace {

const char* const kTexts[] = {
    "cq cq de dl1abc dl1abc pse k",
    "r ok tnx fer call ur rst 579 579 name hans qth berlin",
    "the quick brown fox jumps over the lazy dog 1234567890",
    "wx sunny temp 22c rig 100w ant dipole hw cpy",
};

// splitmix64 and Box-Muller: the same numbers on every platform.
class Noise {
  public:
    explicit Noise(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 12345) {}
    double Gaussian() {
        const double u1 = (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53;
        const double u2 = (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53;
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }

  private:
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
};

// A second-order section of the audio-EQ cookbook.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    static Biquad Make(bool highPass, double hz) {
        const double w = 2.0 * std::numbers::pi * hz / kSampleRateHz;
        const double alpha = std::sin(w) / (2.0 * std::sqrt(0.5));
        const double c = std::cos(w);
        const double a0 = 1.0 + alpha;
        Biquad q;
        q.b0 = (highPass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0) / a0;
        q.b1 = (highPass ? -(1.0 + c) : 1.0 - c) / a0;
        q.b2 = q.b0;
        q.a1 = -2.0 * c / a0;
        q.a2 = (1.0 - alpha) / a0;
        return q;
    }
    double Step(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

std::vector<std::int16_t> ToSamples(const std::vector<double>& mix) {
    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        out[i] = static_cast<std::int16_t>(std::clamp(std::lround(mix[i]), -32768L, 32767L));
    }
    return out;
}

std::vector<double> ToDouble(const std::vector<std::int16_t>& samples) {
    return std::vector<double>(samples.begin(), samples.end());
}

double AmplitudeOf(double levelDbfs) {
    return 32767.0 * std::pow(10.0, levelDbfs / 20.0);
}

}  // namespace

const char* KindName(RecordingKind kind) {
    switch (kind) {
        case RecordingKind::kSpeedStep:
            return "speed step 15 -> 30 WPM";
        case RecordingKind::kHandKeyed:
            return "hand keying, jitter 0.1, 18 WPM";
        case RecordingKind::kFarnsworth:
            return "Farnsworth 20/10 WPM";
        case RecordingKind::kLongLetterGaps:
            return "6..13 dots between letters";
        case RecordingKind::kPlain800Hz:
            return "standard input, 800 Hz";
        case RecordingKind::kWeakSignal:
            return "weak call, receiver noise";
        case RecordingKind::kNoiseTail:
            return "noise tail rising 25 dB";
        case RecordingKind::kIdentPause:
            return "beacon idents, 3.5 s pause";
    }
    return "";
}

std::vector<double> ReceiverNoise(std::size_t samples, double amplitude, double snr_db,
                                  const std::vector<double>& gain_db, std::uint64_t seed,
                                  Passband band) {
    Noise noise(seed);
    Biquad stages[4] = {Biquad::Make(true, band.low_hz), Biquad::Make(true, band.low_hz),
                        Biquad::Make(false, band.high_hz), Biquad::Make(false, band.high_hz)};
    std::vector<double> out(samples);
    double power = 0.0;
    for (std::size_t n = 0; n < samples; ++n) {
        double x = noise.Gaussian();
        for (Biquad& q : stages) x = q.Step(x);
        out[n] = x;
        power += x * x;
    }
    power /= static_cast<double>(std::max<std::size_t>(samples, 1));
    const double want = amplitude * amplitude / 2.0 / std::pow(10.0, snr_db / 10.0);
    const double scale = power > 0.0 ? std::sqrt(want / power) : 0.0;
    for (std::size_t n = 0; n < samples; ++n) {
        const double g = n < gain_db.size() ? std::pow(10.0, gain_db[n] / 20.0) : 1.0;
        out[n] *= scale * g;
    }
    return out;
}

KindRecording MakeKindRecording(RecordingKind kind, int variant, bool noisy) {
    const int v = ((variant % 4) + 4) % 4;
    const auto seed = static_cast<std::uint64_t>(31 * v + 7 * static_cast<int>(kind) + 1);
    MorseSynthOptions o;
    o.seed = seed;
    o.signal.pitch_hz = 550.0 + 150.0 * v;
    o.signal.level_dbfs = -15.0 - 8.0 * v;
    if (noisy) o.snr_db = 3.0;
    KindRecording r;
    r.sent = kTexts[v];
    switch (kind) {
        case RecordingKind::kSpeedStep: {
            o.wpm = 15.0;
            std::size_t characters = 0;
            for (const char c : r.sent) characters += c != ' ' ? 1 : 0;
            o.speed_steps.push_back({characters / 2, 30.0});
            break;
        }
        case RecordingKind::kHandKeyed:
            o.wpm = 18.0;
            o.jitter = 0.1;
            break;
        case RecordingKind::kFarnsworth:
            o.wpm = 20.0;
            o.farnsworth_wpm = 10.0;
            break;
        case RecordingKind::kLongLetterGaps:
            o.wpm = 20.0;
            o.letter_gap_min_dots = 6.0;
            o.letter_gap_max_dots = 13.0;
            o.extra_word_space_dots = 14.0;
            break;
        case RecordingKind::kPlain800Hz:
            o.wpm = 16.0 + 4.0 * v;
            o.signal.pitch_hz = 800.0;
            break;
        case RecordingKind::kWeakSignal: {
            // A faint call in a longer stretch of the receiver's noise.
            r.sent = v % 2 == 0 ? "cq de dl1abc k" : "vvv de ok0ek";
            o.wpm = 22.0 + 2.0 * v;
            o.signal.level_dbfs = -48.0;
            o.snr_db.reset();
            o.lead_silence_s = 20.0 + 2.0 * v;
            o.trail_silence_s = 30.0;
            std::vector<double> mix = ToDouble(SynthesizeMorse(r.sent, o));
            const std::vector<double> noise =
                ReceiverNoise(mix.size(), AmplitudeOf(o.signal.level_dbfs), 0.0, {}, seed);
            for (std::size_t n = 0; n < mix.size(); ++n) mix[n] += noise[n];
            r.samples = ToSamples(mix);
            return r;
        }
        case RecordingKind::kNoiseTail: {
            // The call in quiet noise; when it ends the AGC lifts the noise by 25 dB within a few
            // seconds and holds it there.
            o.wpm = 18.0 + 4.0 * v;
            o.snr_db.reset();
            o.trail_silence_s = 0.5;
            std::vector<double> mix = ToDouble(SynthesizeMorse(r.sent, o));
            const std::size_t signalEnd = mix.size();
            mix.resize(signalEnd + static_cast<std::size_t>(150 * kSampleRateHz), 0.0);
            std::vector<double> gain(mix.size(), 0.0);
            for (std::size_t n = signalEnd; n < mix.size(); ++n) {
                const double t = static_cast<double>(n - signalEnd) / kSampleRateHz;
                gain[n] = 25.0 * (1.0 - std::exp(-t / 3.0));
            }
            const std::vector<double> noise =
                ReceiverNoise(mix.size(), AmplitudeOf(o.signal.level_dbfs), 20.0, gain, seed);
            for (std::size_t n = 0; n < mix.size(); ++n) mix[n] += noise[n];
            r.samples = ToSamples(mix);
            return r;
        }
        case RecordingKind::kIdentPause: {
            // The receiver's AGC lifts its noise (through its CW filter, the tone near the
            // filter's upper edge) in every silence, by up to 15 dB within a few seconds, and
            // drops it at once when the beacon keys again.
            const std::string ident = v % 2 == 0 ? "vvv de db0abc jo62" : "de ok0ek ok0ek jn79";
            r.sent = ident + " " + ident;
            o.wpm = 16.0 + 3.0 * v;
            o.snr_db.reset();
            // 1.75 s after the first and 1.75 s before the second: a pause of 3.5 s.
            o.lead_silence_s = 1.75;
            o.trail_silence_s = 1.75;
            const std::vector<std::int16_t> one = SynthesizeMorse(ident, o);
            std::vector<double> mix = ToDouble(one);
            mix.insert(mix.end(), one.begin(), one.end());
            std::vector<int> keyed = KeyDecisions(SynthesizeKeying(ident, o));
            keyed.resize(one.size(), 0);
            keyed.insert(keyed.end(), keyed.begin(), keyed.end());
            keyed.resize(mix.size(), 0);
            std::vector<double> gain(mix.size(), 0.0);
            double silent = 0.0;  // seconds since the last mark
            for (std::size_t n = 0; n < mix.size(); ++n) {
                silent = keyed[n] != 0 ? 0.0 : silent + 1.0 / kSampleRateHz;
                gain[n] = 10.0 * (1.0 - std::exp(-std::max(0.0, silent - 0.3) / 1.5));
            }
            const std::vector<double> noise =
                ReceiverNoise(mix.size(), AmplitudeOf(o.signal.level_dbfs), 10.0, gain, seed,
                              {o.signal.pitch_hz - 350.0, o.signal.pitch_hz + 60.0});
            for (std::size_t n = 0; n < mix.size(); ++n) mix[n] += noise[n];
            r.samples = ToSamples(mix);
            return r;
        }
    }
    r.samples = SynthesizeMorse(r.sent, o);
    return r;
}

}  // namespace dahlo::test
