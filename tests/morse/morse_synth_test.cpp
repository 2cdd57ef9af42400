// The test-signal synthesizer is a measuring instrument for every decoding test, so its timing,
// pitch, level and noise are checked against independent measurements here.

#include "support/morse_synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace dahlo::test {
namespace {

// Power of the component at `hz` over samples [from, to), as the amplitude of a sinusoid.
double ToneAmplitude(const std::vector<std::int16_t>& x, double hz, std::size_t from,
                     std::size_t to) {
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = from; n < to; ++n) {
        const double a = 2.0 * std::numbers::pi * hz * static_cast<double>(n) / kSampleRateHz;
        re += x[n] * std::cos(a);
        im += x[n] * std::sin(a);
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(to - from);
}

std::int64_t Total(const std::vector<KeyRun>& runs, bool down) {
    std::int64_t t = 0;
    for (const KeyRun& r : runs) {
        if (r.down == down) t += r.samples;
    }
    return t;
}

TEST(MorseSynthKeying, ParisTimingAtTwentyWpmIsOneMinuteForTwentyWords) {
    MorseSynthOptions o;
    o.wpm = 20;
    o.lead_silence_s = 0.0;
    o.trail_silence_s = 7 * 1.2 / 20;  // the word gap after the last word
    std::string text;
    for (int i = 0; i < 20; ++i) text += "paris ";
    const std::vector<KeyRun> runs = SynthesizeKeying(text, o);
    EXPECT_NEAR(static_cast<double>(Total(runs, true) + Total(runs, false)), 60.0 * 11025, 1.0);
    // PARIS keys 22 dot lengths of marks per word, in 14 marks each rounded to whole samples.
    EXPECT_NEAR(static_cast<double>(Total(runs, true)), 20 * 22 * DotSamples(20), 20 * 14 * 0.5);
    // Runs alternate and are never empty.
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_GE(runs[i].samples, 1);
        if (i > 0) {
            EXPECT_NE(runs[i].down, runs[i - 1].down);
        }
    }
}

TEST(MorseSynthKeying, ElementsAndGapsOfOneCharacter) {
    MorseSynthOptions o;
    o.wpm = 12;  // dot of exactly 1102.5 samples
    o.lead_silence_s = 0.1;
    const std::vector<KeyRun> runs = SynthesizeKeying("a n", o);
    ASSERT_EQ(runs.size(), 9u);
    const double dot = 1102.5;
    const double expected[] = {1102.5, dot, dot, 3 * dot, 7 * dot, 3 * dot, dot, dot, 11025};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(runs[i].samples), expected[i], 1.0) << "run " << i;
        EXPECT_EQ(runs[i].down, i % 2 == 1) << "run " << i;
    }
}

TEST(MorseSynthKeying, FarnsworthStretchesOnlyTheGaps) {
    MorseSynthOptions o;
    o.wpm = 20;
    o.farnsworth_wpm = 10;
    o.lead_silence_s = 0.0;
    const std::vector<KeyRun> runs = SynthesizeKeying("e e", o);
    ASSERT_GE(runs.size(), 3u);
    EXPECT_NEAR(static_cast<double>(runs[0].samples), DotSamples(20), 1.0);
    const double gapUnit = (60.0 * 20 - 37.2 * 10) / (20.0 * 10) / 19.0 * 11025;
    EXPECT_NEAR(static_cast<double>(runs[1].samples), 7 * gapUnit, 1.0);
}

TEST(MorseSynthKeying, TextSyntax) {
    EXPECT_EQ(MorseElements('Q'), "--.-");
    EXPECT_EQ(MorseElements('q'), "--.-");
    EXPECT_EQ(MorseElements('~'), "");
    MorseSynthOptions o;
    o.lead_silence_s = 0.0;
    o.trail_silence_s = 0.0;
    // "<SK>" is one character of six elements, "[.-.-]" of four; "~" is skipped.
    EXPECT_EQ(SynthesizeKeying("<SK>", o).size(), 11u);
    EXPECT_EQ(SynthesizeKeying("[.-.-]~", o).size(), 7u);
    EXPECT_TRUE(SynthesizeKeying("~~", o).empty());
}

