#pragma once
// The noise floor a spectral peak stands against: the median of the bins around it.

#include <algorithm>
#include <array>

#include "dsp/main_filter.h"

namespace dahlo {

// Bins on each side of the one looked at: 41 bins, 220 Hz, wide enough that one signal's peak
// and skirts do not move the median, narrow enough to follow a sloping receiver passband.
inline constexpr int kLocalMedianHalfWidth = 20;

// The median (the upper one of an even count) of `values` over the bins within
// kLocalMedianHalfWidth of `bin`, clipped to kFirstBin..kLastBin. `values` is indexed by bin.
template <class Values>
double LocalMedian(const Values& values, int bin) {
    std::array<double, 2 * kLocalMedianHalfWidth + 1> window{};
    const int lo = std::max(kFirstBin, bin - kLocalMedianHalfWidth);
    const int hi = std::min(kLastBin, bin + kLocalMedianHalfWidth);
    const int n = hi - lo + 1;
    std::copy(values.begin() + lo, values.begin() + hi + 1, window.begin());
    std::nth_element(window.begin(), window.begin() + n / 2, window.begin() + n);
    return window[static_cast<std::size_t>(n / 2)];
}

// Whether values[bin] > factor * LocalMedian(values, bin) (factor > 0), without the median: that
// holds exactly when more than half the window (the median and every value below it) lies under
// values[bin] / factor. A count over 41 values costs far less than a selection.
template <class Values>
bool AboveLocalMedian(const Values& values, int bin, double factor) {
    const int lo = std::max(kFirstBin, bin - kLocalMedianHalfWidth);
    const int hi = std::min(kLastBin, bin + kLocalMedianHalfWidth);
    int below = 0;
    for (int j = lo; j <= hi; ++j) below += factor * values[j] < values[bin] ? 1 : 0;
    return below > (hi - lo + 1) / 2;
}

}  // namespace dahlo
