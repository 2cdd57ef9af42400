#include "morse/morse_decoder.h"
#include "receiver/panel_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "morse/keying_detector.h"
#include "morse/charset.h"

namespace dahlo {
namespace {

// What the decoder handed out, with the number of the sample (counted from 1 since the last
// `Run` started) that produced it.
struct Event {
    std::int64_t sample;
    DecodeResult result;
};

// Drives the decoder with key decisions that pass the integrator unchanged (length 1).
class Driver {
  public:
    MorseDecoder decoder;
    KeyingDetector keying;
    std::vector<Event> events;

    void Run(int key, std::int64_t samples) {
        for (std::int64_t i = 1; i <= samples; ++i) {
            const DecodeResult r = decoder.DecodeSample(key, keying, 1);
            if (r.kind != DecodeResult::kNothing) events.push_back({i, r});
        }
    }
    void Mark(std::int64_t samples) { Run(1, samples); }
    void Space(std::int64_t samples) { Run(0, samples); }
};

// D = 100 and an element gap average of 100, at the start of a character after a long silence.
// The other averages are distinct so that a test sees which one moved.
Driver SettledAt100(std::int64_t elementGap = 100) {
    Driver d;
    MorseDecoder& m = d.decoder;
    m.DotLength = 100;
    m.DashAverage = 300;
    m.ElementGapAverage = elementGap;
    m.LetterGapAverage = 333;
    m.WordGapAverage = 777;
    m.MarkLength = 0;
    m.SpaceLength = 2501;
    m.LetterSent = 1;
    m.KeyWasDown = 0;
    m.Code = 1;
    return d;
}

TEST(MorseDecoderTiming, DotDashCharacterThenWordSpace) {
    Driver d = SettledAt100();
    d.Mark(100);
    d.Space(1);
    EXPECT_EQ(d.decoder.Code, 2u);
    EXPECT_EQ(d.decoder.DotLength, 100);
    d.Space(99);
    d.Mark(300);
    d.Space(1);
    EXPECT_EQ(d.decoder.Code, 5u);
    EXPECT_EQ(d.decoder.DotLength, 100);
    d.events.clear();
    d.Space(2999);  // 3000 silent samples in all

    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_EQ(d.events[0].sample + 1, 150);  // the 150th silent sample
    EXPECT_EQ(d.events[0].result.kind, DecodeResult::kCharacter);
    EXPECT_EQ(d.events[0].result.code, 5u);
    EXPECT_EQ(d.events[1].sample + 1, 500);
    EXPECT_EQ(d.events[1].result.kind, DecodeResult::kWordSpace);
    EXPECT_EQ(d.events[1].result.code, 0u);
    EXPECT_EQ(d.decoder.Code, 1u);
    EXPECT_EQ(d.decoder.CharCount, 1);

    Charsets charsets;
    EXPECT_EQ(charsets.CodeToText(d.events[0].result.code), "a");
}

TEST(MorseDecoderTiming, MarkSplitsBetween160And161) {
    Driver dot = SettledAt100();
    dot.Mark(160);
    dot.Space(1);
    EXPECT_EQ(dot.decoder.LastElement, 0);
    EXPECT_EQ(dot.decoder.Code, 2u);
    EXPECT_EQ(dot.decoder.DotLength, (3 * 160 + 100) / 4);
    EXPECT_EQ(dot.decoder.DashAverage, 300);

    Driver dash = SettledAt100();
    dash.Mark(161);
    dash.Space(1);
    EXPECT_EQ(dash.decoder.LastElement, 1);
    EXPECT_EQ(dash.decoder.Code, 3u);
    EXPECT_EQ(dash.decoder.DotLength, (100 + 161) / 4);
    EXPECT_EQ(dash.decoder.DashAverage, (3 * 300 + 161) / 4);
}

TEST(MorseDecoderTiming, DashKeepsDotLengthAndMovesDashAverageAQuarter) {
    Driver d = SettledAt100();
    d.decoder.DashAverage = 200;
    d.Mark(300);
    d.Space(1);
    EXPECT_EQ(d.decoder.DotLength, 100);
    EXPECT_EQ(d.decoder.DashAverage, 225);
    EXPECT_EQ(d.decoder.MarkLength, 0);
}

struct GapCase {
    std::int64_t space;
    int changed;  // 0 element, 1 letter, 2 word, 3 none
};

class GapSorting : public ::testing::TestWithParam<GapCase> {};

TEST_P(GapSorting, SpaceIsSortedWhenTheNextMarkStarts) {
    const GapCase c = GetParam();
    Driver d = SettledAt100();
    d.Mark(100);  // a dot of exactly D keeps D at 100
    d.Space(c.space);
    EXPECT_EQ(d.decoder.SpaceLength, c.space);
    d.Mark(1);
    const MorseDecoder& m = d.decoder;
    EXPECT_EQ(m.ElementGapAverage, c.changed == 0 ? (3 * c.space + 100) / 4 : 100);
    EXPECT_EQ(m.LetterGapAverage, c.changed == 1 ? (3 * c.space + 333) / 4 : 333);
    EXPECT_EQ(m.WordGapAverage, c.changed == 2 ? (3 * c.space + 777) / 4 : 777);
    EXPECT_EQ(m.SpaceLength, 0);
}

INSTANTIATE_TEST_SUITE_P(AtDot100, GapSorting,
                         ::testing::Values(GapCase{1, 0}, GapCase{169, 0}, GapCase{170, 1},
                                           GapCase{499, 1}, GapCase{500, 2}, GapCase{1999, 2},
                                           GapCase{2000, 3}, GapCase{2501, 3}));

TEST(MorseDecoderTiming, CharacterEndFollowsElementGapAverage) {
    for (const auto& [gap, expectedEnd] :
         std::vector<std::pair<std::int64_t, std::int64_t>>{{100, 150}, {200, 180}, {60, 90}}) {
        Driver d = SettledAt100(gap);
        d.Mark(100);
        d.events.clear();
        d.Space(1000);
        ASSERT_EQ(d.events.size(), 2u) << "gap " << gap;
        EXPECT_EQ(d.events[0].sample, expectedEnd) << "gap " << gap;
        EXPECT_EQ(d.events[0].result.kind, DecodeResult::kCharacter);
        EXPECT_EQ(d.events[1].sample, 500) << "gap " << gap;
        EXPECT_EQ(d.events[1].result.kind, DecodeResult::kWordSpace);
    }
}

// At an odd dot length every rule multiplies before it divides and truncates: with D = 33,
// 16 D / 10 = 52, 17 D / 10 = 56 and 18 D / 10 = 59; 15 * 33 / 10 = 49.
TEST(MorseDecoderTiming, RulesTruncateAfterMultiplyingAtAnOddDotLength) {
    const auto settled33 = [](std::int64_t elementGap) {
        Driver d;
        MorseDecoder& m = d.decoder;
        m.DotLength = 33;
        m.DashAverage = 99;
        m.ElementGapAverage = elementGap;
        m.LetterGapAverage = 111;
        m.WordGapAverage = 777;
        m.MarkLength = 0;
        m.SpaceLength = 25 * 33 + 1;
        m.LetterSent = 1;
        m.KeyWasDown = 0;
        m.Code = 1;
        return d;
    };
    for (const auto& [mark, dash] : std::vector<std::pair<std::int64_t, int>>{{52, 0}, {53, 1}}) {
        Driver d = settled33(33);
        d.Mark(mark);
        d.Space(1);
        EXPECT_EQ(d.decoder.LastElement, dash) << "mark " << mark;
    }
    for (const auto& [space, letter] :
         std::vector<std::pair<std::int64_t, bool>>{{55, false}, {56, true}}) {
        Driver d = settled33(1000);  // no character end before the gap is sorted
        d.Mark(33);
        d.Space(space);
        d.Mark(1);
        EXPECT_EQ(d.decoder.LetterGapAverage != 111, letter) << "space " << space;
        EXPECT_EQ(d.decoder.ElementGapAverage != 1000, !letter) << "space " << space;
    }
    for (const auto& [elementGap, end] :
         std::vector<std::pair<std::int64_t, std::int64_t>>{{1000, 59}, {33, 49}}) {
        Driver d = settled33(elementGap);
        d.Mark(33);
        d.events.clear();
        d.Space(100);
        ASSERT_FALSE(d.events.empty());
        EXPECT_EQ(d.events[0].result.kind, DecodeResult::kCharacter);
        EXPECT_EQ(d.events[0].sample, end) << "element gap average " << elementGap;
    }
}

TEST(MorseDecoderTiming, ShortSpacesKeepBuildingOneCharacter) {
    Driver d = SettledAt100();
    // Gaps of 149 never end the character: ".-..-" arrives as one code word.
    for (const std::int64_t mark : {100, 300, 100, 100, 300}) {
        d.Mark(mark);
        d.Space(149);
    }
    EXPECT_TRUE(d.events.empty());
    EXPECT_EQ(d.decoder.Code, 0b101001u);
    // The short gaps pulled the element gap average to 148, so now 1.8 dots end it.
    d.Space(31);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].sample, 31);
    EXPECT_EQ(d.events[0].result.code, 0b101001u);
}

