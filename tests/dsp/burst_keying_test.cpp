#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "dsp/burst_filter.h"
#include "morse/keying_detector.h"

namespace dahlo {
namespace {

TEST(BurstFilterTest, SilenceGivesExactZero) {
    BurstFilter burst;
    for (int n = 0; n < 3000; ++n) ASSERT_EQ(burst.BurstFilterStep(0.0), 0.0);
    // Also after a tone has passed and the window has emptied again.
    for (int n = 0; n < 500; ++n) burst.BurstFilterStep(0.3 * std::sin(0.57 * n));
    for (int n = 0; n < burst.BurstWindow; ++n) burst.BurstFilterStep(0.0);
    for (int n = 0; n < 100; ++n) ASSERT_EQ(burst.BurstFilterStep(0.0), 0.0);
}

TEST(BurstFilterTest, FirstSampleAfterResetCountsTheEmptySlotsAsZero) {
    for (int window : {10, 58, 1000}) {
        BurstFilter burst;
        burst.BurstWindow = window;
        // Leftovers in the ring from an earlier, longer window must not leak into the sum.
        burst.ring.fill(5.0);
        burst.BurstSum = 123.0;
        burst.BurstPos = 7;
        EXPECT_DOUBLE_EQ(burst.BurstFilterStep(-0.75), 0.75 / std::sqrt(window));
        EXPECT_FALSE(burst.BurstReset);
        EXPECT_DOUBLE_EQ(burst.BurstFilterStep(0.0), 0.75 / std::sqrt(window));
    }
}

TEST(BurstFilterTest, SteadyToneReachesFullRmsAfterOneWindow) {
    BurstFilter burst;
    burst.BurstWindow = 58;
    const double amplitude = 0.5;
    const double omega = 2.0 * std::numbers::pi * 995.9 / 11025.0;
    const double fullRms = amplitude / std::sqrt(2.0);
    double previous = 0.0;
    for (int n = 0; n < 400; ++n) {
        const double e = burst.BurstFilterStep(amplitude * std::sin(omega * n));
        if (n < 57) {
            EXPECT_GE(e, previous);  // the window fills monotonically
            EXPECT_LT(e, 0.99 * fullRms);
        } else {
            // A full window of 58 samples holds about 5.2 periods; the rest rides on top.
            EXPECT_NEAR(e, fullRms, 0.05 * fullRms) << n;
        }
        previous = e;
    }
}

TEST(BurstFilterTest, EnvelopeIsTheRmsOfTheLastWindowWhateverItsHistory) {
    BurstFilter burst;
    burst.BurstWindow = 23;
    double history[600];
    for (int n = 0; n < 600; ++n) {
        history[n] = std::sin(0.1 * n) * (n % 7 == 0 ? 3.0 : 0.2);
        const double e = burst.BurstFilterStep(history[n]);
        double sum = 0.0;
        for (int k = std::max(0, n - 22); k <= n; ++k) sum += history[k] * history[k];
        ASSERT_NEAR(e, std::sqrt(sum / 23), 1e-12) << n;
    }
}

TEST(BurstSpeedTest, NineMenuSpeedsGiveLengthWindowAndShownSpeed) {
    struct Row {
        int lpm, length, window, shown;
    };
    const Row rows[] = {{100, 350, 116, 100}, {200, 175, 58, 200},  {300, 117, 39, 299},
                        {500, 70, 23, 500},   {1000, 35, 11, 1000}, {1500, 23, 10, 1522},
                        {2500, 14, 10, 2500}, {3000, 12, 10, 2917}, {5000, 7, 10, 5000}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.lpm);
        const int length = IntegrationLengthFor(r.lpm);
        EXPECT_EQ(length, r.length);
        EXPECT_EQ(BurstWindowFor(length), r.window);
        EXPECT_EQ(ShownBurstSpeed(length), r.shown);
    }
    EXPECT_EQ(kDefaultIntegrationLength, IntegrationLengthFor(200));
    EXPECT_EQ(BurstFilter{}.BurstWindow, BurstWindowFor(kDefaultIntegrationLength));
}

TEST(BurstSpeedTest, WindowIsClampedInto10To1000) {
    EXPECT_EQ(BurstWindowFor(1), 10);
    EXPECT_EQ(BurstWindowFor(32), 10);
    EXPECT_EQ(BurstWindowFor(33), 11);
    EXPECT_EQ(BurstWindowFor(3002), 1000);
    EXPECT_EQ(BurstWindowFor(3003), 1000);
    EXPECT_EQ(BurstWindowFor(1000000), 1000);
    // The largest window stays inside the ring.
    BurstFilter burst;
    burst.BurstWindow = BurstWindowFor(3003);
    for (int n = 0; n < 2500; ++n) burst.BurstFilterStep(1.0);
    EXPECT_DOUBLE_EQ(burst.BurstFilterStep(1.0), 1.0);
}

// Runs `count` identical raw decisions; returns the index (1-based) of the first sample whose
// key state differs from the one before the run, or 0 if it never changes.
int RunUntilChange(KeyingDetector& key, int raw, int count, int length) {
    const int before = key.KeyState;
    for (int i = 1; i <= count; ++i) {
        if (key.IntegrateKey(raw, length) != before) return i;
    }
    return 0;
}

TEST(KeyingDetectorTest, NeedsTheFullLengthToGoDownAndToComeBackUp) {
    KeyingDetector key;
    EXPECT_EQ(RunUntilChange(key, 1, 174, 175), 0);
    EXPECT_EQ(key.KeyCount, 174);
    EXPECT_EQ(RunUntilChange(key, 0, 400, 175), 0);  // 174 down samples never set the key
    EXPECT_EQ(key.KeyCount, 0);

    EXPECT_EQ(RunUntilChange(key, 1, 400, 175), 175);  // set at the 175th
    EXPECT_EQ(key.KeyState, 1);
    EXPECT_EQ(RunUntilChange(key, 1, 100, 175), 0);  // the count stops at L
    EXPECT_EQ(key.KeyCount, 175);
    EXPECT_EQ(RunUntilChange(key, 0, 174, 175), 0);  // 174 up samples leave it down
    EXPECT_EQ(key.KeyState, 1);
    EXPECT_EQ(key.IntegrateKey(0, 175), 0);  // the 175th clears it
}

TEST(KeyingDetectorTest, CleanToneGivesAMarkOfTheSameLengthDelayedByLMinusOne) {
    for (int tone : {7, 175, 176, 1000}) {
        KeyingDetector key;
        int firstDown = -1, lastDown = -1;
        for (int n = 0; n < 3000; ++n) {
            const int raw = (n >= 100 && n < 100 + tone) ? 1 : 0;
            if (key.IntegrateKey(raw, 175) == 1) {
                if (firstDown < 0) firstDown = n;
                lastDown = n;
            }
        }
        if (tone < 175) {
            EXPECT_EQ(firstDown, -1) << tone;
        } else {
            EXPECT_EQ(firstDown, 100 + 174) << tone;
            EXPECT_EQ(lastDown - firstDown + 1, tone) << tone;
        }
    }
}

TEST(KeyingDetectorTest, AlternatingDecisionsHoldTheKeyWhereItStands) {
    KeyingDetector fromZero;
    KeyingDetector fromFull;
    fromFull.KeyCount = 175;
    fromFull.KeyState = 1;
    for (int n = 0; n < 2000; ++n) {
        ASSERT_EQ(fromZero.IntegrateKey(1 - n % 2, 175), 0);
        ASSERT_EQ(fromFull.IntegrateKey(n % 2, 175), 1);
    }
    KeyingDetector startingUp;  // the same starting with a 0 from L
    startingUp.KeyCount = 175;
    startingUp.KeyState = 1;
    for (int n = 0; n < 2000; ++n) ASSERT_EQ(startingUp.IntegrateKey(1 - n % 2, 175), 1);
}

TEST(KeyingDetectorTest, LoweringTheLengthBelowTheCount) {
    KeyingDetector key;
    ASSERT_EQ(RunUntilChange(key, 1, 100, 350), 0);
    ASSERT_EQ(key.KeyCount, 100);
    ASSERT_EQ(key.KeyState, 0);

    // Now L = 7: key-down no longer raises the count and the key holds.
    EXPECT_EQ(RunUntilChange(key, 1, 50, 7), 0);
    EXPECT_EQ(key.KeyCount, 100);
    // Key-up lowers it; passing 7 sets the key, reaching 0 clears it.
    EXPECT_EQ(RunUntilChange(key, 0, 200, 7), 93);
    EXPECT_EQ(key.KeyCount, 7);
    EXPECT_EQ(key.KeyState, 1);
    EXPECT_EQ(RunUntilChange(key, 0, 200, 7), 7);
    EXPECT_EQ(key.KeyCount, 0);

    // The same from a key that was already down at the higher count.
    KeyingDetector down;
    down.KeyCount = 100;
    down.KeyState = 1;
    EXPECT_EQ(RunUntilChange(down, 1, 50, 7), 0);
    EXPECT_EQ(RunUntilChange(down, 0, 200, 7), 100);
}

}  // namespace
}  // namespace dahlo
