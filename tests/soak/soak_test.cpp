// Ten minutes of hostile audio through the receiver loop: every value stays finite and in
// range, memory does not grow, and the decoder reads a clean station again after each stretch.

#include <gtest/gtest.h>

#include "tests/soak/soak_run.h"

namespace dahlo::soak {
namespace {

TEST(Soak, TenMinutesOfHostileAudioKeepTheLoopSoundAndRecover) {
    SoakOptions options;
    options.audio_seconds = 600.0;
    options.seed = 7;
    const SoakReport r = RunSoak(options);

    EXPECT_NEAR(r.audio_seconds, 600.0, 1.0);
    EXPECT_EQ(r.non_finite, 0) << r.first_error;
    EXPECT_EQ(r.range_errors, 0) << r.first_error;
    EXPECT_GT(r.characters, 100);
    // Every kind of stretch came at least once, and the station was read after each.
    ASSERT_GE(r.recoveries.size(), 7u);
    EXPECT_EQ(r.recovered_segments, r.clean_segments);
    for (const auto& rec : r.recoveries) {
        EXPECT_TRUE(rec.recovered) << "after " << rec.after << ": sent \"" << rec.sent
                                   << "\", decoded \"" << rec.decoded << "\"";
    }
    if (kRssIsMeaningful) {
        EXPECT_LE(r.rss_end_kb, r.rss_start_kb + 1024);
    }
    ::testing::Test::RecordProperty("times_real_time",
                                    static_cast<int>(r.audio_seconds / r.wall_seconds));
}

TEST(Soak, SameSeedSameRun) {
    SoakOptions options;
    options.audio_seconds = 120.0;
    options.seed = 3;
    const SoakReport a = RunSoak(options);
    const SoakReport b = RunSoak(options);
    EXPECT_EQ(a.characters, b.characters);
    EXPECT_EQ(a.word_spaces, b.word_spaces);
    ASSERT_EQ(a.recoveries.size(), b.recoveries.size());
    for (std::size_t i = 0; i < a.recoveries.size(); ++i) {
        EXPECT_EQ(a.recoveries[i].decoded, b.recoveries[i].decoded);
    }
    options.seed = 4;
    EXPECT_NE(RunSoak(options).characters, a.characters);
}

TEST(Soak, LastWordsIgnoresExtraBlanks) {
    EXPECT_EQ(LastWords("  cq  de dl1abc   k ", 2), "dl1abc k");
    EXPECT_EQ(LastWords("k", 3), "k");
    EXPECT_EQ(LastWords("", 3), "");
}

}  // namespace
}  // namespace dahlo::soak
