#pragma once
// The main band-pass: a 16th-order Bessel band-pass, eight second-order sections, centred on an
// FFT bin (30..450) in one of three widths. Every row of the three coefficient tables is designed
// once, at first use; tuning only switches rows, and never clears the filter's state.

#include <array>
#include <complex>

#include "dsp/sample_rate.h"

namespace dahlo {

// 16-bit samples into the main filter: full scale is +-2.0.
inline constexpr double kSampleScale = 1.0 / 16384.0;
inline constexpr int kFftLength = 2048;
inline constexpr double kHzPerBin = double{kSampleRateHz} / kFftLength;  // 5.38330078125
inline constexpr int kFirstBin = 30;
inline constexpr int kLastBin = 450;
inline constexpr int kBinCount = kLastBin - kFirstBin + 1;  // 421
inline constexpr int kDefaultCentreBin = 185;               // 995.9 Hz
inline constexpr int kFilterSections = 8;

enum FilterWidthMode : int { kNarrow = 0, kWide = 1, kVeryWide = 2 };

// One bin's coefficients: the gain g, the numerator triples b0 b1 b2 of sections 0..7, the
// denominator triples a0 a1 a2 of sections 0..7 (49 doubles). Sections by increasing a2.
struct FilterRow {
    double g = 0.0;
    std::array<double, 3 * kFilterSections> b{};
    std::array<double, 3 * kFilterSections> a{};
};

struct FilterCoefficientTable {
    std::array<FilterRow, kBinCount> rows{};
    const FilterRow& Row(int bin) const { return rows[bin - kFirstBin]; }
};

// Poles of the 8th-order Bessel low-pass normalised for unit group delay (roots of the reverse
// Bessel polynomial), found numerically at first use: four upper-half-plane poles by increasing
// imaginary part, then their conjugates in the same order.
const std::array<std::complex<long double>, 8>& BesselPrototypePoles();

// Designs the row of `bin` for width `width` (0 Narrow 20 Hz, 1 Wide 100 Hz, 2 Very Wide 500 Hz
// design band; the Very Wide lower edge is raised to 30 Hz where it would fall below). g makes the
// magnitude of the cascade, as stored, exactly 1 at the bin's frequency.
FilterRow DesignFilterRow(int width, int bin);

// The table of a width (0, 1 or 2), designed on first use and shared read-only afterwards.
const FilterCoefficientTable& FilterCoefficientTables(int width);

// Brings a bin from outside (a settings file, a command line) into 30..450.
constexpr int ClampCentreBin(int bin) {
    return bin < kFirstBin ? kFirstBin : (bin > kLastBin ? kLastBin : bin);
}

// The width that `SetFilterWidth` makes of a mode: 0, 1, and 2 for every other value.
constexpr int FilterWidthFromMode(int mode) {
    return mode == 0 ? 0 : (mode == 1 ? 1 : 2);
}
// "Main Filter  (Narrow)" / "(Wide)" / "(Very Wide)".
const char* FilterWidthCaption(int width);
// "Narrow" / "Wide" / "V.Wide".
const char* FilterWidthPanel(int width);

// Gain |H(hz)| of a row, g included, from its coefficients as stored (1 at its centre).
double RowGainAt(const FilterRow& row, double hz);

// The running filter: the current row and the section state.
class MainFilter {
  public:
    // Points the filter at `row` (a row of a table that outlives the filter, and stays unchanged
    // while selected). Keeps the section state: retuning never clears it.
    void SelectRow(const FilterRow& row) {
        row_ = &row;
        unitA0_ = true;
        for (int i = 0; i < kFilterSections; ++i) unitA0_ = unitA0_ && row.a[3 * i] == 1.0;
    }
    const FilterRow* CurrentRow() const { return row_; }
    // Clears the section state before the next sample (a new signal, not a retune).
    void ClearState() { stateReset_ = true; }

    // One sample, transposed direct form II per section. A row must have been selected.
    double MainFilterStep(double x) {
        if (stateReset_) {
            s1_.fill(0.0);
            s2_.fill(0.0);
            stateReset_ = false;
        }
        // Dividing by an a0 of exactly 1 returns its operand unchanged, so skipping it gives the
        // same bits; it takes a long division off the path from each section to the next.
        return unitA0_ ? RunSections<true>(x) : RunSections<false>(x);
    }

  private:
    template <bool kUnitA0>
    double RunSections(double x) {
        const FilterRow& r = *row_;
        double v = r.g * x;
        for (int i = 0; i < kFilterSections; ++i) {
            const double b0 = r.b[3 * i], b1 = r.b[3 * i + 1], b2 = r.b[3 * i + 2];
            const double a1 = r.a[3 * i + 1], a2 = r.a[3 * i + 2];
            double w = b0 * v + s1_[i];
            if constexpr (!kUnitA0) w /= r.a[3 * i];
            s1_[i] = b1 * v + s2_[i] - a1 * w;
            s2_[i] = b2 * v - a2 * w;
            v = w;
        }
        return v;
    }

    const FilterRow* row_ = nullptr;
    bool unitA0_ = false;
    std::array<double, kFilterSections> s1_{};
    std::array<double, kFilterSections> s2_{};
    bool stateReset_ = true;  // set at start and by ClearState
};

}  // namespace dahlo
