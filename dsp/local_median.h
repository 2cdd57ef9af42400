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

// LocalMedian(values, bin) into medians[bin] for every bin of kFirstBin..kLastBin, the same
// numbers about ten times faster: the window is kept sorted as it slides, one bin leaving and
// one entering per step, instead of a selection over all 41 per bin. `values` holds no NaN.
template <class Values, class Medians>
void LocalMedians(const Values& values, Medians& medians) {
    std::array<double, 2 * kLocalMedianHalfWidth + 1> sorted{};
    double* const first = sorted.data();
    int n = 0;
    auto insert = [&](double v) {
        double* at = std::upper_bound(first, first + n, v);
        std::move_backward(at, first + n, first + n + 1);
        *at = v;
        ++n;
    };
    auto remove = [&](double v) {  // an equal value is the same number whichever goes
        double* at = std::lower_bound(first, first + n, v);
        std::move(at + 1, first + n, at);
        --n;
    };
    for (int k = kFirstBin; k <= std::min(kLastBin, kFirstBin + kLocalMedianHalfWidth); ++k) {
        insert(values[k]);
    }
    for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
        if (bin > kFirstBin) {
            if (bin - kLocalMedianHalfWidth - 1 >= kFirstBin) {
                remove(values[bin - kLocalMedianHalfWidth - 1]);
            }
            if (bin + kLocalMedianHalfWidth <= kLastBin) insert(values[bin + kLocalMedianHalfWidth]);
        }
        medians[bin] = sorted[static_cast<std::size_t>(n / 2)];
    }
}

}  // namespace dahlo
