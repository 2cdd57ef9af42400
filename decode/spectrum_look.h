#pragma once
// The first look at a recording: where its signal is in the spectrum, and in which stretches of
// the recording it stands out. Every look streams the input again; nothing holds the samples.

#include <cstdint>
#include <optional>
#include <vector>

#include "capture/capture_ring.h"
#include "recording/sample_source.h"

namespace dahlo {

// The looks cut the input into segments of 16 blocks (2.97 s); the last may be shorter.
inline constexpr int kSegmentBlocks = 16;
inline constexpr std::int64_t kSegmentSamples = kSegmentBlocks * kBlockSamples;

// Back to the input's first sample for another look; InputError for a stream that cannot.
void RewindOrThrow(SampleSource& source);

// Whether segment `s` holds the signal; an empty list (or one that ends early) holds it
// everywhere after.
bool SegmentPresent(const std::vector<bool>& present, std::size_t s);

// The averaged spectrum of the input (every whole block transformed and smoothed as the spectrum
// stage does). `bin` (30..450) stands highest above the median of the 41 bins around it, over the
// whole input; `present[s]` says whether segment s has a peak within 3 bins of it standing at
// least kPresenceRatio above its own median there: the signal is on in that segment.
struct SpectrumLook {
    int bin = 0;
    std::vector<bool> present;
};
inline constexpr double kPresenceRatio = 2.0;
SpectrumLook LookAtSpectrum(SampleSource& source, int fallbackBin,
                            std::optional<int> givenBin = std::nullopt,
                            ProgressReporter* progress = nullptr, double progressStart = 0.0,
                            double progressSpan = 1.0);

// LookAtSpectrum's bin; `fallback` when the input has no whole block or is silent.
int EstimatePitchBin(SampleSource& source, int fallback, ProgressReporter* progress = nullptr,
                     double progressStart = 0.0, double progressSpan = 1.0);

}  // namespace dahlo
