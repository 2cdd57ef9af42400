#include "tools/presets.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp/burst_filter.h"
#include "dsp/fft.h"
#include "dsp/main_filter.h"
#include "dsp/spectrum.h"

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
    const auto target =
        static_cast<std::int64_t>(std::ceil(fraction * static_cast<double>(total_)));
    std::int64_t seen = 0;
    int bin = 0;
    for (; bin < kBins; ++bin) {
        seen += counts_[bin];
        if (seen >= std::max<std::int64_t>(target, 1)) break;
    }
    if (bin == 0 && counts_[0] > 0) return 0.0;  // silence (or below 2^-40)
    // The middle of the bin.
    const std::uint64_t bits =
        (static_cast<std::uint64_t>(bin + (1023 + kMinExponent) * kSubBins) << 46) |
        (std::uint64_t{1} << 45);
    return std::bit_cast<double>(bits);
}

namespace {

struct PassProgress {
    ProgressReporter* reporter;
    double start;
    double span;
    std::int64_t length;
    std::int64_t done = 0;
    int blocks = 0;
    void Advance(std::int64_t samples) {
        done += samples;
        if (reporter != nullptr && length > 0 && (++blocks & 63) == 0) {
            reporter->Update(start +
                             span * static_cast<double>(done) / static_cast<double>(length));
        }
    }
};

void RewindOrThrow(SampleSource& source) {
    if (!source.Rewind()) throw InputError(source.Name() + ": cannot read the input twice");
}

}  // namespace

int EstimatePitchBin(SampleSource& source, int fallback, ProgressReporter* progress,
                     double progressStart, double progressSpan) {
    RewindOrThrow(source);
    auto spectrum = std::make_unique<SpectrumState>();
    auto work = std::make_unique<FftWorkspace>();
    std::array<double, kLastBin + 1> sum{};
    std::array<std::int16_t, kFftLength> block{};
    PassProgress pass{progress, progressStart, progressSpan, source.Length()};
    std::int64_t blocks = 0;
    for (;;) {
        const std::size_t got = source.Read(block.data(), block.size());
        if (got < block.size()) break;
        MixedRadixFft(*work, kFftLength, block.data(), spectrum->SpectrumRe.data(),
                      spectrum->SpectrumIm.data());
        SmoothSpectrum(*spectrum);
        for (int k = kFirstBin; k <= kLastBin; ++k) sum[k] += spectrum->SmoothedMagnitude[k];
        ++blocks;
        pass.Advance(static_cast<std::int64_t>(got));
    }
    if (blocks == 0) return fallback;

    int best = fallback;
    double bestRatio = 0.0;
    std::array<double, 41> window{};
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        const int lo = std::max(kFirstBin, k - 20);
        const int hi = std::min(kLastBin, k + 20);
        const int n = hi - lo + 1;
        std::copy(sum.begin() + lo, sum.begin() + hi + 1, window.begin());
        std::nth_element(window.begin(), window.begin() + n / 2, window.begin() + n);
        const double median = window[n / 2];
        if (sum[k] <= 0.0) continue;
        const double ratio = median > 0.0 ? sum[k] / median : 1e300;
        if (ratio > bestRatio) {
            bestRatio = ratio;
            best = k;
        }
    }
    return best;
}

double ThresholdFromLevels(double noise, double mark, double floor) {
    const double threshold = std::sqrt(std::max(noise, floor * mark) * mark);
    return std::max(0.0001, std::round(threshold * 10000.0) / 10000.0);
}

EnvelopeLevels LevelsFromSums(const LevelHistogram& sumsOfSquares, int window) {
    auto envelope = [&](double fraction) {
        return std::sqrt(sumsOfSquares.Percentile(fraction) / window);
    };
    return EnvelopeLevels{envelope(0.20), envelope(0.97)};
}

double NoiseFloorForDot(std::int64_t dot) {
    return dot > 0 && dot < 420 ? 0.1 : 0.03;
}

std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> EstimateLevels(SampleSource& source,
                                                                     int width, int bin,
                                                                     ProgressReporter* progress,
                                                                     double progressStart,
                                                                     double progressSpan) {
    RewindOrThrow(source);
    constexpr std::size_t kCount = kPresetBurstSpeeds.size();
    MainFilter filter;
    filter.SelectRow(FilterCoefficientTables(FilterWidthFromMode(width)).Row(ClampCentreBin(bin)));
    // The burst filters' running sums of squares, kept here without the square root and the
    // division: the envelope is a monotonic function of the sum, so its percentiles follow from
    // those of the sum.
    struct Window {
        std::array<double, kBurstRingSize> ring{};
        double sum = 0.0;
        int pos = 0;
        int length = 0;
    };
    auto windows = std::make_unique<std::array<Window, kCount>>();
    auto sums = std::make_unique<std::array<LevelHistogram, kCount>>();
    for (std::size_t j = 0; j < kCount; ++j) {
        (*windows)[j].length = BurstWindowFor(IntegrationLengthFor(kPresetBurstSpeeds[j]));
    }
    std::array<std::int16_t, kFftLength> block{};
    std::array<double, kFftLength> squares{};
    PassProgress pass{progress, progressStart, progressSpan, source.Length()};
    for (;;) {
        const std::size_t got = source.Read(block.data(), block.size());
        if (got == 0) break;
        for (std::size_t i = 0; i < got; ++i) {
            const double y = filter.MainFilterStep(block[i] * (1.0 / 16384.0));
            squares[i] = y * y;
        }
        // One window at a time over the block keeps its sum and position in registers.
        for (std::size_t j = 0; j < kCount; ++j) {
            Window& w = (*windows)[j];
            LevelHistogram& histogram = (*sums)[j];
            double sum = w.sum;
            int pos = w.pos;
            for (std::size_t i = 0; i < got; ++i) {
                sum += squares[i] - w.ring[pos];
                w.ring[pos] = squares[i];
                if (++pos >= w.length) pos = 0;
                histogram.Add(sum);
            }
            w.sum = sum;
            w.pos = pos;
        }
        pass.Advance(static_cast<std::int64_t>(got));
        if (got < block.size()) break;
    }
    std::array<EnvelopeLevels, kCount> levels{};
    for (std::size_t j = 0; j < kCount; ++j)
        levels[j] = LevelsFromSums((*sums)[j], (*windows)[j].length);
    return levels;
}

