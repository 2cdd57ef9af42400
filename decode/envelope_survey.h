#pragma once
// The envelope's levels where the signal is, at each burst speed the presets choose from, and
// how much they move along the recording (fading).

#include <array>
#include <vector>

#include "receiver/envelope_levels.h"
#include "recording/sample_source.h"

namespace dahlo {

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

}  // namespace dahlo
