#pragma once
// Presetting the controls from a look at a recording, for a file decoded with no operator at hand:
// the pitch from the averaged spectrum, the threshold from the envelope's level distribution, the
// burst-filter speed and the decoder's start from a first decoding pass. Every pass streams the
// file again; nothing holds the samples.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "tools/decode_session.h"
#include "tools/sample_source.h"

namespace dahlo {

// Distribution of positive values in log-spaced bins (64 per octave, about 1.1 % wide) from 2^-40
// to 2^12; values outside land in the end bins. Fixed size, so a pass over any length of input
// needs the same memory.
class LevelHistogram {
  public:
    void Add(double value) {
        ++counts_[BinOf(value)];
        ++total_;
    }
    // The value below which `fraction` (0..1) of the added values lie, to within a bin.
    double Percentile(double fraction) const;
    std::int64_t Total() const { return total_; }

  private:
    static constexpr int kSubBins = 64;
    static constexpr int kMinExponent = -40;
    static constexpr int kMaxExponent = 12;
    static constexpr int kBins = (kMaxExponent - kMinExponent) * kSubBins;
    static int BinOf(double value);
    std::array<std::int64_t, kBins> counts_{};
    std::int64_t total_ = 0;
};

// The menu speeds the presets choose from, slowest first, with their integration lengths.
inline constexpr std::array<int, 4> kPresetBurstSpeeds = {100, 200, 300, 500};

// Bin (30..450) whose averaged spectrum stands highest above the median of the 41 bins around
// it: every whole block transformed and smoothed as the spectrum stage does. `fallback` when the
// input has no whole block or is silent.
int EstimatePitchBin(SampleSource& source, int fallback, ProgressReporter* progress = nullptr,
                     double progressStart = 0.0, double progressSpan = 1.0);

// The envelope's noise (20th percentile) and mark (97th percentile) levels.
struct EnvelopeLevels {
    double noise = 0.0;
    double mark = 0.0;
};

// Threshold between them: sqrt(max(noise, floor * mark) * mark), rounded to 0.0001 and at least
// 0.0001.
double ThresholdFromLevels(double noise, double mark, double floor);

// The floor for the final threshold. A low one (threshold 0.17 of the mark on a clean signal)
// keeps marks faded by 12 dB above the threshold; at high speed the narrow filter's ringing
// fills the short gaps below such a threshold, so dots under 420 samples (above about 30 WPM)
// keep 0.1 (0.32 of the mark).
double NoiseFloorForDot(std::int64_t dot);
inline constexpr double kFirstPassNoiseFloor = 0.1;

// The levels from the distribution of a burst filter's running sum of squares over `window`
// samples (the envelope is sqrt(sum / window)).
EnvelopeLevels LevelsFromSums(const LevelHistogram& sumsOfSquares, int window);

// Levels of the envelope of the filter (`width`, `bin`) at each of kPresetBurstSpeeds.
std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> EstimateLevels(
    SampleSource& source, int width, int bin, ProgressReporter* progress = nullptr,
    double progressStart = 0.0, double progressSpan = 1.0);

// The same levels, and how much the mark level moves over the recording: the envelope (200 LPM
// window) is cut into segments of kSpreadSegmentSamples, each segment's mark is its 97th
// percentile, and the spread is the ratio of the 80th to the 20th percentile of those marks (1
// for a steady signal, about 3 for a signal fading by 12 dB; 1 with fewer than 3 segments).
inline constexpr std::int64_t kSpreadSegmentSamples = 3 * kDecodeRateHz;
struct EnvelopeSurvey {
    std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> levels{};
    double markSpread = 1.0;
};
EnvelopeSurvey SurveyEnvelope(SampleSource& source, int width, int bin,
                              ProgressReporter* progress = nullptr, double progressStart = 0.0,
                              double progressSpan = 1.0);

// Mark spread above which a recording counts as fading (about 4 dB between the quieter and the
// louder segments: a steady signal in any noise stays under 1.08) and the presets are chosen by
// trial.
inline constexpr double kFadingSpread = 1.15;

// How much decoded text looks like Morse sent by a person rather than noise keyed into the
// decoder: characters of plausible words count +1, characters of junk words -2. Junk words are
// those holding an undecodable form ('#' or "{ ... }") and those made only of the one- and
// two-element letters e, t, i, a, n, m, which noise produces. Empty text scores 0.
double MorseTextScore(std::string_view text);

// Samples a trial decode looks at: the first minute, which keeps three or four trials within a
// tenth of the time of the other looks at a long recording.
inline constexpr std::int64_t kTrialSamples = 60LL * kDecodeRateHz;

// Decodes the first kTrialSamples of `source` with `controls` and returns MorseTextScore of the
// text.
double TrialScore(SampleSource& source, const ReceiverControls& controls);

// Median dot length (samples) of a decoding pass with `controls`, over the blocks after the first
// 20 % of the input; 0 when the decoder never settled (no block counted).
std::int64_t MedianDotLength(SampleSource& source, const ReceiverControls& controls,
                             ProgressReporter* progress = nullptr, double progressStart = 0.0,
                             double progressSpan = 1.0);

// Burst-filter speed for a dot: the slowest menu speed whose integration length is not above half
// the dot (dot >= 700 samples: 100 LPM, >= 350: 200, >= 234: 300, else 500).
int BurstSpeedForDot(std::int64_t dot);

// What the caller fixed; the presets fill in the rest.
struct PresetRequest {
    std::optional<int> centreBin;
    std::optional<int> filterWidth;
    std::optional<double> threshold;  // a level; auto threshold counts as given
    std::optional<int> burstLpm;
    bool warmStart = true;
};

// Fills `controls` (already holding the window defaults and every option) from the recording.
void PresetControls(SampleSource& source, const PresetRequest& request, ReceiverControls& controls,
                    ProgressReporter* progress = nullptr);

}  // namespace dahlo
