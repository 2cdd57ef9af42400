#include "dsp/main_filter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace dahlo {

namespace {

using Real = long double;
using Complex = std::complex<Real>;

constexpr int kPrototypeOrder = 8;  // four conjugate pole pairs, one per two sections
constexpr Real kVeryWideLowestEdgeHz = 30.0L;
constexpr double kDesignWidthHz[3] = {20.0, 100.0, 500.0};

// Coefficients a_0..a_n of the reverse Bessel polynomial of degree n, lowest power first:
// a_k = (2n-k)! / (2^(n-k) k! (n-k)!). Every one is an integer, exact in long double.
std::array<Real, kPrototypeOrder + 1> ReverseBesselCoefficients() {
    constexpr int n = kPrototypeOrder;
    std::array<Real, n + 1> a{};
    auto factorial = [](int m) {
        Real f = 1.0L;
        for (int i = 2; i <= m; ++i) f *= i;
        return f;
    };
    for (int k = 0; k <= n; ++k) {
        a[k] = factorial(2 * n - k) / (std::ldexp(1.0L, n - k) * factorial(k) * factorial(n - k));
    }
    return a;
}

// Value and first derivative of the polynomial at s (Horner).
void EvaluatePolynomial(const std::array<Real, kPrototypeOrder + 1>& a, Complex s, Complex& p,
                        Complex& dp) {
    p = a[kPrototypeOrder];
    dp = 0.0L;
    for (int k = kPrototypeOrder - 1; k >= 0; --k) {
        dp = dp * s + p;
        p = p * s + a[k];
    }
}

// All roots by the Aberth-Ehrlich iteration, then a few Newton steps each to polish them.
std::array<Complex, kPrototypeOrder> ComputeBesselPoles() {
    const auto a = ReverseBesselCoefficients();
    std::array<Complex, kPrototypeOrder> z{};
    // Start on a circle of the roots' geometric mean radius, turned off the real axis so no
    // start point is a conjugate of another.
    const Real radius = std::pow(a[0] / a[kPrototypeOrder], 1.0L / kPrototypeOrder);
    for (int i = 0; i < kPrototypeOrder; ++i) {
        const Real angle = 2.0L * std::numbers::pi_v<Real> * (i + 0.25L) / kPrototypeOrder + 0.4L;
        z[i] = std::polar(radius, angle);
    }
    for (int iteration = 0; iteration < 500; ++iteration) {
        Real largestStep = 0.0L;
        for (int i = 0; i < kPrototypeOrder; ++i) {
            Complex p, dp;
            EvaluatePolynomial(a, z[i], p, dp);
            if (p == Complex(0.0L)) continue;
            const Complex ratio = p / dp;
            Complex repulsion = 0.0L;
            for (int j = 0; j < kPrototypeOrder; ++j) {
                if (j != i) repulsion += 1.0L / (z[i] - z[j]);
            }
            const Complex step = ratio / (1.0L - ratio * repulsion);
            z[i] -= step;
            largestStep = std::max(largestStep, std::abs(step) / std::abs(z[i]));
        }
        if (largestStep < 1e-17L) break;
    }
    for (auto& root : z) {
        for (int k = 0; k < 3; ++k) {
            Complex p, dp;
            EvaluatePolynomial(a, root, p, dp);
            if (dp != Complex(0.0L)) root -= p / dp;
        }
    }
    // Upper half plane first, by increasing imaginary part; the conjugates follow in the same
    // order, forced to be exact mirrors.
    std::sort(z.begin(), z.end(), [](Complex l, Complex r) { return l.imag() > r.imag(); });
    std::array<Complex, kPrototypeOrder> sorted{};
    constexpr int half = kPrototypeOrder / 2;
    for (int i = 0; i < half; ++i) {
        sorted[i] = z[half - 1 - i];
        sorted[half + i] = std::conj(sorted[i]);
    }
    return sorted;
}

const std::array<Complex, kPrototypeOrder>& BesselPoles() {
    static const std::array<Complex, kPrototypeOrder> poles = ComputeBesselPoles();
    return poles;
}

Real Prewarp(Real hz) {
    const Real fs = kSampleRateHz;
    return 2.0L * fs * std::tan(std::numbers::pi_v<Real> * hz / fs);
}

struct Section {
    Real a1;
    Real a2;
};

// Cascade response at `hz`, without g, evaluated from the coefficients as stored.
Complex CascadeResponse(const FilterRow& row, double hz) {
    const Real omega = 2.0L * std::numbers::pi_v<Real> * hz / kSampleRateHz;
    const Complex zInv = std::polar(1.0L, -omega);
    const Complex zInv2 = zInv * zInv;
    Complex h = 1.0L;
    for (int i = 0; i < kFilterSections; ++i) {
        const Complex num =
            Real(row.b[3 * i]) + Real(row.b[3 * i + 1]) * zInv + Real(row.b[3 * i + 2]) * zInv2;
        const Complex den =
            Real(row.a[3 * i]) + Real(row.a[3 * i + 1]) * zInv + Real(row.a[3 * i + 2]) * zInv2;
        h *= num / den;
    }
    return h;
}

}  // namespace

