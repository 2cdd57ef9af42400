#include "dsp/spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/fft.h"

namespace dahlo {
namespace {

constexpr int kN = 2048;

// A steady sine with `bin` cycles per block; a whole number falls on that bin alone.
std::vector<std::int16_t> ToneBlock(double bin, double amplitude) {
    const double pi = std::acos(-1.0);
    std::vector<std::int16_t> x(kN);
    for (int m = 0; m < kN; ++m) {
        x[m] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * pi * bin * m / kN)));
    }
    return x;
}

// One block through the real transform and the smoothing, as the loop does it.
class SpectrumChain : public ::testing::Test {
  protected:
    void Feed(const std::vector<std::int16_t>& block) {
        MixedRadixFft(work, kN, block.data(), spectrum.SpectrumRe.data(),
                      spectrum.SpectrumIm.data());
        SmoothSpectrum(spectrum);
    }
    void FeedSilence() { Feed(std::vector<std::int16_t>(kN, 0)); }

    FftWorkspace work;
    SpectrumState spectrum;
};

TEST_F(SpectrumChain, ToneOfAmplitude8192RisesTowardsOne) {
    const auto tone = ToneBlock(185, 8192.0);
    Feed(tone);
    EXPECT_NEAR(spectrum.SmoothedMagnitude[185], 2.0 / 3.0, 1e-4);  // 0.6667
    EXPECT_DOUBLE_EQ(spectrum.PeakHold[185], spectrum.SmoothedMagnitude[185]);
    Feed(tone);
    EXPECT_NEAR(spectrum.SmoothedMagnitude[185], 8.0 / 9.0, 1e-4);  // 0.8889
    EXPECT_DOUBLE_EQ(spectrum.PeakHold[185], spectrum.SmoothedMagnitude[185]);
    for (int i = 0; i < 20; ++i) Feed(tone);
    EXPECT_NEAR(spectrum.SmoothedMagnitude[185], 1.0, 1e-4);
    // The tone stays on its bin.
    EXPECT_LT(spectrum.SmoothedMagnitude[184], 1e-4);
    EXPECT_LT(spectrum.SmoothedMagnitude[186], 1e-4);
}

TEST_F(SpectrumChain, AfterTheToneSmoothedFallsFasterThanPeakHold) {
    const auto tone = ToneBlock(185, 8192.0);
    Feed(tone);
    Feed(tone);
    const double top = spectrum.PeakHold[185];
    double smoothed = spectrum.SmoothedMagnitude[185];
    double peak = top;
    for (int block = 1; block <= 10; ++block) {
        FeedSilence();
        EXPECT_DOUBLE_EQ(spectrum.SmoothedMagnitude[185], smoothed / 3.0) << "block " << block;
        EXPECT_DOUBLE_EQ(spectrum.PeakHold[185], 0.95 * peak) << "block " << block;
        EXPECT_GT(spectrum.PeakHold[185], spectrum.SmoothedMagnitude[185]);
        smoothed = spectrum.SmoothedMagnitude[185];
        peak = spectrum.PeakHold[185];
    }
    EXPECT_NEAR(peak, top * std::pow(0.95, 10), 1e-12);
}

TEST_F(SpectrumChain, PeakHoldTakesANewHigherSmoothedValue) {
    spectrum.PeakHold[300] = 0.5;
    Feed(ToneBlock(300, 8192.0));  // smoothed 0.667 beats the decayed 0.475
    EXPECT_NEAR(spectrum.PeakHold[300], 2.0 / 3.0, 1e-4);
    spectrum.PeakHold[301] = 0.5;
    FeedSilence();  // nothing on 301: only the decay
    EXPECT_DOUBLE_EQ(spectrum.PeakHold[301], 0.475);
}

TEST_F(SpectrumChain, OnlyBins30To450AreEverWritten) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::int16_t> noise(kN);
    for (int block = 0; block < 5; ++block) {
        for (auto& s : noise) s = static_cast<std::int16_t>(dist(rng));
        Feed(noise);
    }
    for (int k = 0; k < kN; ++k) {
        if (k >= 30 && k <= 450) {
            EXPECT_GT(spectrum.SmoothedMagnitude[k], 0.0) << "bin " << k;
            EXPECT_GT(spectrum.PeakHold[k], 0.0) << "bin " << k;
        } else {
            EXPECT_EQ(spectrum.SmoothedMagnitude[k], 0.0) << "bin " << k;
            EXPECT_EQ(spectrum.PeakHold[k], 0.0) << "bin " << k;
        }
    }
}

TEST_F(SpectrumChain, GoToMaxAndAfcFindARealTone) {
    // Off the bin centre, so its leakage rises towards the tone from either side.
    for (int i = 0; i < 3; ++i) Feed(ToneBlock(250.3, 4000.0));
    EXPECT_EQ(FindGoToMaxBin(spectrum, 185), 250);
    // AFC climbs the leakage at most `speed` bins per step.
    EXPECT_EQ(FindAfcBin(spectrum, 254, 2), 252);
    EXPECT_EQ(FindAfcBin(spectrum, 246, 2), 248);
    EXPECT_EQ(FindAfcBin(spectrum, 248, 2), 250);
    EXPECT_EQ(FindAfcBin(spectrum, 250, 2), 250);
}

