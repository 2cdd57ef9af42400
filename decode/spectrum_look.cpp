#include "decode/spectrum_look.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/fft.h"
#include "dsp/local_median.h"
#include "dsp/main_filter.h"
#include "dsp/spectrum.h"

namespace dahlo {

void RewindOrThrow(SampleSource& source) {
    if (!source.Rewind()) throw InputError(source.Name() + ": cannot read the input twice");
}

// Whether segment `s` holds the signal; an empty list (or one that ends early) holds it
// everywhere after.
bool SegmentPresent(const std::vector<bool>& present, std::size_t s) {
    if (present.empty()) return true;
    return s < present.size() ? present[s] : present.back();
}

namespace {

// Each bin's value over the median of the bins around it.
void RatiosToLocalMedian(const std::array<double, kLastBin + 1>& sum,
                         std::array<double, kLastBin + 1>& ratio) {
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        const double median = LocalMedian(sum, k);
        ratio[k] = sum[k] <= 0.0 ? 0.0 : median > 0.0 ? sum[k] / median : 1e300;
    }
}

// The strongest few local peaks of a segment's ratios: enough to find the signal's bin among
// other signals, small enough to keep one per segment of any length of input.
constexpr int kPeaksPerSegment = 8;
struct SegmentPeaks {
    std::array<std::int16_t, kPeaksPerSegment> bins{};
    std::array<float, kPeaksPerSegment> ratios{};
};

SegmentPeaks StrongestPeaks(const std::array<double, kLastBin + 1>& ratio) {
    SegmentPeaks peaks;
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        const double r = ratio[k];
        if ((k > kFirstBin && ratio[k - 1] > r) || (k < kLastBin && ratio[k + 1] > r)) continue;
        int weakest = 0;
        for (int j = 1; j < kPeaksPerSegment; ++j) {
            if (peaks.ratios[j] < peaks.ratios[weakest]) weakest = j;
        }
        if (r > peaks.ratios[weakest]) {
            peaks.ratios[weakest] = static_cast<float>(r);
            peaks.bins[weakest] = static_cast<std::int16_t>(k);
        }
    }
    return peaks;
}

}  // namespace

SpectrumLook LookAtSpectrum(SampleSource& source, int fallbackBin, std::optional<int> givenBin,
                            ProgressReporter* progress, double progressStart, double progressSpan) {
    RewindOrThrow(source);
    auto spectrum = std::make_unique<SpectrumState>();
    auto work = std::make_unique<FftWorkspace>();
    std::array<double, kLastBin + 1> sum{};
    std::array<double, kLastBin + 1> segmentSum{};
    std::array<double, kLastBin + 1> ratio{};
    std::vector<SegmentPeaks> segments;
    BlockReader reader(source, progress, progressStart, progressSpan);
    std::int64_t blocks = 0;
    int segmentBlocks = 0;
    auto closeSegment = [&] {
        RatiosToLocalMedian(segmentSum, ratio);
        segments.push_back(StrongestPeaks(ratio));
        segmentSum.fill(0.0);
        segmentBlocks = 0;
    };
    while (reader.Next() == kBlockSamples) {  // whole blocks only
        MixedRadixFft(*work, kFftLength, reader.Block(), spectrum->SpectrumRe.data(),
                      spectrum->SpectrumIm.data());
        SmoothSpectrum(*spectrum);
        for (int k = kFirstBin; k <= kLastBin; ++k) {
            sum[k] += spectrum->SmoothedMagnitude[k];
            segmentSum[k] += spectrum->SmoothedMagnitude[k];
        }
        ++blocks;
        if (++segmentBlocks == kSegmentBlocks) closeSegment();
    }
    if (segmentBlocks > 0) closeSegment();
    SpectrumLook look;
    look.bin = givenBin.value_or(fallbackBin);
    if (blocks == 0) return look;

    if (!givenBin) {
        RatiosToLocalMedian(sum, ratio);
        double bestRatio = 0.0;
        for (int k = kFirstBin; k <= kLastBin; ++k) {
            if (sum[k] <= 0.0) continue;
            if (ratio[k] > bestRatio) {
                bestRatio = ratio[k];
                look.bin = k;
            }
        }
    }
    bool any = false;
    for (const SegmentPeaks& peaks : segments) {
        bool on = false;
        for (int j = 0; j < kPeaksPerSegment; ++j) {
            on = on ||
                 (std::abs(peaks.bins[j] - look.bin) <= 3 && peaks.ratios[j] >= kPresenceRatio);
        }
        look.present.push_back(on);
        any = any || on;
    }
    // A signal never standing out anywhere is looked for everywhere.
    if (!any) look.present.clear();
    return look;
}

int EstimatePitchBin(SampleSource& source, int fallback, ProgressReporter* progress,
                     double progressStart, double progressSpan) {
    return LookAtSpectrum(source, fallback, std::nullopt, progress, progressStart, progressSpan)
        .bin;
}

}  // namespace dahlo
