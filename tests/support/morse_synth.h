#pragma once
// Morse test signals: text to sample-exact keying and to 16-bit audio at 11025 Hz, with speed,
// pitch, level, soft edges, noise, hand-keying jitter, extra spacing, an interfering signal and
// slow drift. Everything is deterministic for a given seed.
//
// Text: letters (either case), digits and the punctuation the English charset knows; one or more
// blanks make one word space. "<SK>" sends the letters between the angle brackets as one
// character without gaps (prosigns, or "<CQ>"); "[.-.-]" sends the given elements as one
// character. Other bytes are skipped.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dsp/sample_rate.h"

namespace dahlo::test {

// The elements of one character of the English Morse alphabet ("." and "-"), or empty when the
// byte has none. Letters are matched in either case.
std::string_view MorseElements(char c);

// One run of the key: `down` for a mark, else a space; `samples` >= 1.
struct KeyRun {
    bool down = false;
    std::int64_t samples = 0;
};

struct SignalSpec {
    double pitch_hz = 996.0;
    double level_dbfs = -6.0;  // peak of the tone against 32767
    double amplitude = 0.0;    // peak in 16-bit units; used instead of level_dbfs when > 0
    double drift_hz_per_s = 0.0;
};

struct Interferer {
    std::string text;
    double wpm = 25.0;
    SignalSpec signal{1200.0, -6.0, 0.0, 0.0};
    double start_s = 0.0;  // from the start of the main signal's leading silence
};

struct MorseSynthOptions {
    double wpm = 20.0;  // PARIS timing: one dot lasts 1.2 / wpm seconds
    // Farnsworth: characters at `wpm`, gaps stretched so the text runs at this overall speed
    // (0: off; only used when below `wpm`).
    double farnsworth_wpm = 0.0;
    double extra_word_space_dots = 0.0;  // added to every word space
    // Gaps between the letters of a word drawn evenly from this range of dots instead of 3 (used
    // when the upper end is above 0): keyers and hands that pause inside words.
    double letter_gap_min_dots = 0.0;
    double letter_gap_max_dots = 0.0;
    // Speed changes: from the character with index `character` (0-based, counting sent
    // characters) on, the text is sent at `wpm` (characters and gaps alike).
    struct SpeedStep {
        std::size_t character = 0;
        double wpm = 20.0;
    };
    std::vector<SpeedStep> speed_steps;
    SignalSpec signal;
    double rise_time_s = 0.005;  // raised-cosine edge; the mark lasts its length at half height
    // Noise: white Gaussian, SNR of the tone (power during a mark) against the noise in a
    // 2500 Hz bandwidth, in dB. Absent: no noise.
    std::optional<double> snr_db;
    double jitter = 0.0;  // standard deviation of each element's and gap's length, relative
    // Slow fading of the main tone (not of the noise): its level swings by qsb_depth_db along a
    // raised cosine of period qsb_period_s (0: steady), starting at the peak. The level and the
    // SNR state the tone's mean power over the fade; the peak lies above them (about 3.6 dB for
    // an 8 dB fade), the trough below.
    double qsb_depth_db = 0.0;
    double qsb_period_s = 7.0;
    double lead_silence_s = 0.5;
    double trail_silence_s = 1.0;
    std::optional<Interferer> interferer;
    std::uint64_t seed = 1;
};

// Samples of one dot at `wpm`, in fractional samples (13230 / wpm).
double DotSamples(double wpm);

// The key as runs of marks and spaces, beginning with the leading silence and ending with the
// trailing one; each boundary is rounded to the nearest sample.
std::vector<KeyRun> SynthesizeKeying(std::string_view text, const MorseSynthOptions& options);

// The keying expanded to one 0/1 decision per sample.
std::vector<int> KeyDecisions(const std::vector<KeyRun>& runs);

// The audio for `text`.
std::vector<std::int16_t> SynthesizeMorse(std::string_view text, const MorseSynthOptions& options);

// The noise standard deviation in 16-bit units that gives `snr_db` in a 2500 Hz bandwidth for a
// tone of peak `amplitude`.
double NoiseSigmaFor(double amplitude, double snr_db);

}  // namespace dahlo::test
