// The decoder fed with sample-exact keying (no audio, no filter): what a sender keys at a steady
// speed must come out as the text once the decoder has left its start-up dot behind.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "morse/keying_detector.h"
#include "morse/charset.h"
#include "morse/morse_decoder.h"
#include "support/morse_synth.h"
#include "support/text_compare.h"

using dahlo::test::CharactersToAdapt;

namespace dahlo {
namespace {

constexpr char kText[] =
    "cq cq de dl1abc dl1abc pse k the quick brown fox jumps over the lazy dog 0123456789 "
    "r r ur rst 599 5nn = hw? ar";

// Runs the keying through the integrator at the default length 175 and the decoder, and
// returns the English text.
std::string DecodeKeying(const std::vector<test::KeyRun>& runs, MorseDecoder& decoder) {
    KeyingDetector keying;
    Charsets charsets;
    std::string out;
    for (const int key : test::KeyDecisions(runs)) {
        const DecodeResult r = decoder.DecodeSample(key, keying, 175);
        if (r.kind != DecodeResult::kNothing) out += charsets.CodeToText(r.code);
    }
    return out;
}

class SteadySpeed : public ::testing::TestWithParam<double> {};

TEST_P(SteadySpeed, TextComesOutAfterTheFirstCharacter) {
    const double wpm = GetParam();
    test::MorseSynthOptions options;
    options.wpm = wpm;
    MorseDecoder decoder;
    const std::string decoded = DecodeKeying(test::SynthesizeKeying(kText, options), decoder);
    const std::string sent = std::string(kText) + " ";  // the trailing silence ends the word
    // From the 13000-sample start-up dot, the first mark is measured 13000 samples too long and
    // the first character ("c") comes out as "h"; everything after it is right.
    EXPECT_EQ(CharactersToAdapt(sent, decoded), 1u) << decoded;
    EXPECT_EQ(decoded.substr(0, 1), "h");
    // The dot estimate has settled on the sender's dot.
    EXPECT_NEAR(static_cast<double>(decoder.DotLength), test::DotSamples(wpm), 2.0);
    EXPECT_NEAR(decoder.Wpm(), wpm, wpm * 0.1);
}

INSTANTIATE_TEST_SUITE_P(Wpm, SteadySpeed, ::testing::Values(15.0, 20.0, 30.0));

TEST(KeyedDecoding, ShortLeadingCharactersMergeUntilTheDotHasAdapted) {
    // Three "e" with word gaps: the start-up dot of 13000 samples takes the gaps for element
    // gaps, so they arrive as one "s"; three marks later the dot length has adapted.
    test::MorseSynthOptions options;
    MorseDecoder decoder;
    EXPECT_EQ(DecodeKeying(test::SynthesizeKeying("e e e paris", options), decoder), "sparis ");
}

TEST(KeyedDecoding, ModestHandKeyingJitterIsTolerated) {
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        test::MorseSynthOptions options;
        options.wpm = 20;
        options.jitter = 0.05;
        options.seed = seed;
        MorseDecoder decoder;
        const std::string decoded = DecodeKeying(test::SynthesizeKeying(kText, options), decoder);
        EXPECT_LE(CharactersToAdapt(std::string(kText) + " ", decoded), 1u)
            << "seed " << seed << ": " << decoded;
    }
}

TEST(KeyedDecoding, FollowsASpeedChange) {
    test::MorseSynthOptions slow;
    slow.wpm = 15;
    slow.trail_silence_s = 0.2;
    test::MorseSynthOptions fast;
    fast.wpm = 30;
    fast.lead_silence_s = 0.2;
    std::vector<test::KeyRun> runs = test::SynthesizeKeying("vvv paris", slow);
    const std::vector<test::KeyRun> second = test::SynthesizeKeying(kText, fast);
    runs.insert(runs.end(), second.begin(), second.end());
    MorseDecoder decoder;
    const std::string decoded = DecodeKeying(runs, decoder);
    // At twice the speed the first mark is read with the old dot; a character or two later the
    // text is right again.
    EXPECT_LE(CharactersToAdapt(std::string(kText) + " ", decoded), 2u) << decoded;
    EXPECT_NEAR(static_cast<double>(decoder.DotLength), test::DotSamples(30), 2.0);
}

TEST(KeyedDecoding, LongWordGapsGiveOneBlankEach) {
    test::MorseSynthOptions options;
    options.wpm = 20;
    options.extra_word_space_dots = 30;  // beyond 25 dots: the space length caps
    options.lead_silence_s = 0.0;
    MorseDecoder decoder;
    decoder.WarmStart(static_cast<std::int64_t>(test::DotSamples(20)));
    EXPECT_EQ(DecodeKeying(test::SynthesizeKeying("cq de k", options), decoder), "cq de k ");
}

TEST(KeyedDecoding, ProsignsAndTheJoinedCq) {
    test::MorseSynthOptions options;
    options.lead_silence_s = 0.0;
    MorseDecoder decoder;
    decoder.WarmStart(static_cast<std::int64_t>(test::DotSamples(20)));
    EXPECT_EQ(DecodeKeying(test::SynthesizeKeying("<CQ> <SK> <BK> <AR> <KN> <AS> <KA>", options),
                           decoder),
              "CQ SK BK AR KN AS KA ");
}

}  // namespace
}  // namespace dahlo
