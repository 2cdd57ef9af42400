#pragma once
// Level distributions of any length of input in fixed memory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dahlo {

// The first bin at which the running sum of `counts` reaches `needed`; counts.size() when none
// does. The one percentile walk of both histograms below.
template <class Counts>
int FirstBinReaching(const Counts& counts, double needed) {
    double seen = 0.0;
    for (std::size_t bin = 0; bin < counts.size(); ++bin) {
        seen += static_cast<double>(counts[bin]);
        if (seen >= needed) return static_cast<int>(bin);
    }
    return static_cast<int>(counts.size());
}

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

// A distribution of levels over the last seconds: bins a quarter dB wide from 1e-7 up over 160 dB,
// every count fading by a factor per block so that old levels weigh less.
class FadingLevels {
  public:
    void Add(double level);
    void Fade(double factor);
    // The level below which `fraction` of the weight lies; 0 when empty.
    double Percentile(double fraction) const;

  private:
    static constexpr int kBins = 640;  // 160 dB
    static constexpr double kLowest = 1e-7;
    std::vector<float> counts_ = std::vector<float>(kBins, 0.0f);
    double total_ = 0.0;
};

}  // namespace dahlo