TEST(MorseSynthKeying, JitterIsSeededAndBounded) {
    MorseSynthOptions o;
    o.jitter = 0.1;
    o.seed = 7;
    const auto a = SynthesizeKeying("paris paris", o);
    const auto b = SynthesizeKeying("paris paris", o);
    ASSERT_EQ(a.size(), b.size());
    bool anyDifferent = false;
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].samples, b[i].samples);
    o.seed = 8;
    const auto c = SynthesizeKeying("paris paris", o);
    for (std::size_t i = 1; i + 1 < a.size(); ++i) {
        anyDifferent = anyDifferent || a[i].samples != c[i].samples;
        EXPECT_GT(a[i].samples, 0.2 * DotSamples(20) - 1);
        EXPECT_LT(a[i].samples, 7 * 1.6 * DotSamples(20));
    }
    EXPECT_TRUE(anyDifferent);
}

TEST(MorseSynthAudio, PitchLevelAndKeyedLength) {
    MorseSynthOptions o;
    o.wpm = 12;
    o.signal.pitch_hz = 996.0;
    o.signal.level_dbfs = -6.0;
    o.lead_silence_s = 0.1;
    o.trail_silence_s = 0.1;
    const std::vector<std::int16_t> x = SynthesizeMorse("t", o);  // one dash of 3307.5 samples
    const double amplitude = 32767.0 * std::pow(10.0, -6.0 / 20.0);
    const std::size_t start = 1102 + 200;  // inside the mark, past the rising edge
    EXPECT_NEAR(ToneAmplitude(x, 996.0, start, start + 2205), amplitude, amplitude * 0.01);
    EXPECT_LT(ToneAmplitude(x, 1200.0, start, start + 2205), amplitude * 0.01);
    // The tone spans the keyed length plus one edge (it is keyed length at half height).
    std::size_t first = x.size();
    std::size_t last = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        if (std::abs(x[n]) > 0) {
            first = std::min(first, n);
            last = n;
        }
    }
    const double rise = 0.005 * 11025;
    EXPECT_NEAR(static_cast<double>(last - first), 3 * 1102.5 + rise, 6.0);
    EXPECT_EQ(x.front(), 0);
    EXPECT_EQ(x.back(), 0);
}

TEST(MorseSynthAudio, NoiseMatchesTheStatedSnr) {
    MorseSynthOptions o;
    o.lead_silence_s = 5.0;
    o.trail_silence_s = 0.0;
    o.snr_db = 10.0;
    const std::vector<std::int16_t> x = SynthesizeMorse("", o);
    double sum = 0.0;
    double sumSq = 0.0;
    for (const std::int16_t v : x) {
        sum += v;
        sumSq += static_cast<double>(v) * v;
    }
    const double n = static_cast<double>(x.size());
    const double sigma = std::sqrt(sumSq / n - (sum / n) * (sum / n));
    const double amplitude = 32767.0 * std::pow(10.0, -6.0 / 20.0);
    // Tone power A^2/2 against the noise in 2500 of the 5512.5 Hz: sigma^2 * 2500 / 5512.5.
    const double expected = std::sqrt(amplitude * amplitude / 2.0 / 10.0 * 5512.5 / 2500.0);
    EXPECT_NEAR(sigma, expected, expected * 0.02);
    EXPECT_NEAR(NoiseSigmaFor(amplitude, 10.0), expected, 1e-9);
    EXPECT_EQ(SynthesizeMorse("", o), x);  // the same seed gives the same noise
    o.seed = 2;
    EXPECT_NE(SynthesizeMorse("", o), x);
}

TEST(MorseSynthAudio, InterfererAndDrift) {
    MorseSynthOptions o;
    o.wpm = 10;
    o.lead_silence_s = 0.0;
    o.trail_silence_s = 0.0;
    o.rise_time_s = 0.0;
    o.signal.drift_hz_per_s = 100.0;
    o.interferer = Interferer{"t", 5.0, {1500.0, -12.0, 0.0, 0.0}, 0.0};
    // "t" at 10 wpm: 0.36 s of tone, sweeping 996 -> 1032 Hz.
    const std::vector<std::int16_t> x = SynthesizeMorse("t", o);
    ASSERT_GE(x.size(), 3969u);
    const double a = 32767.0 * std::pow(10.0, -6.0 / 20.0);
    EXPECT_GT(ToneAmplitude(x, 998.0, 0, 441), 0.9 * a);
    EXPECT_GT(ToneAmplitude(x, 1030.0, 3969 - 441, 3969), 0.9 * a);
    EXPECT_LT(ToneAmplitude(x, 996.0, 3969 - 441, 3969), 0.5 * a);
    EXPECT_NEAR(ToneAmplitude(x, 1500.0, 0, 3969), a / 2, a * 0.02);  // -12 dBFS
}

}  // namespace
}  // namespace dahlo::test
