#include "dsp/level_histogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace dahlo {

int LevelHistogram::BinOf(double value) {
    if (!(value > 0.0)) return 0;
    // Exponent and the top six bits of the mantissa: a cheap log2 with 64 steps per octave.
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::int64_t index = static_cast<std::int64_t>(bits >> 46) -
                               static_cast<std::int64_t>(1023 + kMinExponent) * kSubBins;
    return static_cast<int>(std::clamp<std::int64_t>(index, 0, kBins - 1));
}

double LevelHistogram::Percentile(double fraction) const {
    if (total_ == 0) return 0.0;
    const double needed = std::max(std::ceil(fraction * static_cast<double>(total_)), 1.0);
    const int bin = FirstBinReaching(counts_, needed);
    if (bin == 0 && counts_[0] > 0) return 0.0;  // silence (or below 2^-40)
    // The middle of the bin.
    const std::uint64_t bits =
        (static_cast<std::uint64_t>(bin + (1023 + kMinExponent) * kSubBins) << 46) |
        (std::uint64_t{1} << 45);
    return std::bit_cast<double>(bits);
}

void FadingLevels::Add(double level) {
    const double db = level > kLowest ? 20.0 * std::log10(level / kLowest) : 0.0;
    const int bin = std::clamp(static_cast<int>(db * 4.0), 0, kBins - 1);
    counts_[static_cast<std::size_t>(bin)] += 1.0f;
    total_ += 1.0;
}

void FadingLevels::Fade(double factor) {
    for (float& c : counts_) c *= static_cast<float>(factor);
    total_ *= factor;
}

double FadingLevels::Percentile(double fraction) const {
    if (total_ <= 0.0) return 0.0;
    const int bin = FirstBinReaching(counts_, fraction * total_);
    if (bin == kBins) return kLowest * std::pow(10.0, kBins / 80.0);
    return kLowest * std::pow(10.0, (bin + 0.5) / 80.0);  // the middle of the bin
}

}  // namespace dahlo
