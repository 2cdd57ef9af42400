#pragma once
// Finds the CW signals in the band from the shared spectrum, block by block: a carrier is a peak
// standing well above the local noise floor, and it keys, so its bin is loud in some blocks and
// quiet in others. One signal gives one report: peaks that are only the leakage or the key
// clicks of a stronger neighbour (weaker by what the leakage explains, or rising and falling in
// step with it) are not signals of their own.

#include <array>
#include <cstdint>
#include <vector>

#include "dsp/main_filter.h"
#include "dsp/spectrum.h"

namespace dahlo {

struct FoundSignal {
    int bin = 0;                   // 30..450
    std::int64_t firstSample = 0;  // first sample of the block it was first seen in
    double snrDb = 0.0;            // its loudest block against the local floor, per bin
};

class SignalFinder {
  public:
    // Blocks a track's history spans (about 6 s).
    static constexpr int kHistory = 32;

    // Looks at the transform of the block that starts at `blockStart` (spectrum.SpectrumRe/Im).
    // Signals within `guardBins` of a bin in `occupied` are left alone (they have a channel).
    void Update(const SpectrumState& spectrum, std::int64_t blockStart,
                const std::vector<int>& occupied, int guardBins = 4);

    // The signals that qualified since the last call, strongest first; each is given once.
    std::vector<FoundSignal> TakeNew();
    // The signals TakeNew gave last.
    const std::vector<FoundSignal>& Recent() const { return recent_; }

    // Per-bin power of the last block (bins 30..450, units of the transform squared).
    const std::array<double, kLastBin + 1>& Power() const { return power_; }

  private:
    struct Track {
        int bin = 0;
        std::int64_t firstSample = 0;
        std::int64_t createdBlock = 0;
        std::int64_t lastSeenBlock = 0;
        int seenBlocks = 0;
        double loudest = 0.0;   // power
        double quietest = 0.0;  // power at its bin in a block after it was first seen
        double bestSnr = 0.0;   // power / floor
        std::array<float, kHistory> history{};  // power at its bin, by block number % kHistory
        bool reported = false;
    };

    bool Qualifies(const Track& track) const;
    bool FollowsAStrongerTrack(const Track& track) const;

    std::array<double, kLastBin + 1> power_{};
    std::array<double, kLastBin + 1> floor_{};  // the local floor, set at the last block's peaks
    std::vector<Track> tracks_;
    std::vector<FoundSignal> new_;
    std::vector<FoundSignal> recent_;
    std::int64_t block_ = 0;
};

}  // namespace dahlo