namespace {

// A host that only lets the loop run.
class SilentHost : public ReceiverHost {
  public:
    void ShowStatus(int, std::string_view) override {}
    void AppendDecodedText(std::uint32_t, std::string_view) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view, std::string_view) override {}
};

}  // namespace

std::int64_t MedianDotLength(SampleSource& source, const ReceiverControls& controls,
                             ProgressReporter* progress, double progressStart,
                             double progressSpan) {
    RewindOrThrow(source);
    SilentHost host;
    auto ring = std::make_unique<CaptureRing>();
    auto receiver = std::make_unique<Receiver>(*ring, host);
    ApplyControls(controls, *receiver);

    const std::int64_t length = source.Length();
    const std::int64_t blocksTotal = length > 0 ? (length + kBlockSamples - 1) / kBlockSamples : 0;
    const std::int64_t firstCounted = blocksTotal / 5;
    // Dot lengths above this are start-up values, never a sender's (under 2 WPM).
    constexpr std::int64_t kLongestDot = 40000;
    std::vector<std::uint32_t> dots(kLongestDot + 1, 0);
    std::int64_t counted = 0;

    std::array<std::int16_t, kBlockSamples> block{};
    PassProgress pass{progress, progressStart, progressSpan, length};
    for (std::int64_t index = 0;; ++index) {
        const std::size_t got = source.Read(block.data(), block.size());
        if (got == 0) break;
        for (std::size_t i = got; i < block.size(); ++i) block[i] = 0;
        receiver->ProcessBlock(block.data());
        if (index >= firstCounted) {
            ++dots[static_cast<std::size_t>(
                std::clamp<std::int64_t>(receiver->decoder.DotLength, 0, kLongestDot))];
            ++counted;
        }
        pass.Advance(static_cast<std::int64_t>(got));
        if (got < block.size()) break;
    }
    if (counted == 0) return 0;
    std::int64_t seen = 0;
    for (std::size_t d = 0; d < dots.size(); ++d) {
        seen += dots[d];
        if (2 * seen >= counted) return static_cast<std::int64_t>(d);
    }
    return kLongestDot;
}

int BurstSpeedForDot(std::int64_t dot) {
    int chosen = kPresetBurstSpeeds.back();
    for (const int lpm : kPresetBurstSpeeds) {
        if (2 * static_cast<std::int64_t>(IntegrationLengthFor(lpm)) <= dot) return lpm;
    }
    return chosen;
}

void PresetControls(SampleSource& source, const PresetRequest& request, ReceiverControls& controls,
                    ProgressReporter* progress) {
    const bool needThreshold = !request.threshold.has_value();
    const bool needBurst = !request.burstLpm.has_value();
    const bool needDot = needBurst || request.warmStart;
    const int passes = (request.centreBin ? 0 : 1) + (needThreshold ? 1 : 0) + (needDot ? 1 : 0);
    const double span = passes > 0 ? 1.0 / passes : 1.0;
    double at = 0.0;

    if (!request.centreBin) {
        controls.centreBin = EstimatePitchBin(source, controls.centreBin, progress, at, span);
        at += span;
    }
    std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> levels{};
    if (needThreshold) {
        levels =
            EstimateLevels(source, controls.filterWidth, controls.centreBin, progress, at, span);
        at += span;
    }
    auto thresholdFor = [&](int lpm, double floor) {
        std::size_t j = 1;  // a menu speed the presets never pick: the 200 LPM envelope
        for (std::size_t k = 0; k < kPresetBurstSpeeds.size(); ++k) {
            if (kPresetBurstSpeeds[k] == lpm) j = k;
        }
        return ThresholdFromLevels(levels[j].noise, levels[j].mark, floor);
    };

    const int firstLpm = request.burstLpm.value_or(200);
    controls.integrationLength = IntegrationLengthFor(firstLpm);
    if (needThreshold) controls.threshold = thresholdFor(firstLpm, kFirstPassNoiseFloor);
    if (!needDot) return;

    ReceiverControls probe = controls;
    probe.warmStartDot = 0;
    const std::int64_t dot = MedianDotLength(source, probe, progress, at, span);
    int lpm = firstLpm;
    if (needBurst && dot > 0) {
        lpm = BurstSpeedForDot(dot);
        controls.integrationLength = IntegrationLengthFor(lpm);
    }
    if (needThreshold) controls.threshold = thresholdFor(lpm, NoiseFloorForDot(dot));
    if (request.warmStart && dot > 0) controls.warmStartDot = dot;
}

}  // namespace dahlo
