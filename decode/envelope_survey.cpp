#include "decode/envelope_survey.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"
#include "decode/spectrum_look.h"

namespace dahlo {

namespace {

// Marks (97th percentile of the running sum of squares) of the segments where the signal is.
class SegmentMarks {
  public:
    SegmentMarks() : sums_(static_cast<std::size_t>(kSegmentSamples)) {}
    void Add(double sum) { sums_[fill_++] = sum; }
    // The end of a segment; its mark counts when the signal is there.
    void Close(bool counted) {
        // A last segment of at least a second still counts.
        if (counted && fill_ >= static_cast<std::size_t>(kSampleRateHz)) {
            const auto k = static_cast<std::ptrdiff_t>(static_cast<double>(fill_) * 0.97);
            std::nth_element(sums_.begin(), sums_.begin() + k, sums_.begin() + fill_);
            marks_.push_back(sums_[static_cast<std::size_t>(k)]);
        }
        fill_ = 0;
    }
    // Spread of the envelope's marks (square roots of the sums' ratio).
    double Spread() {
        if (marks_.size() < 3) return 1.0;
        std::sort(marks_.begin(), marks_.end());
        const double low = marks_[(marks_.size() - 1) * 2 / 10];
        const double high = marks_[(marks_.size() - 1) * 8 / 10];
        if (!(low > 0.0)) return high > 0.0 ? 1e6 : 1.0;
        return std::sqrt(high / low);
    }

  private:
    std::vector<double> sums_;
    std::size_t fill_ = 0;
    std::vector<double> marks_;  // one per segment: small for any length
};

}  // namespace

EnvelopeSurvey SurveyEnvelope(SampleSource& source, int width, int bin,
                              const std::vector<bool>& present, ProgressReporter* progress,
                              double progressStart, double progressSpan) {
    RewindOrThrow(source);
    constexpr std::size_t kCount = kPresetBurstSpeeds.size();
    constexpr std::size_t kSpreadWindow = 1;  // 200 LPM
    MainFilter filter;
    filter.SelectRow(FilterCoefficientTables(FilterWidthFromMode(width)).Row(ClampCentreBin(bin)));
    // The burst filters' running sums of squares, without the root and the division: the
    // envelope is a monotonic function of the sum, so its percentiles follow from the sum's.
    auto windows = std::make_unique<std::array<BurstFilter, kCount>>();
    auto sums = std::make_unique<std::array<LevelHistogram, kCount>>();
    SegmentMarks segments;
    for (std::size_t j = 0; j < kCount; ++j) {
        (*windows)[j].BurstWindow = BurstWindowFor(IntegrationLengthFor(kPresetBurstSpeeds[j]));
    }
    std::array<double, kFftLength> squares{};
    std::array<double, kFftLength> spreadSums{};
    BlockReader reader(source, progress, progressStart, progressSpan);
    std::size_t block = 0;
    while (const std::size_t got = reader.Next()) {
        const std::size_t segment = block / kSegmentBlocks;
        const bool counted = SegmentPresent(present, segment);
        const std::int16_t* samples = reader.Block();
        for (std::size_t i = 0; i < got; ++i) {
            const double y = filter.MainFilterStep(samples[i] * kSampleScale);
            squares[i] = y * y;
        }
        for (std::size_t j = 0; j < kCount; ++j) {
            LevelHistogram& histogram = (*sums)[j];
            (*windows)[j].AddSquares(squares.data(), got, [&](std::size_t i, double sum) {
                if (counted) histogram.Add(sum);
                if (j == kSpreadWindow) spreadSums[i] = sum;
            });
        }
        for (std::size_t i = 0; i < got; ++i) segments.Add(spreadSums[i]);
        ++block;
        if (block % kSegmentBlocks == 0) segments.Close(counted);
    }
    if (block % kSegmentBlocks != 0) segments.Close(SegmentPresent(present, block / kSegmentBlocks));
    EnvelopeSurvey survey;
    for (std::size_t j = 0; j < kCount; ++j)
        survey.levels[j] = LevelsFromSums((*sums)[j], (*windows)[j].BurstWindow);
    survey.markSpread = segments.Spread();
    return survey;
}

std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> EstimateLevels(SampleSource& source,
                                                                     int width, int bin,
                                                                     ProgressReporter* progress,
                                                                     double progressStart,
                                                                     double progressSpan) {
    return SurveyEnvelope(source, width, bin, {}, progress, progressStart, progressSpan).levels;
}

}  // namespace dahlo
