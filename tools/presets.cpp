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

namespace {
// Fixed thresholds tried under fading, as multiples of the one from the levels.
constexpr std::array<double, 3> kFadingThresholdScales = {1.6, 2.5, 4.0};
}  // namespace

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
    BlockReader reader(source, progress, progressStart, progressSpan);
    std::int64_t blocks = 0;
    while (reader.Next() == kBlockSamples) {  // whole blocks only
        MixedRadixFft(*work, kFftLength, reader.Block(), spectrum->SpectrumRe.data(),
                      spectrum->SpectrumIm.data());
        SmoothSpectrum(*spectrum);
        for (int k = kFirstBin; k <= kLastBin; ++k) sum[k] += spectrum->SmoothedMagnitude[k];
        ++blocks;
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
    return SurveyEnvelope(source, width, bin, progress, progressStart, progressSpan).levels;
}

namespace {

// Marks (97th percentile of the running sum of squares) of consecutive segments of the envelope.
class SegmentMarks {
  public:
    SegmentMarks() : sums_(static_cast<std::size_t>(kSpreadSegmentSamples)) {}
    void Add(double sum) {
        sums_[fill_++] = sum;
        if (fill_ == sums_.size()) Close();
    }
    // Spread of the envelope's marks (square roots of the sums' ratio).
    double Spread() {
        // A last segment of at least a second still counts.
        if (fill_ >= static_cast<std::size_t>(kDecodeRateHz)) Close();
        if (marks_.size() < 3) return 1.0;
        std::sort(marks_.begin(), marks_.end());
        const double low = marks_[(marks_.size() - 1) * 2 / 10];
        const double high = marks_[(marks_.size() - 1) * 8 / 10];
        if (!(low > 0.0)) return high > 0.0 ? 1e6 : 1.0;
        return std::sqrt(high / low);
    }

  private:
    void Close() {
        const auto k = static_cast<std::ptrdiff_t>(static_cast<double>(fill_) * 0.97);
        std::nth_element(sums_.begin(), sums_.begin() + k, sums_.begin() + fill_);
        marks_.push_back(sums_[static_cast<std::size_t>(k)]);
        fill_ = 0;
    }
    std::vector<double> sums_;
    std::size_t fill_ = 0;
    std::vector<double> marks_;  // one per three seconds: small for any length
};

}  // namespace

EnvelopeSurvey SurveyEnvelope(SampleSource& source, int width, int bin, ProgressReporter* progress,
                              double progressStart, double progressSpan) {
    RewindOrThrow(source);
    constexpr std::size_t kCount = kPresetBurstSpeeds.size();
    constexpr std::size_t kSpreadWindow = 1;  // 200 LPM
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
    SegmentMarks segments;
    for (std::size_t j = 0; j < kCount; ++j) {
        (*windows)[j].length = BurstWindowFor(IntegrationLengthFor(kPresetBurstSpeeds[j]));
    }
    std::array<double, kFftLength> squares{};
    std::array<double, kFftLength> spreadSums{};
    BlockReader reader(source, progress, progressStart, progressSpan);
    while (const std::size_t got = reader.Next()) {
        const std::int16_t* block = reader.Block();
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
                if (j == kSpreadWindow) spreadSums[i] = sum;
            }
            w.sum = sum;
            w.pos = pos;
        }
        for (std::size_t i = 0; i < got; ++i) segments.Add(spreadSums[i]);
    }
    EnvelopeSurvey survey;
    for (std::size_t j = 0; j < kCount; ++j)
        survey.levels[j] = LevelsFromSums((*sums)[j], (*windows)[j].length);
    survey.markSpread = segments.Spread();
    return survey;
}

namespace {

// A host that only lets the loop run.
class SilentHost : public ReceiverHost {
  public:
    void OnChannelEvent(const ChannelEvent&, std::string_view) override {}
    void ShowFreeBuffers(int) override {}
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
    auto pump = std::make_unique<BlockPump>(*ring, host);
    ApplyControls(controls, *pump);

    const std::int64_t length = source.Length();
    const std::int64_t blocksTotal = length > 0 ? (length + kBlockSamples - 1) / kBlockSamples : 0;
    const std::int64_t firstCounted = blocksTotal / 5;
    // Dot lengths above this are start-up values, never a sender's (under 2 WPM).
    constexpr std::int64_t kLongestDot = 40000;
    std::vector<std::uint32_t> dots(kLongestDot + 1, 0);
    std::int64_t counted = 0;