double RowGainAt(const FilterRow& row, double hz) {
    return static_cast<double>(row.g * std::abs(CascadeResponse(row, hz)));
}

namespace {

struct AllTables {
    std::array<FilterCoefficientTable, 3> tables;
    AllTables() {
        for (int width = 0; width < 3; ++width) {
            for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
                tables[width].rows[bin - kFirstBin] = DesignFilterRow(width, bin);
            }
        }
    }
};

}  // namespace

const std::array<std::complex<long double>, 8>& BesselPrototypePoles() {
    return BesselPoles();
}

FilterRow DesignFilterRow(int width, int bin) {
    width = FilterWidthFromMode(width);
    const Real fs = kSampleRateHz;
    const Real f0 = Real(bin) * fs / kFftLength;
    const Real halfWidth = Real(kDesignWidthHz[width]) / 2.0L;
    Real f1 = f0 - halfWidth;
    const Real f2 = f0 + halfWidth;
    if (width == kVeryWide && f1 < kVeryWideLowestEdgeHz) f1 = kVeryWideLowestEdgeHz;

    const Real omega1 = Prewarp(f1);
    const Real omega2 = Prewarp(f2);
    const Real bandwidth = omega2 - omega1;
    const Real centreSquared = omega1 * omega2;  // Omega0^2

    // Each upper-half-plane prototype pole p gives two band-pass poles (s^2 - pBs + Omega0^2 = 0);
    // its conjugate gives their conjugates, so each of the eight is one second-order section.
    std::array<Section, kFilterSections> sections{};
    const auto& prototype = BesselPoles();
    for (int i = 0; i < kPrototypeOrder / 2; ++i) {
        const Complex pb = prototype[i] * bandwidth;
        const Complex root = std::sqrt(pb * pb - 4.0L * centreSquared);
        const Complex analog[2] = {(pb + root) / 2.0L, (pb - root) / 2.0L};
        for (int j = 0; j < 2; ++j) {
            const Complex z = (2.0L * fs + analog[j]) / (2.0L * fs - analog[j]);
            sections[2 * i + j] = {-2.0L * z.real(), std::norm(z)};
        }
    }
    std::sort(sections.begin(), sections.end(),
              [](const Section& l, const Section& r) { return l.a2 < r.a2; });

    FilterRow row;
    for (int i = 0; i < kFilterSections; ++i) {
        row.b[3 * i] = 1.0;
        row.b[3 * i + 1] = 0.0;
        row.b[3 * i + 2] = -1.0;
        row.a[3 * i] = 1.0;
        row.a[3 * i + 1] = static_cast<double>(sections[i].a1);
        row.a[3 * i + 2] = static_cast<double>(sections[i].a2);
    }
    // Normalise on the rounded coefficients actually stored, so the running cascade has a
    // magnitude of 1 at f0 to within double rounding.
    row.g = static_cast<double>(1.0L / std::abs(CascadeResponse(row, static_cast<double>(f0))));
    return row;
}

const FilterCoefficientTable& FilterCoefficientTables(int width) {
    static const AllTables all;  // thread-safe one-time build
    return all.tables[FilterWidthFromMode(width)];
}

const char* FilterWidthCaption(int width) {
    switch (FilterWidthFromMode(width)) {
        case kNarrow:
            return "Main Filter  (Narrow)";
        case kWide:
            return "Main Filter  (Wide)";
        default:
            return "Main Filter  (Very Wide)";
    }
}

const char* FilterWidthPanel(int width) {
    switch (FilterWidthFromMode(width)) {
        case kNarrow:
            return "Narrow";
        case kWide:
            return "Wide";
        default:
            return "V.Wide";
    }
}

}  // namespace dahlo
