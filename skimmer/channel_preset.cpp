#include "skimmer/channel_preset.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp/burst_filter.h"
#include "dsp/level_histogram.h"
#include "dsp/main_filter.h"
#include "receiver/envelope_levels.h"

namespace dahlo {

namespace {

// Marks for the first dot measurement: runs above the threshold bridged over dips of up to this
// many samples (beats with a neighbour), and kept when at least this long (clicks are shorter).
constexpr std::int64_t kBridgedDipSamples = 10;
constexpr std::int64_t kShortestMarkSamples = 10;
// A dot is never measured shorter than this (about 660 WPM): the burst window's stretch taken
// off a noisy mark must not leave nothing.
constexpr std::int64_t kShortestMeasuredDot = 20;
constexpr int kUnmeasuredBurstLpm = 200;  // the window's default burst speed

// The envelope of the Narrow filter at `bin` through a moving RMS of `window` samples, and its
// noise (20th percentile) and mark (97th percentile) levels.
struct Envelope {
    std::vector<float> values;
    double noise = 0.0;
    double mark = 0.0;
};

Envelope EnvelopeOf(const std::int16_t* samples, std::size_t count, int bin, int window,
                    bool filterTwice) {
    MainFilter filter;
    MainFilter second;
    filter.SelectRow(FilterCoefficientTables(kNarrow).Row(bin));
    second.SelectRow(FilterCoefficientTables(kNarrow).Row(bin));
    BurstFilter burst;
    burst.BurstWindow = window;
    auto histogram = std::make_unique<LevelHistogram>();
    Envelope envelope;
    envelope.values.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        double y = filter.MainFilterStep(samples[i] * kSampleScale);
        if (filterTwice) y = second.MainFilterStep(y);
        const double e = burst.BurstFilterStep(y);
        envelope.values[i] = static_cast<float>(e);
        if (e > 0.0) histogram->Add(e);
    }
    envelope.noise = histogram->Percentile(kNoisePercentile);
    envelope.mark = histogram->Percentile(kMarkPercentile);
    return envelope;
}

}  // namespace

ChannelPreset PresetChannel(const std::int16_t* samples, std::size_t count, int bin,
                            bool filterTwice) {
    ChannelPreset preset;
    preset.bin = bin;
    const int firstWindow = BurstWindowFor(kDefaultIntegrationLength);
    const Envelope first = EnvelopeOf(samples, count, bin, firstWindow, filterTwice);
    // Marks at half their level, bridging dips of a few samples (beats with a neighbour); a
    // moving RMS over W samples crosses a fraction r of a mark's level r^2 W samples after the
    // mark starts and (1 - r^2) W after it ends, so each run is (1 - 2 r^2) W too long.
    const double threshold = std::max(
        ThresholdFromLevels(first.noise, first.mark, kFirstPassNoiseFloor), 0.5 * first.mark);
    const double r = threshold / first.mark;
    const auto stretch = static_cast<std::int64_t>(std::lround((1.0 - 2.0 * r * r) * firstWindow));
    std::vector<std::int64_t> marks;
    std::int64_t run = 0;
    std::int64_t gap = 0;
    for (const float e : first.values) {
        if (e > threshold) {
            run += gap + 1;
            gap = 0;
        } else if (run > 0 && ++gap > kBridgedDipSamples) {
            if (run >= kShortestMarkSamples) marks.push_back(run);
            run = 0;
            gap = 0;
        }
    }
    if (marks.size() >= 3) {
        std::sort(marks.begin(), marks.end());
        const std::int64_t shortest = marks[marks.size() / 10];
        std::vector<std::int64_t> dots;
        for (const std::int64_t m : marks) {
            if (m <= 2 * shortest) dots.push_back(m);
        }
        const std::int64_t measured = dots[dots.size() / 2];
        preset.dot = std::max(kShortestMeasuredDot, measured - stretch);
    }
    const int lpm = preset.dot > 0 ? BurstSpeedForDot(preset.dot) : kUnmeasuredBurstLpm;
    preset.integrationLength = IntegrationLengthFor(lpm);
    const Envelope second =
        EnvelopeOf(samples, count, bin, BurstWindowFor(preset.integrationLength), filterTwice);
    preset.noise = second.noise;
    preset.mark = second.mark;
    preset.threshold = ThresholdFromLevels(second.noise, second.mark, NoiseFloorForDot(preset.dot));
    return preset;
}

}  // namespace dahlo
