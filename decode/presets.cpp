#include "decode/presets.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp/burst_filter.h"
#include "dsp/fft.h"
#include "dsp/local_median.h"
#include "dsp/main_filter.h"
#include "dsp/spectrum.h"

namespace dahlo {

namespace {
// Fixed thresholds tried under fading, as multiples of the one from the levels.
constexpr std::array<double, 3> kFadingThresholdScales = {1.6, 2.5, 4.0};
// A segment's median dot this far from the recording's marks a change of speed, when that many
// segments in a row (about 9 s) show it.
constexpr double kSpeedChangeRatio = 1.4;
constexpr std::size_t kSpeedRunSegments = 3;
// The longest dot a sender keys (3 WPM).
constexpr std::int64_t kSlowestDot = 4410;
}  // namespace

namespace {

void RewindOrThrow(SampleSource& source) {
    if (!source.Rewind()) throw InputError(source.Name() + ": cannot read the input twice");
}

// Whether segment `s` holds the signal; an empty list (or one that ends early) holds it
// everywhere after.
bool Present(const std::vector<bool>& present, std::size_t s) {
    if (present.empty()) return true;
    return s < present.size() ? present[s] : present.back();
}

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
        const bool counted = Present(present, segment);
        const std::int16_t* samples = reader.Block();
        for (std::size_t i = 0; i < got; ++i) {
            const double y = filter.MainFilterStep(samples[i] * (1.0 / 16384.0));
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
    if (block % kSegmentBlocks != 0) segments.Close(Present(present, block / kSegmentBlocks));
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

void GapHistogram::Add(double dots) {
    if (!(dots >= kLowest)) return;
    const int bin = std::min(kBins - 1, static_cast<int>(std::log(dots / kLowest) / kStep));
    ++counts_[static_cast<std::size_t>(bin)];
    ++total_;
}

double GapHistogram::ValueAt(double bin) const {
    return kLowest * std::exp(bin * kStep);
}

int GapHistogram::WordSpaceTenths(double dot, double smearChange) const {
    // A gap of r dots of the first pass, in dots of a decode whose marks are `smearChange`
    // samples longer (and gaps as much shorter).
    auto toDecode = [&](double r) {
        return dot > 0.0 ? (r * dot - smearChange) / (dot + smearChange) : r;
    };
    constexpr int kFewest = 12;  // gaps, below which nothing is learned
    if (total_ < kFewest) return 0;
    // Letter gaps are the commonest; word gaps lie within four times theirs. Longer ones are
    // pauses, or marks lost in a fade, and say nothing about the word space.
    int mode = 0;
    std::int64_t modeCount = -1;
    for (int b = 0; b < kBins; ++b) {
        const std::int64_t c =
            counts_[b] + (b > 0 ? counts_[b - 1] : 0) + (b + 1 < kBins ? counts_[b + 1] : 0);
        if (c > modeCount) {
            modeCount = c;
            mode = b;
        }
    }
    const int last = std::min(kBins - 1, mode + static_cast<int>(std::log(4.0) / kStep));
    // The split of those gaps (on a log scale) into two groups as far apart as their spread
    // allows (Otsu's method), and how much of all the spread that separation explains.
    double n = 0.0;
    double sumAll = 0.0;
    double sumSquares = 0.0;
    for (int b = 0; b <= last; ++b) {
        n += counts_[b];
        sumAll += counts_[b] * (b + 0.5);
        sumSquares += counts_[b] * (b + 0.5) * (b + 0.5);
    }
    if (n < kFewest) return 0;
    const double mean = sumAll / n;
    const double variance = sumSquares / n - mean * mean;
    if (!(variance > 0.0)) return 0;
    double best = 0.0;
    int split = -1;  // the last bin of the shorter group
    double below = 0.0;
    double sumBelow = 0.0;
    for (int b = 0; b < last; ++b) {
        below += counts_[b];
        sumBelow += counts_[b] * (b + 0.5);
        if (below == 0.0 || below == n) continue;
        const double m0 = sumBelow / below;
        const double m1 = (sumAll - sumBelow) / (n - below);
        const double between = below / n * (1.0 - below / n) * (m1 - m0) * (m1 - m0);
        if (between > best) {
            best = between;
            split = b;
        }
    }
    // Two groups only when the separation explains most of the spread.
    if (split < 0 || best / variance < 0.6) return 0;
    // Each group as a normal distribution of the log gap; the word space missorts the tails.
    struct Group {
        double weight = 0.0;
        double mean = 0.0;
        double sd = 0.0;
    };
    auto fit = [&](int from, int to) {
        Group g;
        double sum = 0.0;
        double squares = 0.0;
        for (int b = from; b <= to; ++b) {
            const double x = std::log(std::max(toDecode(ValueAt(b + 0.5)), 1.0));
            g.weight += counts_[b];
            sum += counts_[b] * x;
            squares += counts_[b] * x * x;
        }
        g.mean = sum / g.weight;
        // At least a tenth: the decoder's dot length, which a decode measures the gaps against,
        // wanders by that much even when the sender's gaps do not.
        g.sd = std::sqrt(std::max(squares / g.weight - g.mean * g.mean, 0.01));
        g.weight /= n;
        return g;
    };
    const Group letters = fit(0, split);
    const Group words = fit(split + 1, last);
    // Word gaps are half as long again as letter gaps at the least; closer groups are one
    // group cut in two.
    if (words.mean - letters.mean < std::log(1.5)) return 0;
    auto missorted = [&](double dots) {
        const double x = std::log(dots);
        const double lettersAbove =
            0.5 * std::erfc((x - letters.mean) / (letters.sd * std::sqrt(2.0)));
        const double wordsBelow = 0.5 * std::erfc((words.mean - x) / (words.sd * std::sqrt(2.0)));
        return letters.weight * lettersAbove + words.weight * wordsBelow;
    };
    double middle = 5.0;
    double fewest = missorted(5.0);
    const double decoders = fewest;
    for (double x = letters.mean; x <= words.mean; x += 0.01) {
        const double e = missorted(std::exp(x));
        if (e < fewest) {
            fewest = e;
            middle = std::exp(x);
        }
    }
    // The decoder's own 5 dots unless another word space sorts at least one gap in a hundred
    // better.
    if (decoders - fewest < 0.01) return 0;
    return std::clamp(static_cast<int>(std::lround(middle * 10.0)), 25, 250);
}

double MarkSmear(int window, double fraction) {
    const double f = std::clamp(fraction, 0.0, 1.0);
    return window * (1.0 - 2.0 * f * f);
}

namespace {

// The first decoding pass's program: nothing shown, every key change looked at.
class KeyingWatcher : public ReceiverHost, public KeyEdgeObserver {
  public:
    KeyingWatcher(KeyingLook& look, const std::vector<bool>& present)
        : look_(look), present_(present) {}
    void Attach(Channel& channel) {
        channel_ = &channel;
        channel.keyEdges = this;
    }

    void OnChannelEvent(const ChannelEvent&, std::string_view) override {}
    void ShowFreeBuffers(int) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view, std::string_view) override {}

    void OnKeyEdge(int, std::int64_t sample, bool down) override {
        if (!down) {
            lastUp_ = sample;
            return;
        }
        if (lastUp_ < 0) return;
        const std::int64_t gap = sample - lastUp_;
        const auto segment = static_cast<std::size_t>(sample / kSegmentSamples);
        if (Present(present_, segment) && channel_->decoder.DotLength > 0) {
            look_.gaps.Add(static_cast<double>(gap) /
                           static_cast<double>(channel_->decoder.DotLength));
        }
    }

  private:
    KeyingLook& look_;
    const std::vector<bool>& present_;
    Channel* channel_ = nullptr;
    std::int64_t lastUp_ = -1;
};

std::int64_t MedianOf(std::vector<std::int64_t>& values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

KeyingLook LookAtKeying(SampleSource& source, const ReceiverControls& controls,
                        const std::vector<bool>& present, ProgressReporter* progress,
                        double progressStart, double progressSpan) {
    RewindOrThrow(source);
    KeyingLook look;
    KeyingWatcher watcher(look, present);
    auto ring = std::make_unique<CaptureRing>();
    auto pump = std::make_unique<BlockPump>(*ring, watcher);
    ApplyControls(controls, *pump);
    watcher.Attach(pump->Main());

    // The decoder settles during the first fifth of the blocks where the signal is.
    const std::int64_t length = source.Length();
    const std::int64_t blocksTotal = length > 0 ? (length + kBlockSamples - 1) / kBlockSamples : 0;
    std::int64_t presentBlocks = 0;
    for (std::int64_t b = 0; b < blocksTotal; ++b) {
        presentBlocks += Present(present, static_cast<std::size_t>(b / kSegmentBlocks)) ? 1 : 0;
    }
    const std::int64_t firstCounted = presentBlocks / 5;
    // Dot lengths above this are start-up values, never a sender's (under 2 WPM).
    constexpr std::int64_t kLongestDot = 40000;
    std::vector<std::uint32_t> dots(kLongestDot + 1, 0);
    std::int64_t counted = 0;
    std::int64_t presentSeen = 0;
    std::vector<std::int64_t> segmentDots;

    BlockReader reader(source, progress, progressStart, progressSpan);
    for (std::int64_t index = 0; reader.Next() != 0; ++index) {
        pump->ProcessBlock(reader.Block());
        const auto segment = static_cast<std::size_t>(index / kSegmentBlocks);
        const std::int64_t dot =
            std::clamp<std::int64_t>(pump->Main().decoder.DotLength, 0, kLongestDot);
        if (Present(present, segment)) {
            if (presentSeen++ >= firstCounted) {
                ++dots[static_cast<std::size_t>(dot)];
                ++counted;
            }
            // Longer dots are the decoder's start-up value, never a sender's.
            if (dot <= kSlowestDot) segmentDots.push_back(dot);
        }
        if ((index + 1) % kSegmentBlocks == 0) {
            look.segmentDots.push_back(MedianOf(segmentDots));
            segmentDots.clear();
        }
    }
    if (!segmentDots.empty()) look.segmentDots.push_back(MedianOf(segmentDots));
    if (counted == 0) return look;
    std::int64_t seen = 0;
    for (std::size_t d = 0; d < dots.size(); ++d) {
        seen += dots[d];
        if (2 * seen >= counted) {
            look.medianDot = static_cast<std::int64_t>(d);
            break;
        }
    }
    return look;
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

namespace {

// How a fading recording's threshold was chosen.
struct FadingChoice {
    bool automatic = false;
    double scale = 1.0;  // of the fixed threshold
    double score = 0.0;  // of its trial
};

// A fixed threshold suits a steady signal; under fading the receiver's own threshold, which
// follows the level over about a second, may suit better, and in deep noise a higher fixed one
// that keeps the faded stretches quiet rather than keying noise into letters. The candidate whose
// trial text looks most like Morse wins, the earlier one on a tie; higher thresholds are tried
// only while every text so far looks more like noise than like Morse.
FadingChoice ChooseFadingThreshold(SampleSource& source, const ReceiverControls& controls) {
    FadingChoice best;
    double bestScore = TrialScore(source, controls);
    auto consider = [&](const ReceiverControls& candidate, FadingChoice choice) {
        const double score = TrialScore(source, candidate);
        if (score > bestScore) {
            bestScore = score;
            best = choice;
        }
    };
    ReceiverControls automatic = controls;
    automatic.autoThreshold = true;
    consider(automatic, FadingChoice{true, 1.0});
    for (const double scale : kFadingThresholdScales) {
        if (scale > kFadingThresholdScales.front() && bestScore >= 0.0) break;
        ReceiverControls raised = controls;
        raised.threshold = std::round(controls.threshold * scale * 10000.0) / 10000.0;
        consider(raised, FadingChoice{false, scale});
    }
    best.score = bestScore;
    return best;
}

// Adds [begin, end) to spans kept in order and disjoint.
void AddSpan(std::vector<SampleSpan>& spans, std::int64_t begin, std::int64_t end) {
    if (end <= begin) return;
    if (!spans.empty() && begin <= spans.back().end) {
        spans.back().end = std::max(spans.back().end, end);
        return;
    }
    spans.push_back({begin, end});
}

// Speed of each segment where the signal is: the recording's own burst speed, unless the
// segment's dot stands kSpeedChangeRatio away from the recording's for kSpeedRunSegments in a
// row; a change to a faster setting is made a segment early (the first pass's dot follows the
// sender only after some elements, and a fast setting reads slow keying too), one to a slower
// setting a segment late. 0 where unknown.
std::vector<int> SegmentBurstSpeeds(const KeyingLook& keying, int recordingLpm) {
    const std::size_t n = keying.segmentDots.size();
    std::vector<int> lpm(n, 0);
    const auto median = static_cast<double>(keying.medianDot);
    for (std::size_t s = 0; s < n; ++s) {
        const auto dot = static_cast<double>(keying.segmentDots[s]);
        if (dot <= 0.0) continue;
        const bool changed = dot * kSpeedChangeRatio < median || dot > median * kSpeedChangeRatio;
        lpm[s] = changed ? BurstSpeedForDot(keying.segmentDots[s]) : recordingLpm;
    }
    // Fewer than kSpeedRunSegments of another speed in a row are stumbles of the first pass
    // (a fade, a burst of noise), not the sender's.
    for (std::size_t s = 0; s < n;) {
        std::size_t end = s + 1;
        while (end < n && lpm[end] == lpm[s]) ++end;
        if (lpm[s] != 0 && lpm[s] != recordingLpm && end - s < kSpeedRunSegments) {
            std::fill(lpm.begin() + static_cast<std::ptrdiff_t>(s),
                      lpm.begin() + static_cast<std::ptrdiff_t>(end), recordingLpm);
        }
        s = end;
    }
    // Unknown segments keep the speed before them.
    int last = 0;
    for (std::size_t s = 0; s < n; ++s) {
        if (lpm[s] == 0) lpm[s] = last;
        last = lpm[s];
    }
    std::vector<int> shifted = lpm;
    for (std::size_t s = 1; s < n; ++s) {
        if (lpm[s] == 0 || lpm[s - 1] == 0 || lpm[s] == lpm[s - 1]) continue;
        // Faster settings have the higher LPM.
        if (lpm[s] > lpm[s - 1]) {
            shifted[s - 1] = lpm[s];
        } else if (s + 1 < n) {
            shifted[s] = lpm[s - 1];
        }
    }
    return shifted;
}

}  // namespace

PresetPlan PlanPresets(SampleSource& source, const PresetRequest& request,
                       const ReceiverControls& base, ProgressReporter* progress) {
    PresetPlan plan;
    ReceiverControls& controls = plan.controls;
    controls = base;
    const bool needThreshold = !request.threshold.has_value();
    const bool needBurst = !request.burstLpm.has_value();
    const bool needDot = needBurst || request.warmStart;
    const int passes = 1 + (needThreshold ? 1 : 0) + (needDot ? 1 : 0);
    const double span = 1.0 / passes;
    double at = 0.0;

    const SpectrumLook spectrum =
        LookAtSpectrum(source, controls.centreBin, request.centreBin, progress, at, span);
    controls.centreBin = spectrum.bin;
    at += span;
    for (std::size_t s = 0; s < spectrum.present.size(); ++s) {
        if (spectrum.present[s]) continue;
        const auto begin = static_cast<std::int64_t>(s) * kSegmentSamples;
        AddSpan(plan.absent, begin, begin + kSegmentSamples);
    }
    // AFC rests where only noise is there (a pause, before and after the signal), rather than
    // walking towards it.
    if (!request.afcGiven) controls.afcNeedsTone = true;
    controls.markLevelFraction = kMarkLevelFraction;
    std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> levels{};
    double markSpread = 1.0;
    if (needThreshold) {
        const EnvelopeSurvey survey = SurveyEnvelope(
            source, controls.filterWidth, controls.centreBin, spectrum.present, progress, at, span);
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
    if (!needDot) return plan;

    ReceiverControls probe = controls;
    probe.warmStartDot = 0;
    probe.wordSpaceTenths = 0;
    const KeyingLook keying = LookAtKeying(source, probe, spectrum.present, progress, at, span);
    const std::int64_t dot = keying.medianDot;
    int lpm = firstLpm;
    if (needBurst && dot > 0) {
        lpm = BurstSpeedForDot(dot);
        controls.integrationLength = IntegrationLengthFor(lpm);
    }
    if (needThreshold) controls.threshold = thresholdFor(lpm, NoiseFloorForDot(dot));
    if (request.warmStart && dot > 0) controls.warmStartDot = dot;
    {
        // The first pass measured the gaps with its own burst window and threshold; the decode
        // smears its marks by a different amount.
        auto smear = [&](int length, double threshold) {
            std::size_t j = 1;
            for (std::size_t k = 0; k < kPresetBurstSpeeds.size(); ++k) {
                if (IntegrationLengthFor(kPresetBurstSpeeds[k]) == length) j = k;
            }
            const double mark = levels[j].mark;
            return MarkSmear(BurstWindowFor(length), mark > 0.0 ? threshold / mark : 0.5);
        };
        const double change = needThreshold
                                  ? smear(controls.integrationLength, controls.threshold) -
                                        smear(probe.integrationLength, probe.threshold)
                                  : 0.0;
        controls.wordSpaceTenths = keying.gaps.WordSpaceTenths(static_cast<double>(dot), change);
        // Noise that reaches the first pass's threshold, or a fade, loses elements, and a lost
        // element lengthens a letter gap towards a word gap: only gaps measured clear of noise
        // and fades may move the word space below the decoder's 5 dots.
        const bool clear =
            levels[1].noise < kFirstPassNoiseFloor * levels[1].mark && markSpread <= kFadingSpread;
        if (controls.wordSpaceTenths > 0 && controls.wordSpaceTenths < 50 && !clear) {
            controls.wordSpaceTenths = 0;
        }
    }

    // Where the sender changes speed, the burst speed (and its threshold) changes with him.
    if (needBurst && dot > 0) {
        const std::vector<int> speeds = SegmentBurstSpeeds(keying, lpm);
        int current = lpm;
        for (std::size_t s = 0; s < speeds.size(); ++s) {
            if (speeds[s] == 0 || speeds[s] == current) continue;
            current = speeds[s];
            // The segment's own dot, or that of the next one that has one.
            std::int64_t localDot = 0;
            for (std::size_t t = s; t < speeds.size() && localDot == 0; ++t) {
                localDot = keying.segmentDots[t];
            }
            PresetChange change;
            change.sample = static_cast<std::int64_t>(s) * kSegmentSamples;
            change.integrationLength = IntegrationLengthFor(current);
            if (needThreshold) change.threshold = thresholdFor(current, NoiseFloorForDot(localDot));
            if (change.sample == 0) {
                controls.integrationLength = change.integrationLength;
                if (needThreshold) controls.threshold = change.threshold;
                if (request.warmStart && localDot > 0) controls.warmStartDot = localDot;
            } else {
                plan.changes.push_back(change);
            }
        }
    }

    // Noise keyed while the signal is away leaves the decoder with a noise speed; where the
    // signal comes (back) after two segments or more, the decoder starts afresh.
    if (request.warmStart) {
        for (std::size_t s = 2; s < spectrum.present.size(); ++s) {
            if (!spectrum.present[s] || spectrum.present[s - 1] || spectrum.present[s - 2])
                continue;
            // The signal may come late in the first segment, after more noise: the median of
            // the next few segments' dots is the sender's.
            std::vector<std::int64_t> next;
            for (std::size_t t = s; t < keying.segmentDots.size() && t < s + 4; ++t) {
                if (keying.segmentDots[t] > 0) next.push_back(keying.segmentDots[t]);
            }
            const std::int64_t localDot = MedianOf(next);
            PresetChange change;
            change.sample = static_cast<std::int64_t>(s) * kSegmentSamples;
            change.restartDot = localDot > 0 ? localDot : dot;
            const auto place =
                std::find_if(plan.changes.begin(), plan.changes.end(),
                             [&](const PresetChange& c) { return c.sample > change.sample; });
            plan.changes.insert(place, change);
        }
    }

    if (needThreshold && markSpread > kFadingSpread) {
        // Taking back marks under the sender's level changes which threshold reads a fading
        // signal best: the trials are made with and without it, and the best text wins (with
        // every mark counting on a tie).
        ReceiverControls all = controls;
        all.markLevelFraction = 0.0;
        FadingChoice choice = ChooseFadingThreshold(source, all);
        const FadingChoice checked = ChooseFadingThreshold(source, controls);
        if (checked.score > choice.score) {
            choice = checked;
        } else {
            controls.markLevelFraction = 0.0;
        }
        plan.fading = true;
        plan.thresholdScale = choice.scale;
        auto scaled = [&](double threshold) {
            return std::round(threshold * choice.scale * 10000.0) / 10000.0;
        };
        controls.autoThreshold = choice.automatic;
        if (choice.scale != 1.0) {
            controls.threshold = scaled(controls.threshold);
            for (PresetChange& change : plan.changes) {
                if (change.threshold > 0.0) change.threshold = scaled(change.threshold);
            }
        }
    }
    return plan;
}

void PresetControls(SampleSource& source, const PresetRequest& request, ReceiverControls& controls,
                    ProgressReporter* progress) {
    controls = PlanPresets(source, request, controls, progress).controls;
}

}  // namespace dahlo