TEST(MorseDecoderTiming, SpaceLengthStopsAt25DotsPlusOne) {
    Driver d = SettledAt100();
    d.Mark(100);
    d.Space(2600);
    EXPECT_EQ(d.decoder.SpaceLength, 2501);
    d.Space(10000);
    EXPECT_EQ(d.decoder.SpaceLength, 2501);
    // The gap test of the next mark sees the capped length: with D raised to 200 by hand, 2501
    // falls among the word gaps (1000..3999), where 12600 would have changed nothing.
    d.decoder.DotLength = 200;
    d.Mark(1);
    EXPECT_EQ(d.decoder.WordGapAverage, (3 * 2501 + 777) / 4);
}

TEST(MorseDecoderTiming, LongSilenceEndsOneCharacterAndOneWord) {
    Driver d = SettledAt100();
    d.Mark(300);
    d.Space(100000);
    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_EQ(d.events[0].result.kind, DecodeResult::kCharacter);
    EXPECT_EQ(d.events[0].result.code, 3u);
    EXPECT_EQ(d.events[1].result.kind, DecodeResult::kWordSpace);
}

TEST(MorseDecoderTiming, ThirtySecondElementIsDropped) {
    Driver d = SettledAt100();
    CodeWord expected = 1;
    for (int i = 0; i < 32; ++i) {
        const bool dash = i % 3 == 0 || i == 31;
        d.Mark(dash ? 300 : 100);
        d.Space(100);
        if (i < 31) expected = (expected << 1) | (dash ? 1u : 0u);
    }
    EXPECT_TRUE(d.events.empty());
    EXPECT_EQ(d.decoder.Code, expected);
    EXPECT_NE(d.decoder.Code & kOverflowBit, 0u);
    EXPECT_EQ(d.decoder.DotLength, 100);
    d.Space(100);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].result.code, expected);
    // Elements 30 and 31 were dot and dash; the text marks the overflow.
    Charsets charsets;
    const std::string_view text = charsets.CodeToText(expected);
    EXPECT_EQ(text.substr(text.size() - 6), ". - %}");
}

