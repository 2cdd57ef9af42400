#include "dsp/local_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace dahlo {
namespace {

// The sliding median against a plain sort of each bin's window: continuous values, many ties
// (a quiet band's integer powers), and a window clipped at both band edges.
TEST(LocalMedians, EveryBinAsASortOfItsWindowGives) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> continuous(0.0, 1e6);
    std::uniform_int_distribution<int> fewLevels(0, 3);
    for (int kind = 0; kind < 2; ++kind) {
        std::array<double, kLastBin + 1> values{};
        for (double& v : values) v = kind == 0 ? continuous(random) : fewLevels(random);
        std::array<double, kLastBin + 1> medians{};
        LocalMedians(values, medians);
        for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
            std::vector<double> window(values.begin() + std::max(kFirstBin, bin - 20),
                                       values.begin() + std::min(kLastBin, bin + 20) + 1);
            std::sort(window.begin(), window.end());
            ASSERT_EQ(medians[bin], window[window.size() / 2]) << "bin " << bin << " kind " << kind;
            ASSERT_EQ(medians[bin], LocalMedian(values, bin));
        }
    }
}

}  // namespace
}  // namespace dahlo
