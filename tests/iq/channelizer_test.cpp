#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "iq/channelizer.h"

namespace dahlo::iq {
namespace {

using Outputs = std::map<int, std::vector<std::int16_t>>;

Outputs Channelize(const std::vector<std::complex<float>>& input, double rateHz, int threads,
                   std::size_t chunk) {
    Outputs out;
    std::mutex mutex;
    Channelizer channelizer(
        rateHz,
        [&](int subband, const std::int16_t* block, std::int64_t index) {
            std::lock_guard<std::mutex> lock(mutex);
            auto& samples = out[subband];
            EXPECT_EQ(static_cast<std::int64_t>(samples.size()), index * kAudioBlockSamples);
            samples.insert(samples.end(), block, block + kAudioBlockSamples);
        },
        {kDefaultAudioGainDb, threads});
    for (std::size_t i = 0; i < input.size(); i += chunk) {
        channelizer.Process(input.data() + i, std::min(chunk, input.size() - i));
    }
    channelizer.Flush();
    return out;
}

std::vector<std::complex<float>> Tone(double rateHz, double offsetHz, float amplitude, double s) {
    std::vector<std::complex<float>> x(static_cast<std::size_t>(rateHz * s));
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n] = std::polar(amplitude, static_cast<float>(2 * M_PI * std::fmod(offsetHz * n / rateHz, 1.0)));
    }
    return x;
}

// Amplitude of the component at `hz` over 4096 samples from the second second (Hann window).
double AmplitudeAt(const std::vector<std::int16_t>& audio, double hz) {
    constexpr std::size_t kLength = 4096;
    constexpr std::size_t kStart = kAudioRateHz;
    const std::complex<double> step = std::polar(1.0, -2 * M_PI * hz / kAudioRateHz);
    std::complex<double> phasor = 1.0;
    std::complex<double> sum = 0.0;
    for (std::size_t k = 0; k < kLength; ++k) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * k / kLength);
        sum += w * audio[kStart + k] * phasor;
        phasor *= step;
    }
    return 4 * std::abs(sum) / kLength;
}

// The loudest component in the useful band (to within a 1.35 Hz step) and its frequency.
std::pair<double, double> LoudestInUsefulBand(const std::vector<std::int16_t>& audio) {
    std::pair<double, double> loudest{0.0, 0.0};
    for (double hz = kUsefulLowHz; hz <= kUsefulHighHz; hz += 1.35) {
        const double a = AmplitudeAt(audio, hz);
        if (a > loudest.first) loudest = {a, hz};
    }
    return loudest;
}

TEST(ChannelizerTest, PlansOverlappingSubbandsThatOwnEveryInnerFrequencyOnce) {
    const SubbandPlan plan = PlanSubbands(48000);
    EXPECT_EQ(plan.spacingHz, 1600.0);
    EXPECT_EQ(plan.count, 29);
    EXPECT_EQ(plan.CentreOffsetHz(14), 0.0);
    EXPECT_EQ(plan.CentreOffsetHz(16), 3200.0);
    EXPECT_NEAR(plan.OffsetHz(16, 1000.0), 3200.0 + 1000.0 - 1291.99, 0.01);
    EXPECT_EQ(plan.Owner(2390.0), 15);
    EXPECT_EQ(plan.Owner(2410.0), 16);
    EXPECT_EQ(plan.Owner(-23500.0), std::nullopt);  // the outer edge

    // Every rate: each frequency inside the owned range sits in its owner's useful band, at
    // least 150 Hz from its edges, and maps back to itself.
    for (double rate : {8000.0, 48000.0, 96000.0, 100001.0, 192000.0, 250000.0, 768000.0}) {
        const SubbandPlan p = PlanSubbands(rate);
        EXPECT_GE(p.HighestOwnedHz(), rate / 2 - 2 * p.spacingHz) << rate;
        for (double hz = p.LowestOwnedHz() + 0.5; hz < p.HighestOwnedHz(); hz += 37.0) {
            const std::optional<int> owner = p.Owner(hz);
            ASSERT_TRUE(owner.has_value()) << rate << " " << hz;
            const double audio = p.AudioHz(*owner, hz);
            EXPECT_GE(audio, kUsefulLowHz + 150) << rate << " " << hz;
            EXPECT_LE(audio, kUsefulHighHz - 150) << rate << " " << hz;
            EXPECT_NEAR(p.OffsetHz(*owner, audio), hz, 1e-6);
        }
    }
}

TEST(ChannelizerTest, ToneComesOutOfItsSubbandAtItsPitchAndNowhereElse) {
    // -20 dBFS at +3210 Hz: sub-band 16 (centre +3200 Hz) at 1292 + 10 Hz, 6 dB up: 6538.
    const Outputs out = Channelize(Tone(48000, 3210.0, 0.1f, 2.0), 48000, 1, 4096);
    ASSERT_EQ(out.size(), 29u);
    for (const auto& [subband, audio] : out) {
        const auto [amplitude, hz] = LoudestInUsefulBand(audio);
        if (subband == 16) {
            EXPECT_NEAR(hz, 1302.0, 1.4);
            EXPECT_NEAR(AmplitudeAt(audio, 1301.99), 6538.0, 6538.0 * 0.03);
        } else {
            EXPECT_LT(amplitude, 6538.0 * 1e-3) << "sub-band " << subband << " at " << hz << " Hz";
        }
    }

    // On the overlap (+2390 Hz): in sub-band 15 at 2082 Hz and in 16 at 482 Hz, both at full
    // level; sub-band 15 owns it.
    const Outputs overlap = Channelize(Tone(48000, 2390.0, 0.1f, 2.0), 48000, 1, 4096);
    EXPECT_NEAR(AmplitudeAt(overlap.at(15), 1291.99 + 790.0), 6538.0, 6538.0 * 0.03);
    EXPECT_NEAR(AmplitudeAt(overlap.at(16), 1291.99 - 810.0), 6538.0, 6538.0 * 0.03);
    EXPECT_LT(LoudestInUsefulBand(overlap.at(14)).first, 6538.0 * 1e-3);
    EXPECT_LT(LoudestInUsefulBand(overlap.at(17)).first, 6538.0 * 1e-3);
}

TEST(ChannelizerTest, ThreadsAndChunkingLeaveEverySubbandUnchanged) {
    // Tones and noise at 96 kHz; one thread in 4096-sample calls against three threads in
    // ragged ones.
    std::vector<std::complex<float>> input = Tone(96000, -17777.0, 0.05f, 1.5);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (auto& x : input) x += std::complex<float>(noise(random), noise(random));
    const Outputs one = Channelize(input, 96000, 1, 4096);
    const Outputs three = Channelize(input, 96000, 3, 1237);
    ASSERT_EQ(one.size(), three.size());
    for (const auto& [subband, audio] : one) {
        ASSERT_GT(audio.size(), 6u * kAudioBlockSamples);
        EXPECT_EQ(audio, three.at(subband)) << "sub-band " << subband;
    }
}

}  // namespace
}  // namespace dahlo::iq