TEST(MorseDecoderStartUp, EmptyCharacterAfter6500SamplesAndWordSpaceAfter52000) {
    Driver d;
    d.Space(400000);
    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_EQ(d.events[0].sample, 6500);
    EXPECT_EQ(d.events[0].result.kind, DecodeResult::kCharacter);
    EXPECT_EQ(d.events[0].result.code, 1u);
    EXPECT_FALSE(d.events[0].result.showSpeed);
    EXPECT_EQ(d.events[1].sample, 52000);
    EXPECT_EQ(d.events[1].result.kind, DecodeResult::kWordSpace);
    EXPECT_EQ(d.decoder.CharCount, 1);
    EXPECT_EQ(d.decoder.SpaceLength, 25 * 13000 + 1);
    Charsets charsets;
    EXPECT_EQ(charsets.CodeToText(d.events[0].result.code), "#");
}

TEST(MorseDecoderStartUp, FirstMarkIsMeasuredWith13000Added) {
    Driver dot;
    dot.Mark(7800);  // 20800 = 16 * 13000 / 10: still a dot
    dot.Space(1);
    EXPECT_EQ(dot.decoder.LastElement, 0);
    EXPECT_EQ(dot.decoder.DotLength, (3 * 20800 + 13000) / 4);

    Driver dash;
    dash.decoder.ElementGapAverage = 1000;
    dash.Mark(7801);
    dash.Space(1);
    EXPECT_EQ(dash.decoder.LastElement, 1);
    EXPECT_EQ(dash.decoder.DotLength, (13000 + 20801) / 4);
    EXPECT_EQ(dash.decoder.DashAverage, (3 * 39000 + 20801) / 4);
    // The start-up space of 13000 was an element gap.
    EXPECT_EQ(dash.decoder.ElementGapAverage, (3 * 13000 + 1000) / 4);
}

