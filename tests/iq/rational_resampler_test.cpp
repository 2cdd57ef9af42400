#include "iq/rational_resampler.h"

#include <gtest/gtest.h>
#include <liquid/liquid.h>

#include <complex>
#include <optional>
#include <random>
#include <vector>

namespace dahlo::iq {
namespace {

// Against liquid-dsp's own rational resampler on the same taps: the channelizer's 147/40, a
// decimating 3/7 and a length per phase that is no whole number of vectors, over many calls
// so that the window wraps, and a copy made half way that must go on as the original does.
TEST(RationalResampler, MatchesLiquidsResamplerAndItsCopiesRunOnTheirOwn) {
    struct Case {
        int interp, decim, semiLength;
        float scale;
    };
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (const Case c : {Case{147, 40, 12, 1.0f}, Case{3, 7, 5, 0.5f}, Case{5, 2, 3, 2.0f}}) {
        std::vector<float> taps(static_cast<std::size_t>(2 * c.interp * c.semiLength));
        for (float& t : taps) t = noise(random);
        rresamp_crcf reference = rresamp_crcf_create(c.interp, c.decim, c.semiLength, taps.data());
        rresamp_crcf_set_scale(reference, c.scale);
        RationalResampler ours(c.interp, c.decim, taps, c.scale);
        std::optional<RationalResampler> copy;
        std::vector<std::complex<float>> in(static_cast<std::size_t>(c.decim));
        std::vector<std::complex<float>> expected(static_cast<std::size_t>(c.interp));
        std::vector<std::complex<float>> got(expected.size()), gotCopy(expected.size());
        for (int call = 0; call < 60; ++call) {
            for (auto& x : in) x = {noise(random), noise(random)};
            rresamp_crcf_execute(reference, in.data(), expected.data());
            ours.Execute(in.data(), got.data());
            if (copy) copy->Execute(in.data(), gotCopy.data());
            for (std::size_t k = 0; k < expected.size(); ++k) {
                const float tolerance = 1e-4f * (1.0f + std::abs(expected[k]));
                ASSERT_NEAR(got[k].real(), expected[k].real(), tolerance) << c.interp << " " << call;
                ASSERT_NEAR(got[k].imag(), expected[k].imag(), tolerance) << c.interp << " " << call;
                if (copy) {
                    ASSERT_EQ(gotCopy[k], got[k]);
                }
            }
            if (call == 30) copy = ours;
        }
        rresamp_crcf_destroy(reference);
    }
}

}  // namespace
}  // namespace dahlo::iq
