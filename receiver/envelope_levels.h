#pragma once
// A channel's envelope levels (noise and mark) and the threshold and burst speed they call for.

#include <array>
#include <cstdint>

#include "dsp/level_histogram.h"

namespace dahlo {

// The menu speeds the presets choose from, slowest first, with their integration lengths.
inline constexpr std::array<int, 4> kPresetBurstSpeeds = {100, 200, 300, 500};

// Where in the envelope's distribution its noise and mark levels are read: a sender keys a
// third to a half of the time, so the 20th percentile is key-up noise and the 97th the marks'
// plateau above their ringing and edges.
inline constexpr double kNoisePercentile = 0.20;
inline constexpr double kMarkPercentile = 0.97;

// The envelope's noise (kNoisePercentile) and mark (kMarkPercentile) levels.
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

// Burst-filter speed for a dot: the slowest menu speed whose integration length is not above half
// the dot (dot >= 700 samples: 100 LPM, >= 350: 200, >= 234: 300, else 500).
int BurstSpeedForDot(std::int64_t dot);

// Noise keyed where the AGC lifts it in a pause peaks 7 to 10 dB under the sender's marks, and a
// steady sender's marks stay within a dB or two of each other: marks 6 dB under the sender's,
// with no tone seen, are taken back.
inline constexpr double kMarkLevelFraction = 0.5;

}  // namespace dahlo
