#include "dsp/local_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace dahlo {
namespace {

// The median against a plain sort of each bin's window, and the count-based comparison against
// that median: continuous values, many ties (a quiet band's integer powers, where a bin equal
// to the median times the factor must not count), and windows clipped at both band edges.
TEST(LocalMedian, AsASortOfTheWindowAndTheComparisonWithIt) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> continuous(0.0, 1e6);
    std::uniform_int_distribution<int> fewLevels(0, 4);
    for (int kind = 0; kind < 2; ++kind) {
        std::array<double, kLastBin + 1> values{};
        for (double& v : values) v = kind == 0 ? continuous(random) : fewLevels(random);
        int above = 0;
        for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
            std::vector<double> window(values.begin() + std::max(kFirstBin, bin - 20),
                                       values.begin() + std::min(kLastBin, bin + 20) + 1);
            std::sort(window.begin(), window.end());
            const double median = window[window.size() / 2];
            ASSERT_EQ(LocalMedian(values, bin), median) << "bin " << bin << " kind " << kind;
            for (const double factor : {1.0, 2.0, 4.0}) {
                const bool expected = values[bin] > factor * median;
                ASSERT_EQ(AboveLocalMedian(values, bin, factor), expected)
                    << "bin " << bin << " kind " << kind << " factor " << factor;
                above += expected ? 1 : 0;
            }
        }
        EXPECT_GT(above, 100);  // both answers were exercised
    }
}

}  // namespace
}  // namespace dahlo
