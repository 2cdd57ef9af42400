#include "skimmer/signal_finder.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/local_median.h"

namespace dahlo {

namespace {

constexpr double kPeakOverFloor = 16.0;    // 12 dB in power
constexpr double kKeyedSwing = 10.0;       // loudest block at least 10 dB above the quietest
constexpr int kSeenBlocksToQualify = 4;    // peak seen in this many blocks (about 0.75 s)
constexpr int kMatchBins = 4;              // a peak this near a track is the track's
constexpr int kForgetAfterBlocks = 32;     // a track unseen this long is dropped
constexpr double kLeakageMargin = 10.0;    // 10 dB above what leakage explains
constexpr int kFollowBins = 80;            // clicks and leakage reach this far (430 Hz)
constexpr double kFollowCorrelation = 0.85;

// The leakage of a rectangular window falls off as 1 / (pi d)^2 in power, d bins away.
double LeakageAt(int distance) {
    const double x = std::numbers::pi * distance;
    return kLeakageMargin / (x * x);
}

// Of the log powers over the last `blocks` blocks before `next` (a history slot).
double Correlation(const std::array<float, SignalFinder::kHistory>& a,
                   const std::array<float, SignalFinder::kHistory>& b, int next, int blocks) {
    double ma = 0.0, mb = 0.0;
    std::array<int, SignalFinder::kHistory> slots{};
    for (int j = 0; j < blocks; ++j) {
        slots[j] = (next - 1 - j + SignalFinder::kHistory) % SignalFinder::kHistory;
    }
    for (int j = 0; j < blocks; ++j) {
        ma += std::log(a[slots[j]] + 1e-12);
        mb += std::log(b[slots[j]] + 1e-12);
    }
    ma /= blocks;
    mb /= blocks;
    double sab = 0.0, saa = 0.0, sbb = 0.0;
    for (int j = 0; j < blocks; ++j) {
        const int i = slots[j];
        const double da = std::log(a[i] + 1e-12) - ma;
        const double db = std::log(b[i] + 1e-12) - mb;
        sab += da * db;
        saa += da * da;
        sbb += db * db;
    }
    return saa > 0.0 && sbb > 0.0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

}  // namespace

void SignalFinder::Update(const SpectrumState& spectrum, std::int64_t blockStart,
                          const std::vector<int>& occupied, int guardBins) {
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        power_[k] = spectrum.SpectrumRe[k] * spectrum.SpectrumRe[k] +
                    spectrum.SpectrumIm[k] * spectrum.SpectrumIm[k];
    }

    // Peaks above the floor, strongest first; a peak the leakage of a stronger one explains is
    // dropped. The floor itself is needed only under the peaks.
    std::vector<int> peaks;
    for (int k = kFirstBin + 1; k < kLastBin; ++k) {
        if (power_[k] >= power_[k - 1] && power_[k] > power_[k + 1] &&
            AboveLocalMedian(power_, k, kPeakOverFloor)) {
            floor_[k] = LocalMedian(power_, k);
            peaks.push_back(k);
        }
    }
    std::sort(peaks.begin(), peaks.end(), [this](int a, int b) { return power_[a] > power_[b]; });
    std::vector<int> accepted;
    for (const int k : peaks) {
        bool leakage = false;
        for (const int p : accepted) {
            if (power_[k] <= power_[p] * LeakageAt(std::abs(k - p))) {
                leakage = true;
                break;
            }
        }
        if (!leakage) accepted.push_back(k);
    }

    const int slot = static_cast<int>(block_ % kHistory);
    for (Track& track : tracks_) {
        track.history[slot] = static_cast<float>(power_[track.bin]);
        track.quietest = std::min(track.quietest, power_[track.bin]);
    }
    for (const int k : accepted) {
        auto it = std::find_if(tracks_.begin(), tracks_.end(), [&](const Track& t) {
            return std::abs(t.bin - k) <= kMatchBins;
        });
        if (it == tracks_.end()) {
            // Reported tracks stay while they are heard, so that their clicks and leakage are
            // recognised; a signal with a channel starts no new one.
            const bool taken = std::any_of(occupied.begin(), occupied.end(), [&](int bin) {
                return std::abs(bin - k) <= guardBins;
            });
            if (taken) continue;
            Track track;
            track.bin = k;
            track.firstSample = blockStart;
            track.createdBlock = block_;
            track.quietest = power_[k];
            track.history.fill(static_cast<float>(floor_[k]));
            track.history[slot] = static_cast<float>(power_[k]);
            tracks_.push_back(track);
            it = tracks_.end() - 1;
        }
        Track& track = *it;
        if (power_[k] > track.loudest) {
            track.loudest = power_[k];
            track.bin = k;
        }
        track.bestSnr = std::max(track.bestSnr, power_[k] / std::max(floor_[k], 1e-30));
        track.lastSeenBlock = block_;
        ++track.seenBlocks;
    }

    for (Track& track : tracks_) {
        if (track.reported || !Qualifies(track) || FollowsAStrongerTrack(track)) continue;
        const bool taken = std::any_of(occupied.begin(), occupied.end(), [&](int bin) {
            return std::abs(bin - track.bin) <= guardBins;
        });
        if (taken) continue;
        track.reported = true;
        new_.push_back({track.bin, track.firstSample, 10.0 * std::log10(track.bestSnr)});
    }
    std::erase_if(tracks_,
                  [this](const Track& t) { return block_ - t.lastSeenBlock > kForgetAfterBlocks; });
    ++block_;
}

bool SignalFinder::Qualifies(const Track& track) const {
    return track.seenBlocks >= kSeenBlocksToQualify &&
           track.loudest > kKeyedSwing * std::max(track.quietest, 1e-30);
}

bool SignalFinder::FollowsAStrongerTrack(const Track& track) const {
    for (const Track& other : tracks_) {
        if (&other == &track || other.loudest <= track.loudest) continue;
        if (std::abs(other.bin - track.bin) > kFollowBins) continue;
        // Over the blocks both have been followed.
        const auto span = static_cast<int>(
            std::min<std::int64_t>(SignalFinder::kHistory, block_ + 1 - std::max(track.createdBlock,
                                                                                other.createdBlock)));
        if (span < 4) continue;
        const int next = static_cast<int>((block_ + 1) % kHistory);
        if (Correlation(track.history, other.history, next, span) > kFollowCorrelation) {
            return true;
        }
    }
    return false;
}

std::vector<FoundSignal> SignalFinder::TakeNew() {
    std::vector<FoundSignal> out;
    out.swap(new_);
    std::sort(out.begin(), out.end(),
              [](const FoundSignal& a, const FoundSignal& b) { return a.snrDb > b.snrDb; });
    recent_ = out;
    return out;
}

}  // namespace dahlo
