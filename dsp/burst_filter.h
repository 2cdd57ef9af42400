#pragma once
// Envelope of the filtered tone: a moving RMS over the last `BurstWindow` samples, kept as a
// running sum of squares so its cost does not depend on the window length.

#include <array>
#include <cmath>
#include <cstddef>

namespace dahlo {

inline constexpr int kBurstRingSize = 1000;
inline constexpr int kDefaultIntegrationLength = 175;  // the 200 LPM setting

struct BurstFilter {
    std::array<double, kBurstRingSize> ring{};
    double BurstSum = 0.0;
    int BurstPos = 0;
    int BurstWindow = 58;    // 10..1000
    bool BurstReset = true;  // clear the ring at the next sample

    // One filtered sample in, the envelope (>= 0) out.
    double BurstFilterStep(double y) {
        if (BurstReset) {
            for (int i = 0; i < BurstWindow; ++i) ring[i] = 0.0;
            BurstPos = 0;
            BurstSum = 0.0;
            BurstReset = false;
        }
        BurstSum -= ring[BurstPos];
        const double square = y * y;
        ring[BurstPos] = square;
        BurstSum += square;
        if (++BurstPos >= BurstWindow) BurstPos = 0;
        // Rounding can leave the running sum a hair below zero after silence.
        return BurstSum > 0.0 ? std::sqrt(BurstSum / BurstWindow) : 0.0;
    }

    // The running sum of squares (the envelope squared, times the window) after each of `count`
    // squared samples, handed to `onSum`: for a look at the envelope's distribution, which needs
    // neither the root nor the division. Keeps sum and position in registers over the block.
    template <class OnSum>
    void AddSquares(const double* squares, std::size_t count, OnSum&& onSum) {
        if (BurstReset) {
            for (int i = 0; i < BurstWindow; ++i) ring[i] = 0.0;
            BurstPos = 0;
            BurstSum = 0.0;
            BurstReset = false;
        }
        double sum = BurstSum;
        int pos = BurstPos;
        for (std::size_t i = 0; i < count; ++i) {
            sum -= ring[pos];
            ring[pos] = squares[i];
            sum += squares[i];
            if (++pos >= BurstWindow) pos = 0;
            onSum(i, sum);
        }
        BurstSum = sum;
        BurstPos = pos;
    }
};

// Window length for an integration length: L / 3, kept within 10..1000.
constexpr int BurstWindowFor(int integrationLength) {
    int window = integrationLength / 3;
    if (window > 1000) window = 1000;
    if (window < 10) window = 10;
    return window;
}

// Integration length for a burst-filter menu speed: 35000 / lpm rounded, halves up.
constexpr int IntegrationLengthFor(int lpm) { return (lpm / 2 + 35000) / lpm; }

// The speed an integration length stands for (the number shown in caption and panel).
constexpr int ShownBurstSpeed(int integrationLength) {
    return (integrationLength / 2 + 35000) / integrationLength;
}

}  // namespace dahlo