TEST(MorseDecoderSilence, SilenceDotsCountsDotLengthsFromTheSecondKeyUpSample) {
    Driver d = SettledAt100();
    d.decoder.SilenceDots = 5.0;
    d.Mark(1);
    EXPECT_EQ(d.decoder.SilenceDots, 0.0);
    // A 100-sample mark at D = 100 leaves D at 100 when it ends.
    d.Mark(99);
    d.Space(1);
    EXPECT_EQ(d.decoder.SilenceDots, 0.0);
    d.Space(1);
    EXPECT_DOUBLE_EQ(d.decoder.SilenceDots, 0.01);
    d.Space(499);
    EXPECT_NEAR(d.decoder.SilenceDots, 5.0, 1e-9);
    // It grows until it has passed 10, then stands.
    d.Space(5000);
    EXPECT_GT(d.decoder.SilenceDots, 10.0);
    EXPECT_LE(d.decoder.SilenceDots, 10.01 + 1e-9);
    const double stood = d.decoder.SilenceDots;
    d.Space(100);
    EXPECT_EQ(d.decoder.SilenceDots, stood);
}

TEST(MorseDecoderSilence, ZeroDotLengthKeepsSilenceFinite) {
    Driver d = SettledAt100();
    d.decoder.DotLength = 1;
    d.Mark(2);  // a dash at D = 1: (1 + 2) / 4 = 0
    d.Space(1);
    ASSERT_EQ(d.decoder.DotLength, 0);
    d.Space(20);
    EXPECT_TRUE(std::isfinite(d.decoder.SilenceDots));
    EXPECT_GT(d.decoder.SilenceDots, 10.0);
    // A longer mark brings D back.
    d.Mark(8);
    d.Space(1);
    EXPECT_EQ(d.decoder.DotLength, 2);
}

TEST(MorseDecoderSpeed, PanelTextsFromTheAverages) {
    MorseDecoder m;
    m.DotLength = 660;
    m.DashAverage = 1980;
    m.ElementGapAverage = 660;
    m.LetterGapAverage = 1980;
    m.WordGapAverage = 4620;
    EXPECT_NEAR(m.Wpm(), 20.04545, 1e-5);
    EXPECT_EQ(WpmText(m), "20.0 WPM");
    EXPECT_EQ(LpmText(m), "100 LPM");

    // 661500 / 1272110 = 0.52: nothing before the point.
    m.DotLength = 127211;
    m.DashAverage = m.ElementGapAverage = m.LetterGapAverage = m.WordGapAverage = 0;
    EXPECT_EQ(WpmText(m), ".5 WPM");
    EXPECT_EQ(LpmText(m), "3 LPM");

    // 661500 / 536 = 1234.14...
    m.DotLength = 1;
    m.DashAverage = 1;
    m.ElementGapAverage = 1;
    m.LetterGapAverage = 1;
    m.WordGapAverage = 536 - 27;
    EXPECT_EQ(WpmText(m), "1234.1 WPM");
    EXPECT_EQ(LpmText(m), "6171 LPM");
}

TEST(MorseDecoderSpeed, ShownAtEveryFifthCharacterAndAtWordSpacesAfterThat) {
    Driver d = SettledAt100();
    std::vector<bool> characterFlags;
    std::vector<bool> wordFlags;
    for (int word = 0; word < 3; ++word) {
        for (int i = 0; i < 4; ++i) {
            d.Mark(100);
            d.Space(200);  // ends the character, no word space
        }
        d.Mark(100);
        d.Space(600);
    }
    for (const Event& e : d.events) {
        (e.result.kind == DecodeResult::kCharacter ? characterFlags : wordFlags)
            .push_back(e.result.showSpeed);
    }
    ASSERT_EQ(characterFlags.size(), 15u);
    ASSERT_EQ(wordFlags.size(), 3u);
    for (std::size_t i = 0; i < characterFlags.size(); ++i) {
        EXPECT_EQ(characterFlags[i], (i + 1) % 5 == 0) << "character " << i + 1;
    }
    EXPECT_TRUE(wordFlags[0]);  // CharCount 5 by then
    EXPECT_EQ(d.decoder.CharCount, 15);

    Driver early = SettledAt100();
    for (int i = 0; i < 4; ++i) {
        early.Mark(100);
        early.Space(200);
    }
    early.Space(400);
    ASSERT_EQ(early.events.size(), 5u);
    EXPECT_EQ(early.events.back().result.kind, DecodeResult::kWordSpace);
    EXPECT_FALSE(early.events.back().result.showSpeed);  // only four characters so far
}

