#include "receiver/envelope_levels.h"

#include <algorithm>
#include <cmath>

#include "dsp/burst_filter.h"

namespace dahlo {

double ThresholdFromLevels(double noise, double mark, double floor) {
    const double threshold = std::sqrt(std::max(noise, floor * mark) * mark);
    return std::max(0.0001, std::round(threshold * 10000.0) / 10000.0);
}

EnvelopeLevels LevelsFromSums(const LevelHistogram& sumsOfSquares, int window) {
    auto envelope = [&](double fraction) {
        return std::sqrt(sumsOfSquares.Percentile(fraction) / window);
    };
    return EnvelopeLevels{envelope(kNoisePercentile), envelope(kMarkPercentile)};
}

double NoiseFloorForDot(std::int64_t dot) {
    return dot > 0 && dot < 420 ? 0.1 : 0.03;
}

int BurstSpeedForDot(std::int64_t dot) {
    int chosen = kPresetBurstSpeeds.back();
    for (const int lpm : kPresetBurstSpeeds) {
        if (2 * static_cast<std::int64_t>(IntegrationLengthFor(lpm)) <= dot) return lpm;
    }
    return chosen;
}

}  // namespace dahlo