    BlockReader reader(source, progress, progressStart, progressSpan);
    for (std::int64_t index = 0; reader.Next() != 0; ++index) {
        pump->ProcessBlock(reader.Block());
        if (index >= firstCounted) {
            ++dots[static_cast<std::size_t>(
                std::clamp<std::int64_t>(pump->Main().decoder.DotLength, 0, kLongestDot))];
            ++counted;
        }
    }
    if (counted == 0) return 0;
    std::int64_t seen = 0;
    for (std::size_t d = 0; d < dots.size(); ++d) {
        seen += dots[d];
        if (2 * seen >= counted) return static_cast<std::int64_t>(d);
    }
    return kLongestDot;
}

double MorseTextScore(std::string_view text) {
    double score = 0.0;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == '\n') {
            ++at;
            continue;
        }
        // A word, with a "{ . - }" form read as one piece even though it holds blanks.
        std::size_t end = at;
        bool undecodable = false;
        bool onlyShort = true;
        int characters = 0;
        while (end < text.size() && text[end] != ' ' && text[end] != '\n') {
            const char c = text[end];
            if (c == '{') {
                const std::size_t close = text.find('}', end);
                end = close == std::string_view::npos ? text.size() : close + 1;
                undecodable = true;
                ++characters;
                continue;
            }
            if (c == '#') undecodable = true;
            if (std::string_view("etianm").find(c) == std::string_view::npos) onlyShort = false;
            // Count characters, not the bytes of a UTF-8 sequence.
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
            ++end;
        }
        score += (undecodable || onlyShort) ? -2.0 * characters : characters;
        at = end;
    }
    return score;
}

namespace {

// The first `limit` samples of another source.
class PrefixSource : public SampleSource {
  public:
    PrefixSource(SampleSource& inner, std::int64_t limit) : inner_(inner), limit_(limit) {}
    std::size_t Read(std::int16_t* out, std::size_t count) override {
        const auto room = static_cast<std::size_t>(std::max<std::int64_t>(limit_ - done_, 0));
        const std::size_t got = inner_.Read(out, std::min(count, room));
        done_ += static_cast<std::int64_t>(got);
        return got;
    }
    bool Rewind() override {
        done_ = 0;
        return inner_.Rewind();
    }
    std::int64_t Length() const override {
        const std::int64_t length = inner_.Length();
        return length < 0 ? limit_ : std::min(length, limit_);
    }
    const std::string& Name() const override { return inner_.Name(); }

  private:
    SampleSource& inner_;
    std::int64_t limit_;
    std::int64_t done_ = 0;
};

}  // namespace

double TrialScore(SampleSource& source, const ReceiverControls& controls) {
    RewindOrThrow(source);
    PrefixSource prefix(source, kTrialSamples);
    StringSink sink;
    DecodeHost host(sink, OutputFormat{});
    DecodeSource(prefix, controls, host);
    host.Finish();
    return MorseTextScore(sink.text);
}

int BurstSpeedForDot(std::int64_t dot) {
    int chosen = kPresetBurstSpeeds.back();
    for (const int lpm : kPresetBurstSpeeds) {
        if (2 * static_cast<std::int64_t>(IntegrationLengthFor(lpm)) <= dot) return lpm;
    }
    return chosen;
}

namespace {

// A fixed threshold suits a steady signal; under fading the receiver's own threshold, which
// follows the level over about a second, may suit better, and in deep noise a higher fixed one
// that keeps the faded stretches quiet rather than keying noise into letters. The candidate whose
// trial text looks most like Morse wins, the earlier one on a tie; higher thresholds are tried
// only while every text so far looks more like noise than like Morse.
void ChooseFadingThreshold(SampleSource& source, ReceiverControls& controls) {
    ReceiverControls best = controls;
    double bestScore = TrialScore(source, controls);
    auto consider = [&](const ReceiverControls& candidate) {
        const double score = TrialScore(source, candidate);
        if (score > bestScore) {
            bestScore = score;
            best = candidate;
        }
    };
    ReceiverControls automatic = controls;
    automatic.autoThreshold = true;
    consider(automatic);
    for (const double scale : kFadingThresholdScales) {
        if (scale > kFadingThresholdScales.front() && bestScore >= 0.0) break;
        ReceiverControls raised = controls;
        raised.threshold = std::round(controls.threshold * scale * 10000.0) / 10000.0;
        consider(raised);
    }
    controls = best;
}

}  // namespace

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
    double markSpread = 1.0;
    if (needThreshold) {
        const EnvelopeSurvey survey =
            SurveyEnvelope(source, controls.filterWidth, controls.centreBin, progress, at, span);
        levels = survey.levels;
        markSpread = survey.markSpread;
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
    if (needThreshold && markSpread > kFadingSpread) ChooseFadingThreshold(source, controls);
}

}  // namespace dahlo
