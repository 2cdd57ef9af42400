#include "decode/keying_look.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/decode_session.h"
#include "decode/spectrum_look.h"

namespace dahlo {

namespace {
// The longest dot a sender keys (3 WPM).
constexpr std::int64_t kSlowestDot = 4410;
}  // namespace

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
        if (SegmentPresent(present_, segment) && channel_->decoder.DotLength > 0) {
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
        presentBlocks += SegmentPresent(present, static_cast<std::size_t>(b / kSegmentBlocks)) ? 1 : 0;
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
        if (SegmentPresent(present, segment)) {
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

std::int64_t MedianOf(std::vector<std::int64_t>& values) {
    if (values.empty()) return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace dahlo
