#pragma once
// Smoothed spectrum and peak hold of bins 30..450, and the two searches that steer the filter:
// GoToMax over the peak hold of the whole band, AFC over the smoothed spectrum near the centre.

#include <array>

namespace dahlo {

// Magnitudes are in units of 2^-23 of the raw transform: a steady sine of amplitude 8192 on a bin
// gives 1.0 there. Only bins 30..450 of SmoothedMagnitude and PeakHold are ever written.
struct SpectrumState {
    std::array<double, 2048> SpectrumRe{};
    std::array<double, 2048> SpectrumIm{};
    std::array<double, 2048> SmoothedMagnitude{};
    std::array<double, 2048> PeakHold{};
};

// Folds the transform now in SpectrumRe/SpectrumIm into bins 30..450: the peak hold decays by
// 0.95, the new magnitude weighs 2/3 against 1/3 of the old smoothed value, and the peak hold
// takes the smoothed value when that is above it.
void SmoothSpectrum(SpectrumState& spectrum);

// The bin GoToMax tunes to: the strongest PeakHold bin of 30..450; the current bin keeps its place
// against equals, otherwise the lowest of equal bins wins. The result is always in 30..450 (a
// centre outside it is first brought into it).
int FindGoToMaxBin(const SpectrumState& spectrum, int centreBin);

// The bin an AFC step tunes to: the strongest SmoothedMagnitude bin within centreBin +- afcSpeed
// (confined to 30..450), with the same tie-breaks. afcSpeed <= 0 keeps the centre.
int FindAfcBin(const SpectrumState& spectrum, int centreBin, int afcSpeed);

}  // namespace dahlo
