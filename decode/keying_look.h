#pragma once
// A first decoding pass over a recording: its dot length along the way and how its gaps group
// into letter and word spaces.

#include <array>
#include <cstdint>
#include <vector>

#include "receiver/receiver_controls.h"
#include "recording/sample_source.h"

namespace dahlo {

// Spaces between marks in dot lengths (the decoder's dot length when the space ended), from 1.8
// (the decoder's end of a character) up, in log-spaced bins.
class GapHistogram {
  public:
    void Add(double dots);
    std::int64_t Total() const { return total_; }
    // The word space the gaps call for, in tenths of a dot of a decode whose marks come out
    // `smearChange` samples longer than those of the pass that measured the gaps (`dot`, its
    // median dot; 0: the same decode). 0 (the decoder's 5 dots) unless the gaps up to four times
    // the commonest fall into two clear groups, letter gaps and word gaps; each group is taken as
    // a log-normal distribution, and the word space that sorts the fewest gaps into the wrong
    // group is chosen when it sorts at least one gap in a hundred better than 5 dots.
    int WordSpaceTenths(double dot = 0.0, double smearChange = 0.0) const;

  private:
    static constexpr double kLowest = 1.8;
    static constexpr double kStep = 0.05;  // natural log
    static constexpr int kBins = 64;       // up to about 44 dots
    double ValueAt(double bin) const;
    std::array<std::int64_t, kBins> counts_{};
    std::int64_t total_ = 0;
};

// How many samples longer a mark comes out of a burst window of `window` samples with the
// threshold at `fraction` of the mark's envelope: the envelope (a moving RMS) reaches the
// threshold fraction^2 of a window after the tone starts and falls below it 1 - fraction^2 of a
// window after it ends.
double MarkSmear(int window, double fraction);

// What a first decoding pass tells about the keying, where the signal is present.
struct KeyingLook {
    std::int64_t medianDot = 0;             // over the present blocks after the first fifth of them
    std::vector<std::int64_t> segmentDots;  // median dot of each segment; 0 when not present
    GapHistogram gaps;
};
KeyingLook LookAtKeying(SampleSource& source, const ReceiverControls& controls,
                        const std::vector<bool>& present, ProgressReporter* progress = nullptr,
                        double progressStart = 0.0, double progressSpan = 1.0);

// The median of `values` (the upper one of an even count); reorders them. 0 when empty.
std::int64_t MedianOf(std::vector<std::int64_t>& values);

}  // namespace dahlo
