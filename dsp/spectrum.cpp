#include "dsp/spectrum.h"

#include <algorithm>
#include <cmath>

#include "dsp/main_filter.h"

namespace dahlo {
namespace {

constexpr double kMagnitudeScale = 1.1920928955078125e-7;  // 2^-23: a bin-centred 8192 sine -> 1
constexpr double kPeakDecay = 0.95;                        // per block, -0.45 dB

// Strongest of values[lo..hi]; the centre wins ties, otherwise the lowest bin does.
int StrongestBin(const std::array<double, 2048>& values, int centre, int lo, int hi) {
    double best = values[centre];
    int winner = centre;
    for (int k = lo; k <= hi; ++k) {
        if (values[k] > best) {
            best = values[k];
            winner = k;
        }
    }
    return winner;
}

}  // namespace

void SmoothSpectrum(SpectrumState& spectrum) {
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        spectrum.PeakHold[k] = kPeakDecay * spectrum.PeakHold[k];
        const double a = spectrum.SpectrumRe[k] * kMagnitudeScale;
        const double b = spectrum.SpectrumIm[k] * kMagnitudeScale;
        const double m = std::sqrt(a * a + b * b);
        spectrum.SmoothedMagnitude[k] = (2.0 * m + spectrum.SmoothedMagnitude[k]) / 3.0;
        if (spectrum.SmoothedMagnitude[k] > spectrum.PeakHold[k]) {
            spectrum.PeakHold[k] = spectrum.SmoothedMagnitude[k];
        }
    }
}

int FindGoToMaxBin(const SpectrumState& spectrum, int centreBin) {
    const int centre = std::clamp(centreBin, kFirstBin, kLastBin);
    return StrongestBin(spectrum.PeakHold, centre, kFirstBin, kLastBin);
}

int FindAfcBin(const SpectrumState& spectrum, int centreBin, int afcSpeed) {
    const int centre = std::clamp(centreBin, kFirstBin, kLastBin);
    const int speed = std::max(afcSpeed, 0);
    const int lo = std::max(centre - speed, kFirstBin);
    const int hi = std::min(centre + speed, kLastBin);
    return StrongestBin(spectrum.SmoothedMagnitude, centre, lo, hi);
}

}  // namespace dahlo
