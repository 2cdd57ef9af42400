#pragma once
// General-length mixed-radix decimation-in-time FFT of 16-bit real samples: digit-reversed copy,
// then one in-place pass per factor with short modules for 2, 3, 4, 5, 8 and 10 and a general odd
// module for primes up to 37. Forward, negative exponent, unnormalised.

#include <array>
#include <cstdint>
#include <vector>

namespace dahlo {

inline constexpr int kMaxFftFactor = 37;
inline constexpr int kMaxFftFactors = 20;

// Reused work storage of the transform: the root table of the current pass's radix, the twiddle
// table of the current group, the r elements of one short DFT and the half tables of the general
// odd module. Not re-entrant: one transform at a time per workspace.
struct FftWorkspace {
    std::array<double, kMaxFftFactor> rootRe{}, rootIm{};
    std::array<double, kMaxFftFactor> twiddleRe{}, twiddleIm{};
    std::array<double, kMaxFftFactor> zRe{}, zIm{};
    std::array<double, (kMaxFftFactor + 1) / 2> sigmaRe{}, sigmaIm{}, deltaRe{}, deltaIm{};
};

// re[k] + i im[k] = sum_m samples[m] e^(-2 pi i k m / n), k = 0..n-1; samples, re and im hold n
// entries each. Allocates nothing. A length with a factor above 37 writes
// "\nPrime factor of FFT length too large : %6d" to stdout and exits with status 1 before touching
// re/im. n < 1 is a no-op.
void MixedRadixFft(FftWorkspace& work, int n, const std::int16_t* samples, double* re, double* im);

// The radices of the passes, in pass order (2048 -> 4, 8, 8, 8; 1 -> 1; n < 1 -> empty). Factors
// above 37 are listed, not refused. For tests and tools.
std::vector<int> FftStages(int n);

}  // namespace dahlo