class Searches : public ::testing::Test {
  protected:
    SpectrumState spectrum;
};

TEST_F(Searches, GoToMaxKeepsTheBinWhenAllPeaksAreEqual) {
    for (int centre : {30, 185, 450}) EXPECT_EQ(FindGoToMaxBin(spectrum, centre), centre);
    spectrum.PeakHold.fill(0.25);
    for (int centre : {30, 185, 450}) EXPECT_EQ(FindGoToMaxBin(spectrum, centre), centre);
}

TEST_F(Searches, GoToMaxTieBreaks) {
    spectrum.PeakHold[185] = 0.1;
    spectrum.PeakHold[200] = 0.5;
    spectrum.PeakHold[300] = 0.5;
    EXPECT_EQ(FindGoToMaxBin(spectrum, 185), 200);  // the lower of two equal maxima
    EXPECT_EQ(FindGoToMaxBin(spectrum, 300), 300);  // the current bin keeps its place
    EXPECT_EQ(FindGoToMaxBin(spectrum, 200), 200);
    spectrum.PeakHold[450] = 0.5000001;
    EXPECT_EQ(FindGoToMaxBin(spectrum, 300), 450);  // anything strictly higher wins, up to 450
    spectrum.PeakHold[30] = 0.6;
    EXPECT_EQ(FindGoToMaxBin(spectrum, 450), 30);
}

TEST_F(Searches, GoToMaxSearchesPeakHoldOfTheBandOnly) {
    spectrum.PeakHold[120] = 0.3;
    spectrum.SmoothedMagnitude[100] = 0.9;  // smoothed values do not count
    spectrum.PeakHold[29] = 5.0;            // nor anything outside 30..450
    spectrum.PeakHold[451] = 5.0;
    spectrum.PeakHold[1000] = 5.0;
    EXPECT_EQ(FindGoToMaxBin(spectrum, 185), 120);
}

TEST_F(Searches, AfcWindowIsClippedAtTheBandEdges) {
    // 31 with speed 5 searches 30..36.
    spectrum.SmoothedMagnitude[37] = 0.9;
    EXPECT_EQ(FindAfcBin(spectrum, 31, 5), 31);
    spectrum.SmoothedMagnitude[29] = 0.9;
    EXPECT_EQ(FindAfcBin(spectrum, 31, 5), 31);
    spectrum.SmoothedMagnitude[36] = 0.5;
    EXPECT_EQ(FindAfcBin(spectrum, 31, 5), 36);
    spectrum.SmoothedMagnitude[30] = 0.5;
    EXPECT_EQ(FindAfcBin(spectrum, 31, 5), 30);

    // 450 with speed 2 searches 448..450.
    spectrum.SmoothedMagnitude[447] = 0.9;
    spectrum.SmoothedMagnitude[451] = 0.9;
    EXPECT_EQ(FindAfcBin(spectrum, 450, 2), 450);
    spectrum.SmoothedMagnitude[448] = 0.5;
    EXPECT_EQ(FindAfcBin(spectrum, 450, 2), 448);
}

TEST_F(Searches, AfcTieBreaksAndStepLimit) {
    spectrum.SmoothedMagnitude[183] = 0.5;
    spectrum.SmoothedMagnitude[187] = 0.5;
    EXPECT_EQ(FindAfcBin(spectrum, 185, 2), 183);  // lower of two equals
    spectrum.SmoothedMagnitude[185] = 0.5;
    EXPECT_EQ(FindAfcBin(spectrum, 185, 2), 185);  // centre keeps its place
    spectrum.SmoothedMagnitude[190] = 0.9;         // out of reach for speed 2
    EXPECT_EQ(FindAfcBin(spectrum, 185, 2), 185);
    EXPECT_EQ(FindAfcBin(spectrum, 185, 5), 190);
    spectrum.PeakHold[186] = 5.0;  // AFC looks at the smoothed spectrum only
    EXPECT_EQ(FindAfcBin(spectrum, 185, 2), 185);
}

TEST_F(Searches, AfcSpeedZeroNeverMoves) {
    for (int k = 30; k <= 450; ++k) spectrum.SmoothedMagnitude[k] = k;  // rising everywhere
    for (int centre : {30, 185, 449}) EXPECT_EQ(FindAfcBin(spectrum, centre, 0), centre);
    EXPECT_EQ(FindAfcBin(spectrum, 185, 3), 188);
    EXPECT_EQ(FindAfcBin(spectrum, 185, 99), 284);
}

TEST_F(Searches, CentreOutsideTheBandComesBackIntoIt) {
    EXPECT_EQ(FindGoToMaxBin(spectrum, 10), 30);
    EXPECT_EQ(FindGoToMaxBin(spectrum, 2000), 450);
    EXPECT_EQ(FindAfcBin(spectrum, -5, 2), 30);
    EXPECT_EQ(FindAfcBin(spectrum, 460, 0), 450);
}

}  // namespace
}  // namespace dahlo