TEST(MorseDecoderLimits, RunsBeyond32BitsStayExact) {
    // A carrier of about 2^31 samples after a dot of 4 * 10^8 samples: everything here is past
    // the 32-bit range.
    Driver d = SettledAt100();
    const std::int64_t dot = 400'000'000;
    d.decoder.DotLength = dot;
    d.decoder.MarkLength = (std::int64_t{1} << 31) - 5;
    d.Mark(100);
    EXPECT_EQ(d.decoder.MarkLength, (std::int64_t{1} << 31) + 95);
    d.Space(1);
    EXPECT_EQ(d.decoder.LastElement, 1);  // above 16 * dot / 10
    const std::int64_t newDot = (dot + (std::int64_t{1} << 31) + 95) / 4;
    EXPECT_EQ(d.decoder.DotLength, newDot);
    EXPECT_EQ(d.decoder.DotLength, 636'870'935);

    // The space cap 25 D + 1 is far above 2^31 and is still reached exactly.
    d.decoder.SpaceLength = 25 * newDot - 3;
    d.Space(10);
    EXPECT_EQ(d.decoder.SpaceLength, 25 * newDot + 1);
    EXPECT_GT(d.decoder.Wpm(), 0.0);
    EXPECT_GE(d.decoder.Lpm(), 0);
}

TEST(MorseDecoderLimits, CarrierCrossesThe32BitEdgeSampleBySample) {
    // Start two million samples short of 2^31 and key on across the edge.
    Driver d = SettledAt100();
    const std::int64_t start = (std::int64_t{1} << 31) - 2'000'000;
    d.decoder.MarkLength = start;
    d.decoder.KeyWasDown = 1;
    d.Mark(4'000'000);
    EXPECT_EQ(d.decoder.MarkLength, start + 4'000'000);
    d.Space(1);
    EXPECT_EQ(d.decoder.DotLength, (100 + start + 4'000'000) / 4);
    EXPECT_EQ(d.decoder.Code, 3u);
    d.Space(100);
    EXPECT_EQ(d.decoder.SpaceLength, 101);
    EXPECT_GT(d.decoder.SilenceDots, 0.0);
}

TEST(MorseDecoderLimits, MarkLengthSaturatesInsteadOfOverflowing) {
    Driver d = SettledAt100();
    d.decoder.MarkLength = MorseDecoder::kMaxMarkLength - 2;
    d.Mark(10);
    EXPECT_EQ(d.decoder.MarkLength, MorseDecoder::kMaxMarkLength);
    d.Space(1);
    EXPECT_GT(d.decoder.DotLength, 0);
    d.Space(1000);
    EXPECT_TRUE(std::isfinite(d.decoder.Wpm()));
}

TEST(MorseDecoderWarmStart, BehavesAsAfterALongSilenceAtTheGivenDot) {
    Driver d;
    d.decoder.WarmStart(662);
    EXPECT_EQ(d.decoder.DashAverage, 3 * 662);
    EXPECT_EQ(d.decoder.WordGapAverage, 7 * 662);
    EXPECT_EQ(d.decoder.SpaceLength, 25 * 662 + 1);
    // No start-up "#" and no word space during a leading silence.
    d.Space(100000);
    EXPECT_TRUE(d.events.empty());
    // The first mark is measured from zero.
    d.Mark(662);
    d.Space(1);
    EXPECT_EQ(d.decoder.DotLength, 662);
    EXPECT_EQ(d.decoder.Code, 2u);

    MorseDecoder zero;
    zero.WarmStart(0);
    EXPECT_EQ(zero.DotLength, 1);
}

}  // namespace
}  // namespace dahlo
