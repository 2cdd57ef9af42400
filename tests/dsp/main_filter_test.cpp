#include "dsp/main_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <string>

namespace dahlo {
namespace {

constexpr double kPi = std::numbers::pi;

double BinHz(int bin) {
    return bin * kHzPerBin;
}

// ---------------------------------------------------------------------------------------------
// Reference rows at bin 185 (995.9 Hz) and the Very Wide row of bin 30, as pairs a1, a2 of
// sections 0..7, with the gain of the (not exactly normalised) reference.

struct ReferenceRow {
    int width;
    int bin;
    double g;
    double pairs[16];
    double minCentreGain;  // the reference's own centre gain lies in this range
    double maxCentreGain;
};

const ReferenceRow kReferenceRows[] = {
    {kNarrow,
     185,
     1.8466001898910002e-12,
     {-1.628804463428, 0.937810739968, -1.639910645783, 0.9387402669527, -1.620817945804,
      0.9410867562983, -1.654215753544, 0.9437065655366, -1.616480501834, 0.9495812568348,
      -1.672496010084, 0.9533201071899, -1.617626159918, 0.9664241157006, -1.697348825168,
      0.9699731175788},
     1.000,
     1.029},
    {kWide,
     185,
     3.224945038793e-07,
     {-1.422533718869, 0.7158109329175, -1.367441555951, 0.716386286309, -1.486767344642,
      0.7350586736575, -1.324842481408, 0.7442563357763, -1.558518430684, 0.770389896119,
      -1.301880642772, 0.8188458436634, -1.63865590049, 0.8209762647748, -1.734487275593,
      0.8921525219921},
     0.999,
     1.001},
    {kVeryWide,
     185,
     0.004076795472429,
     {-0.2486825797823, 0.02517232031096, -0.1656703579938, 0.08813991275383, -0.03289900418895,
      0.2188424862688, 0.1769312311662, 0.4663690170273, -1.633661147207, 0.6683363490738,
      -1.69906826457, 0.728892799234, -1.786161210854, 0.8104610554874, -1.88267155271,
      0.9016793980263},
     0.993,
     1.000},
    {kVeryWide,
     30,
     0.001165337422208,
     {-0.4775929313619, 0.06237876057276, -0.4697541582864, 0.1061391208787, -0.4473207906121,
      0.2105428428622, -0.3826027339092, 0.4367085936246, -1.993551673833, 0.9935623216443,
      -1.994348125998, 0.9943581426051, -1.995833317749, 0.9958421108313, -1.997842795681,
      0.9978497894481},
     0.993,
     1.000},
};

TEST(BesselPrototypeTest, PolesAreRootsOfTheReverseBesselPolynomialNearTheTabulatedOnes) {
    // 2027025 + 2027025 s + 945945 s^2 + 270270 s^3 + 51975 s^4 + 6930 s^5 + 630 s^6 + 36 s^7 + s^8
    const long double coefficients[9] = {2027025, 2027025, 945945, 270270, 51975, 6930, 630, 36, 1};
    const std::complex<long double> rounded[4] = {
        {-5.5879L, 0.8676L}, {-5.2048L, 2.6162L}, {-4.3683L, 4.4144L}, {-2.8390L, 6.3539L}};
    const auto& poles = BesselPrototypePoles();
    for (int i = 0; i < 8; ++i) {
        std::complex<long double> value = 0.0L;
        for (int k = 8; k >= 0; --k) value = value * poles[i] + coefficients[k];
        EXPECT_LT(std::abs(value), 1e-9L) << "pole " << i;
        EXPECT_LT(std::abs(poles[i] - (i < 4 ? rounded[i] : std::conj(rounded[i - 4]))), 6e-5L);
    }
    // Unit group delay at DC: the sum of -1/p over all poles is 1.
    std::complex<long double> delay = 0.0L;
    for (const auto& p : poles) delay += -1.0L / p;
    EXPECT_NEAR(static_cast<double>(delay.real()), 1.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(delay.imag()), 0.0, 1e-15);
}

TEST(FilterDesignTest, TellingRowsMatchTheReferenceCoefficients) {
    for (const auto& ref : kReferenceRows) {
        SCOPED_TRACE("width " + std::to_string(ref.width) + " bin " + std::to_string(ref.bin));
        const FilterRow& row = FilterCoefficientTables(ref.width).Row(ref.bin);
        for (int i = 0; i < kFilterSections; ++i) {
            EXPECT_NEAR(row.a[3 * i + 1], ref.pairs[2 * i], 1e-8) << "a1 of section " << i;
            EXPECT_NEAR(row.a[3 * i + 2], ref.pairs[2 * i + 1], 1e-8) << "a2 of section " << i;
        }
        // The reference gains were not normalised exactly: its centre gain, which is the ratio
        // of its g to ours, lies in the documented range for that width.
        const double referenceCentreGain = ref.g / row.g;
        EXPECT_GE(referenceCentreGain, ref.minCentreGain - 5e-4);
        EXPECT_LE(referenceCentreGain, ref.maxCentreGain + 5e-4);
    }
}

TEST(FilterDesignTest, TablesHoldTheDesignOfEveryBin) {
    for (int width = 0; width < 3; ++width) {
        for (int bin : {kFirstBin, 31, 52, 53, kDefaultCentreBin, 333, kLastBin}) {
            const FilterRow designed = DesignFilterRow(width, bin);
            const FilterRow& stored = FilterCoefficientTables(width).Row(bin);
            EXPECT_EQ(designed.g, stored.g);
            EXPECT_EQ(designed.a, stored.a);
            EXPECT_EQ(designed.b, stored.b);
        }
    }
    // Built once and shared: the same object every time.
    EXPECT_EQ(&FilterCoefficientTables(kWide), &FilterCoefficientTables(kWide));
    EXPECT_NE(&FilterCoefficientTables(kWide), &FilterCoefficientTables(kNarrow));
}

// Frequency response of a row computed directly from its coefficients (not from the design).
std::complex<double> RowResponse(const FilterRow& row, double hz) {
    const std::complex<double> zInv = std::polar(1.0, -2.0 * kPi * hz / kSampleRateHz);
    std::complex<double> h = row.g;
    for (int i = 0; i < kFilterSections; ++i) {
        h *= (row.b[3 * i] + zInv * (row.b[3 * i + 1] + zInv * row.b[3 * i + 2])) /
             (row.a[3 * i] + zInv * (row.a[3 * i + 1] + zInv * row.a[3 * i + 2]));
    }
    return h;
}

TEST(FilterDesignTest, EveryRowIsStableWithUnitGainAtItsCentre) {
    for (int width = 0; width < 3; ++width) {
        const FilterCoefficientTable& table = FilterCoefficientTables(width);
        for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
            const FilterRow& row = table.Row(bin);
            ASSERT_NEAR(std::abs(RowResponse(row, BinHz(bin))), 1.0, 1e-9)
                << "width " << width << " bin " << bin;
            for (int i = 0; i < kFilterSections; ++i) {
                ASSERT_EQ(row.b[3 * i], 1.0);
                ASSERT_EQ(row.b[3 * i + 1], 0.0);
                ASSERT_EQ(row.b[3 * i + 2], -1.0);
                ASSERT_EQ(row.a[3 * i], 1.0);
                // Complex poles strictly inside the unit circle.
                ASSERT_GT(row.a[3 * i + 2], 0.0);
                ASSERT_LT(row.a[3 * i + 2], 1.0);
                ASSERT_LT(row.a[3 * i + 1] * row.a[3 * i + 1], 4.0 * row.a[3 * i + 2]);
                if (i > 0) {
                    ASSERT_LT(row.a[3 * i - 1], row.a[3 * i + 2]) << "sections unsorted";
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Measurements on the running filter.

// Feeds sin(2 pi f n / fs) through a fresh filter on `row`, lets it settle, then fits
// y = A sin + B cos by least squares; returns H = A + jB (gain and phase against the input).
std::complex<double> MeasureTone(const FilterRow& row, double hz, int settle, int measure) {
    MainFilter filter;
    filter.SelectRow(row);
    const double omega = 2.0 * kPi * hz / kSampleRateHz;
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (int n = 0; n < settle + measure; ++n) {
        const double s = std::sin(omega * n);
        const double y = filter.MainFilterStep(s);
        if (n < settle) continue;
        const double c = std::cos(omega * n);
        ss += s * s;
        cc += c * c;
        sc += s * c;
        ys += y * s;
        yc += y * c;
    }
    const double det = ss * cc - sc * sc;
    return {(ys * cc - yc * sc) / det, (yc * ss - ys * sc) / det};
}

struct WidthFigures {
    int width;
    double bandwidthHz;
    double groupDelayS;
    int settle;  // samples for the transient to die far below the measurement's precision
};

const WidthFigures kFigures[] = {{kNarrow, 63.6, 15.9e-3, 6000},
                                 {kWide, 317.0, 3.18e-3, 3000},
                                 {kVeryWide, 1502.0, 0.63e-3, 3000}};

// Frequency between `inside` (gain above 1/sqrt 2) and `outside` where the gain is 1/sqrt 2.
double FindHalfPowerEdge(const FilterRow& row, double inside, double outside, int settle) {
    for (int i = 0; i < 40; ++i) {
        const double mid = 0.5 * (inside + outside);
        (std::abs(MeasureTone(row, mid, settle, 4000)) > std::sqrt(0.5) ? inside : outside) = mid;
    }
    return 0.5 * (inside + outside);
}

TEST(RunningMainFilterTest, HalfPowerBandwidthOfEachWidth) {
    for (const auto& fig : kFigures) {
        for (int bin : {120, kDefaultCentreBin, 300}) {
            const FilterRow& row = FilterCoefficientTables(fig.width).Row(bin);
            const double f0 = BinHz(bin);
            EXPECT_NEAR(std::abs(MeasureTone(row, f0, fig.settle, 4000)), 1.0, 1e-9);
            const double lower =
                FindHalfPowerEdge(row, f0, std::max(1.0, f0 - 2 * fig.bandwidthHz), fig.settle);
            const double upper = FindHalfPowerEdge(row, f0, f0 + 2 * fig.bandwidthHz, fig.settle);
            if (fig.width == kVeryWide && bin == 120) {
                // The band reaches down to near 0 Hz here; only the upper half is checked.
                EXPECT_GT(upper - f0, 0.5 * fig.bandwidthHz * 0.99);
                continue;
            }
            EXPECT_NEAR(upper - lower, fig.bandwidthHz, 0.01 * fig.bandwidthHz)
                << "width " << fig.width << " bin " << bin;
            if (fig.width == kNarrow && bin == kDefaultCentreBin) {
                EXPECT_NEAR(lower, 964.5, 0.5);
                EXPECT_NEAR(upper, 1028.1, 0.5);
            }
        }
    }
}

TEST(RunningMainFilterTest, GroupDelayAtTheCentreFromThePhaseSlope) {
    for (const auto& fig : kFigures) {
        // Very Wide below about 1 kHz is a band of more than an octave, centred geometrically
        // rather than on f0, so the delay at f0 falls (0.45 ms at bin 60); the figure holds from
        // the default centre up.
        const int lowBin = fig.width == kVeryWide ? kDefaultCentreBin : 60;
        for (int bin : {lowBin, 300, 400}) {
            const FilterRow& row = FilterCoefficientTables(fig.width).Row(bin);
            const double f0 = BinHz(bin);
            const double step = 0.25;
            const std::complex<double> below = MeasureTone(row, f0 - step, fig.settle, 8000);
            const std::complex<double> above = MeasureTone(row, f0 + step, fig.settle, 8000);
            const double delay = -std::arg(above / below) / (2.0 * kPi * 2.0 * step);
            EXPECT_NEAR(delay, fig.groupDelayS, 0.03 * fig.groupDelayS)
                << "width " << fig.width << " bin " << bin;
        }
    }
}

TEST(RunningMainFilterTest, ToneBurstComesOutDelayedByTheGroupDelay) {
    // A Gaussian-shaped burst at f0, long enough to be narrow-band for the filter: the energy
    // centroid of the output follows that of the input by the group delay.
    for (const auto& fig : kFigures) {
        const int bin = kDefaultCentreBin;
        MainFilter filter;
        filter.SelectRow(FilterCoefficientTables(fig.width).Row(bin));
        const double omega = 2.0 * kPi * BinHz(bin) / kSampleRateHz;
        const double centre = 6000.0, spread = 1000.0;
        double inMoment = 0, inEnergy = 0, outMoment = 0, outEnergy = 0;
        for (int n = 0; n < 12000; ++n) {
            const double t = (n - centre) / spread;
            const double x = std::exp(-0.5 * t * t) * std::sin(omega * n);
            const double y = filter.MainFilterStep(x);
            inMoment += n * x * x;
            inEnergy += x * x;
            outMoment += n * y * y;
            outEnergy += y * y;
        }
        const double delay = (outMoment / outEnergy - inMoment / inEnergy) / kSampleRateHz;
        EXPECT_NEAR(delay, fig.groupDelayS, 0.03 * fig.groupDelayS) << "width " << fig.width;
    }
}

TEST(RunningMainFilterTest, NarrowImpulseResponseLastsAbout32ms) {
    MainFilter filter;
    filter.SelectRow(FilterCoefficientTables(kNarrow).Row(kDefaultCentreBin));
    double response[2000];
    double peak = 0.0;
    for (int n = 0; n < 2000; ++n) {
        response[n] = filter.MainFilterStep(n == 0 ? 1.0 : 0.0);
        peak = std::max(peak, std::abs(response[n]));
    }
    int last = 0;
    for (int n = 0; n < 2000; ++n) {
        if (std::abs(response[n]) > 0.01 * peak) last = n;
    }
    EXPECT_NEAR(last / double{kSampleRateHz}, 32e-3, 3e-3);
}

TEST(RunningMainFilterTest, VeryWideLowerCornerIsRaisedTo30HzForTheLowestBins) {
    // The design edges f1 and f2 have the same gain (the prototype's at its unit frequency).
    // Where the lower edge is raised, that gain sits at 30 Hz; from bin 53 on, at f0 - 250 Hz.
    const FilterCoefficientTable& table = FilterCoefficientTables(kVeryWide);
    for (int bin = kFirstBin; bin <= 54; ++bin) {
        SCOPED_TRACE("bin " + std::to_string(bin));
        const FilterRow& row = table.Row(bin);
        const double f0 = BinHz(bin);
        const double upperEdgeGain = std::abs(MeasureTone(row, f0 + 250.0, 40000, 20000));
        const double gainAt30 = std::abs(MeasureTone(row, 30.0, 40000, 20000));
        EXPECT_GT(upperEdgeGain, 0.8);
        EXPECT_LT(upperEdgeGain, 0.99);
        if (bin <= 52) {
            EXPECT_NEAR(gainAt30 / upperEdgeGain, 1.0, 1e-7);
        } else {
            const double gainAtNominal = std::abs(MeasureTone(row, f0 - 250.0, 40000, 20000));
            EXPECT_NEAR(gainAtNominal / upperEdgeGain, 1.0, 1e-7);
            EXPECT_LT(gainAt30 / upperEdgeGain, 0.99);
        }
    }
}

TEST(RunningMainFilterTest, SilenceGivesExactZero) {
    for (int width = 0; width < 3; ++width) {
        MainFilter filter;
        filter.SelectRow(FilterCoefficientTables(width).Row(kFirstBin));
        for (int n = 0; n < 5000; ++n) ASSERT_EQ(filter.MainFilterStep(0.0), 0.0);
    }
}

TEST(RunningMainFilterTest, RetuningMidToneKeepsTheState) {
    const double omega = 2.0 * kPi * BinHz(kDefaultCentreBin) / kSampleRateHz;
    const FilterRow& narrow = FilterCoefficientTables(kNarrow).Row(kDefaultCentreBin);
    const FilterRow& wide = FilterCoefficientTables(kWide).Row(kDefaultCentreBin);
    const FilterRow& nextBin = FilterCoefficientTables(kWide).Row(kDefaultCentreBin + 1);

    MainFilter filter;
    filter.SelectRow(narrow);
    int n = 0;
    for (; n < 3000; ++n) filter.MainFilterStep(std::sin(omega * n));

    // A fresh filter on the new row starts from g * x, which is tiny; a kept state carries the
    // tone straight on, with its energy, through the width switch and then the centre switch.
    for (const FilterRow* next : {&wide, &nextBin}) {
        filter.SelectRow(*next);
        EXPECT_EQ(filter.CurrentRow(), next);
        MainFilter fresh;
        fresh.SelectRow(*next);
        double energy = 0.0, freshEnergy = 0.0;
        for (int k = 0; k < 20; ++k, ++n) {
            const double x = std::sin(omega * n);
            const double y = filter.MainFilterStep(x);
            energy += y * y;
            const double freshY = fresh.MainFilterStep(x);
            freshEnergy += freshY * freshY;
            ASSERT_NE(y, 0.0);
        }
        // Twenty samples of a unit sine carry an energy of about 10.
        EXPECT_GT(energy, 2.0);
        EXPECT_LT(freshEnergy, 0.01 * energy);
        for (; n < 8000; ++n) filter.MainFilterStep(std::sin(omega * n));
    }
    // And it settles on the new row's response.
    double peak = 0.0;
    for (int k = 0; k < 200; ++k, ++n) {
        peak = std::max(peak, std::abs(filter.MainFilterStep(std::sin(omega * n))));
    }
    EXPECT_NEAR(peak, std::abs(RowResponse(nextBin, BinHz(kDefaultCentreBin))), 0.01);
}

TEST(RunningMainFilterTest, StepGivesTheSameBitsAsTheDividingDirectForm) {
    // The step skips dividing by an a0 of exactly 1; that must not change a single bit.
    for (int width = 0; width < 3; ++width) {
        const FilterRow& row = FilterCoefficientTables(width).Row(kDefaultCentreBin);
        MainFilter filter;
        filter.SelectRow(row);
        double s1[kFilterSections] = {}, s2[kFilterSections] = {};
        std::uint32_t seed = 12345;
        for (int n = 0; n < 5000; ++n) {
            seed = seed * 1664525u + 1013904223u;
            const double x = (static_cast<double>(seed >> 8) / (1 << 24) - 0.5) * 4.0;
            double v = row.g * x;
            for (int i = 0; i < kFilterSections; ++i) {
                const double* b = &row.b[3 * i];
                const double* a = &row.a[3 * i];
                const double w = (b[0] * v + s1[i]) / a[0];
                s1[i] = b[1] * v + s2[i] - a[1] * w;
                s2[i] = b[2] * v - a[2] * w;
                v = w;
            }
            ASSERT_EQ(filter.MainFilterStep(x), v) << "width " << width << " sample " << n;
        }
    }
}

TEST(RunningMainFilterTest, RowWithAScaledSectionStillDividesByA0) {
    // Numerator and denominator of one section both doubled: the same filter, if a0 is honoured.
    const FilterRow& row = FilterCoefficientTables(kWide).Row(kDefaultCentreBin);
    FilterRow scaled = row;
    for (int k = 9; k < 12; ++k) {
        scaled.b[k] *= 2.0;
        scaled.a[k] *= 2.0;
    }
    MainFilter plain, withScaled;
    plain.SelectRow(row);
    withScaled.SelectRow(scaled);
    for (int n = 0; n < 3000; ++n) {
        const double x = std::sin(0.3 * n) + (n % 17 == 0 ? 1.0 : 0.0);
        ASSERT_NEAR(withScaled.MainFilterStep(x), plain.MainFilterStep(x), 1e-12);
    }
}

TEST(FilterWidthTest, ModesCaptionsAndPanels) {
    EXPECT_EQ(FilterWidthFromMode(0), kNarrow);
    EXPECT_EQ(FilterWidthFromMode(1), kWide);
    EXPECT_EQ(FilterWidthFromMode(2), kVeryWide);
    EXPECT_EQ(FilterWidthFromMode(7), kVeryWide);
    EXPECT_EQ(FilterWidthFromMode(-1), kVeryWide);
    EXPECT_STREQ(FilterWidthCaption(0), "Main Filter  (Narrow)");
    EXPECT_STREQ(FilterWidthCaption(1), "Main Filter  (Wide)");
    EXPECT_STREQ(FilterWidthCaption(2), "Main Filter  (Very Wide)");
    EXPECT_STREQ(FilterWidthCaption(7), "Main Filter  (Very Wide)");
    EXPECT_STREQ(FilterWidthPanel(0), "Narrow");
    EXPECT_STREQ(FilterWidthPanel(1), "Wide");
    EXPECT_STREQ(FilterWidthPanel(2), "V.Wide");
    EXPECT_STREQ(FilterWidthPanel(7), "V.Wide");
    // An out-of-range mode reads the Very Wide table.
    EXPECT_EQ(&FilterCoefficientTables(7), &FilterCoefficientTables(kVeryWide));
}

TEST(FilterWidthTest, CentreBinIsClampedIntoTheTable) {
    EXPECT_EQ(ClampCentreBin(-5), kFirstBin);
    EXPECT_EQ(ClampCentreBin(29), kFirstBin);
    EXPECT_EQ(ClampCentreBin(30), 30);
    EXPECT_EQ(ClampCentreBin(450), 450);
    EXPECT_EQ(ClampCentreBin(451), kLastBin);
    EXPECT_EQ(ClampCentreBin(1 << 30), kLastBin);
}

}  // namespace
}  // namespace dahlo
