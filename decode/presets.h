#pragma once
// Presetting the controls from a look at a recording, for a file decoded with no operator at hand:
// the pitch from the averaged spectrum, and where along the recording that pitch stands out (the
// signal is there); the threshold from the envelope's level distribution there; the burst-filter
// speed, the decoder's start and the word space from a first decoding pass, and where the speed
// changes, changes of them along the recording. Every pass streams the input again; nothing
// holds the samples.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "decode/decode_session.h"
#include "dsp/level_histogram.h"
#include "receiver/envelope_levels.h"
#include "decode/morse_squelch.h"
#include "decode/preset_plan.h"
#include "recording/sample_source.h"

namespace dahlo {

// The looks cut the input into segments of 16 blocks (2.97 s); the last may be shorter.
inline constexpr int kSegmentBlocks = 16;
inline constexpr std::int64_t kSegmentSamples = kSegmentBlocks * kBlockSamples;

// The averaged spectrum of the input (every whole block transformed and smoothed as the spectrum
// stage does). `bin` (30..450) stands highest above the median of the 41 bins around it, over the
// whole input; `present[s]` says whether segment s has a peak within 3 bins of it standing at
// least kPresenceRatio above its own median there: the signal is on in that segment.
struct SpectrumLook {
    int bin = 0;
    std::vector<bool> present;
};
inline constexpr double kPresenceRatio = 2.0;
SpectrumLook LookAtSpectrum(SampleSource& source, int fallbackBin,
                            std::optional<int> givenBin = std::nullopt,
                            ProgressReporter* progress = nullptr, double progressStart = 0.0,
                            double progressSpan = 1.0);

// LookAtSpectrum's bin; `fallback` when the input has no whole block or is silent.
int EstimatePitchBin(SampleSource& source, int fallback, ProgressReporter* progress = nullptr,
                     double progressStart = 0.0, double progressSpan = 1.0);

// The levels of the envelope of the filter (`width`, `bin`) at each of kPresetBurstSpeeds, over
// the segments where the signal is present (all when `present` is empty or has none), and how
// much the mark level moves from segment to segment there: each segment's mark is the 97th
// percentile of its envelope (200 LPM window), and the spread is the ratio of the 80th to the
// 20th percentile of those marks (1 for a steady signal, about 3 for a signal fading by 12 dB; 1
// with fewer than 3 segments).
struct EnvelopeSurvey {
    std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> levels{};
    double markSpread = 1.0;
};
EnvelopeSurvey SurveyEnvelope(SampleSource& source, int width, int bin,
                              const std::vector<bool>& present = {},
                              ProgressReporter* progress = nullptr, double progressStart = 0.0,
                              double progressSpan = 1.0);
std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> EstimateLevels(
    SampleSource& source, int width, int bin, ProgressReporter* progress = nullptr,
    double progressStart = 0.0, double progressSpan = 1.0);

// Mark spread above which a recording counts as fading (about 4 dB between the quieter and the
// louder segments: a steady signal in any noise stays under 1.08) and the presets are chosen by
// trial.
inline constexpr double kFadingSpread = 1.15;

// Samples a trial decode looks at: the first minute, which keeps three or four trials within a
// tenth of the time of the other looks at a long recording.
inline constexpr std::int64_t kTrialSamples = 60LL * kSampleRateHz;

// Decodes the first kTrialSamples of `source` with `controls` and returns MorseTextScore of the
// text.
double TrialScore(SampleSource& source, const ReceiverControls& controls);

// Spaces between marks in dot lengths (the decoder's dot length when the space ended), from 1.8
// (the decoder's end of a character) up, in log-spaced bins.
class GapHistogram {
  public:
    void Add(double dots);
    std::int64_t Total() const { return total_; }
    // The word space the gaps call for, in tenths of a dot of a decode whose marks come out
    // `smearChange` samples longer than those of the pass that measured the gaps (`dot`, its
    // median dot; 0: the same decode). 0 (the decoder's 5 dots) unless the gaps up to four times
    // the commonest fall into two clear groups, letter gaps and word gaps; each group is taken as
    // a log-normal distribution, and the word space that sorts the fewest gaps into the wrong
    // group is chosen when it sorts at least one gap in a hundred better than 5 dots.
    int WordSpaceTenths(double dot = 0.0, double smearChange = 0.0) const;

  private:
    static constexpr double kLowest = 1.8;
    static constexpr double kStep = 0.05;  // natural log
    static constexpr int kBins = 64;       // up to about 44 dots
    double ValueAt(double bin) const;
    std::array<std::int64_t, kBins> counts_{};
    std::int64_t total_ = 0;
};

// How many samples longer a mark comes out of a burst window of `window` samples with the
// threshold at `fraction` of the mark's envelope: the envelope (a moving RMS) reaches the
// threshold fraction^2 of a window after the tone starts and falls below it 1 - fraction^2 of a
// window after it ends.
double MarkSmear(int window, double fraction);

// What a first decoding pass tells about the keying, where the signal is present.
struct KeyingLook {
    std::int64_t medianDot = 0;             // over the present blocks after the first fifth of them
    std::vector<std::int64_t> segmentDots;  // median dot of each segment; 0 when not present
    GapHistogram gaps;
};
KeyingLook LookAtKeying(SampleSource& source, const ReceiverControls& controls,
                        const std::vector<bool>& present, ProgressReporter* progress = nullptr,
                        double progressStart = 0.0, double progressSpan = 1.0);

// What the caller fixed; the presets fill in the rest.
struct PresetRequest {
    std::optional<int> centreBin;
    std::optional<int> filterWidth;
    std::optional<double> threshold;  // a level; auto threshold counts as given
    std::optional<int> burstLpm;
    bool warmStart = true;
    bool afcGiven = false;  // AFC named by an option: it is never held
};

// The plan for decoding `source` with `controls` (already holding the window defaults and every
// option).
PresetPlan PlanPresets(SampleSource& source, const PresetRequest& request,
                       const ReceiverControls& controls, ProgressReporter* progress = nullptr);

// The plan's controls from the first sample.
void PresetControls(SampleSource& source, const PresetRequest& request, ReceiverControls& controls,
                    ProgressReporter* progress = nullptr);

}  // namespace dahlo
