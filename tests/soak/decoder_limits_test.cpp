// The decoder's timing against a plain reference written from the rules with 64-bit integers:
// identical on every run short enough for 32-bit arithmetic, and sound (no overflow, the same
// results as the wide reference) on a carrier longer than 32 bits can count.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <random>

#include "morse/keying_detector.h"
#include "morse/morse_decoder.h"

namespace dahlo {
namespace {

// The timing rules, literally, in 64 bits. `fits32` turns false as soon as any product or sum
// leaves the signed 32-bit range, which is where a 32-bit decoder would go wrong.
struct Reference {
    std::int64_t KeyWasDown = 0, D = 13000, m = 13000, s = 13000, dash = 39000, g = 13000,
                 letter = 39000, word = 91000, LetterSent = 0, Last = 0, CharCount = 0;
    std::uint32_t Code = 1;
    double SilenceDots = 10.0;
    int KeyCount = 0, KeyState = 0;
    bool fits32 = true;

    std::int64_t P(std::int64_t v) {
        if (v > std::numeric_limits<std::int32_t>::max() ||
            v < std::numeric_limits<std::int32_t>::min()) {
            fits32 = false;
        }
        return v;
    }

    // 0 nothing, 1 character (code in `out`), 2 word space.
    int Step(int raw, int L, std::uint32_t& out) {
        if (raw == 1) {
            if (KeyCount < L) ++KeyCount;
        } else if (KeyCount > 0) {
            --KeyCount;
        }
        if (KeyCount == L)
            KeyState = 1;
        else if (KeyCount == 0)
            KeyState = 0;

        if (KeyState == 1) {
            if (KeyWasDown == 0) {
                if (s < P(17 * D) / 10)
                    g = P(P(3 * s) + g) / 4;
                else if (s < P(5 * D))
                    letter = P(P(3 * s) + letter) / 4;
                else if (s < P(20 * D))
                    word = P(P(3 * s) + word) / 4;
            }
            m = P(m + 1);
            s = 0;
            KeyWasDown = 1;
            SilenceDots = 0.0;
            LetterSent = 0;
            return 0;
        }
        if (KeyWasDown == 1) {
            s = 1;
            KeyWasDown = 0;
            if (m > P(16 * D) / 10) {
                Last = 1;
                D = P(D + m) / 4;
                dash = P(P(3 * dash) + m) / 4;
            } else {
                Last = 0;
                D = P(P(3 * m) + D) / 4;
            }
            m = 0;
            if ((Code & 0x80000000u) == 0) Code = (Code << 1) | static_cast<std::uint32_t>(Last);
            return 0;
        }
        if (s <= P(25 * D)) s = P(s + 1);
        if (!(SilenceDots > 10.0)) SilenceDots += 1.0 / static_cast<double>(D > 0 ? D : 1);
        if (LetterSent == 0 && (s >= P(18 * D) / 10 || s >= P(15 * g) / 10)) {
            out = Code;
            Code = 1;
            LetterSent = 1;
            ++CharCount;
            return 1;
        }
        if (s == P(5 * D)) return 2;
        return 0;
    }
};

void ExpectSameState(const Reference& r, const MorseDecoder& d, const KeyingDetector& k) {
    EXPECT_EQ(d.KeyWasDown, r.KeyWasDown);
    EXPECT_EQ(d.DotLength, r.D);
    EXPECT_EQ(d.MarkLength, r.m);
    EXPECT_EQ(d.SpaceLength, r.s);
    EXPECT_EQ(d.DashAverage, r.dash);
    EXPECT_EQ(d.ElementGapAverage, r.g);
    EXPECT_EQ(d.LetterGapAverage, r.letter);
    EXPECT_EQ(d.WordGapAverage, r.word);
    EXPECT_EQ(d.Code, r.Code);
    EXPECT_EQ(d.LetterSent, r.LetterSent);
    EXPECT_EQ(d.LastElement, r.Last);
    EXPECT_EQ(d.CharCount, r.CharCount);
    EXPECT_EQ(d.SilenceDots, r.SilenceDots);
    EXPECT_EQ(k.KeyCount, r.KeyCount);
    EXPECT_EQ(k.KeyState, r.KeyState);
}

// Feeds `count` samples of `raw` to both; false at the first differing result.
bool Feed(Reference& ref, MorseDecoder& dec, KeyingDetector& key, int raw, std::int64_t count,
          int L, std::int64_t& characters) {
    for (std::int64_t i = 0; i < count; ++i) {
        std::uint32_t code = 0;
        const int want = ref.Step(raw, L, code);
        const DecodeResult got = dec.DecodeSample(raw, key, L);
        if (static_cast<int>(got.kind) != want) return false;
        if (want == 1) {
            ++characters;
            if (got.code != code) return false;
        }
        if (want == 2 && got.code != 0) return false;
    }
    return true;
}

// Random keying: runs from one sample to many seconds, integration lengths from 1 to 400,
// speeds from very fast to glacial. Every run here stays within 32 bits, and the decoder must
// give exactly what the rules give, sample for sample.
TEST(DecoderLimits, RandomKeyingMatchesTheRulesWherever32BitsSuffice) {
    std::mt19937_64 rng(2024);
    std::int64_t samples = 0;
    std::int64_t characters = 0;
    for (int trial = 0; trial < 40; ++trial) {
        Reference ref;
        MorseDecoder dec;
        KeyingDetector key;
        const int L =
            trial % 5 == 0 ? 1 + static_cast<int>(rng() % 3) : 1 + static_cast<int>(rng() % 400);
        const std::int64_t scale = std::int64_t{1} << (rng() % 15);  // 1 .. 16384 samples
        for (int run = 0; run < 300; ++run) {
            const int raw = run % 2 == 0 ? 1 : 0;
            // Mostly element-sized runs, sometimes a burst of single-sample flicker.
            const std::int64_t n = rng() % 8 == 0
                                       ? 1 + static_cast<std::int64_t>(rng() % 3)
                                       : 1 + static_cast<std::int64_t>(rng() % (4 * scale));
            ASSERT_TRUE(Feed(ref, dec, key, raw, n, L, characters))
                << "trial " << trial << " run " << run;
            samples += n;
            if (run % 50 == 0) ExpectSameState(ref, dec, key);
        }
        ASSERT_TRUE(ref.fits32) << "trial " << trial << " left 32 bits; shorten its runs";
        ExpectSameState(ref, dec, key);
        EXPECT_TRUE(std::isfinite(dec.Wpm()));
    }
    EXPECT_GT(characters, 1000);
    ::testing::Test::RecordProperty("samples", static_cast<int>(samples / 1000));
}

// A carrier of 400 million samples (about ten hours): past the point where 25 D no longer fits
// 32 bits. The decoder keeps counting, the dash lands in the code word, the space that follows
// is capped at 25 D + 1 and ends the character, and every value equals the wide reference.
TEST(DecoderLimits, CarrierLongerThan32BitsCanCountStaysExact) {
    constexpr std::int64_t kCarrier = 400'000'000;
    Reference ref;
    MorseDecoder dec;
    KeyingDetector key;
    std::int64_t characters = 0;
    const int L = 175;

    // A few ordinary dots and dashes first, so the carrier meets a settled decoder.
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(Feed(ref, dec, key, 1, i % 2 ? 2000 : 700, L, characters));
        ASSERT_TRUE(Feed(ref, dec, key, 0, 700, L, characters));
    }
    ASSERT_TRUE(Feed(ref, dec, key, 0, 5000, L, characters));

    const auto t0 = std::chrono::steady_clock::now();
    for (std::int64_t i = 0; i < kCarrier; ++i) dec.DecodeSample(1, key, L);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ::testing::Test::RecordProperty("carrier_ms", static_cast<int>(seconds * 1000));
    std::printf("400 million key-down DecodeSample calls: %.2f s\n", seconds);
    // The reference takes the same carrier in one step: its key is already down after L samples.
    for (int i = 0; i < L; ++i) {
        std::uint32_t code = 0;
        ref.Step(1, L, code);
    }
    ref.m += kCarrier - L;
    EXPECT_EQ(dec.MarkLength, ref.m);
    ExpectSameState(ref, dec, key);

    const std::uint32_t codeBefore = dec.Code;
    ASSERT_TRUE(Feed(ref, dec, key, 0, 30000, L, characters));
    EXPECT_FALSE(ref.fits32);  // 32-bit arithmetic would have overflowed by now
    EXPECT_GT(25 * dec.DotLength, std::int64_t{std::numeric_limits<std::int32_t>::max()});
    EXPECT_EQ(dec.DotLength, ref.D);
    EXPECT_EQ(dec.LastElement, 1);
    EXPECT_GT(dec.DashAverage, 0);
    EXPECT_EQ(dec.Code, 1u) << "the dash ended the character";
    EXPECT_NE(codeBefore, 0u);
    EXPECT_EQ(dec.LetterSent, 1);
    ExpectSameState(ref, dec, key);
    const double wpm = dec.Wpm();
    EXPECT_TRUE(std::isfinite(wpm));
    EXPECT_GT(wpm, 0.0);
    EXPECT_GE(dec.Lpm(), 0);

    // Ordinary keying afterwards: the estimate walks back down and characters come again.
    const std::int64_t before = characters;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Feed(ref, dec, key, 1, i % 3 ? 700 : 2000, L, characters));
        ASSERT_TRUE(Feed(ref, dec, key, 0, i % 4 ? 700 : 2100, L, characters));
    }
    ExpectSameState(ref, dec, key);
    EXPECT_LT(dec.DotLength, 3000);
    EXPECT_GT(characters, before + 20);
}

// Hours of key-up after a huge dot length: the capped space neither overflows nor stops the
// word space from coming exactly at 5 D.
TEST(DecoderLimits, SpaceAfterHugeDotIsCappedAndGivesOneWordSpace) {
    MorseDecoder dec;
    KeyingDetector key;
    dec.WarmStart(std::int64_t{100'000'000});  // a dot of about 2.5 hours
    dec.Code = 5;
    dec.LetterSent = 0;
    dec.SpaceLength = 5 * dec.DotLength - 3;
    int wordSpaces = 0;
    int characterEnds = 0;
    for (int i = 0; i < 10; ++i) {
        const DecodeResult r = dec.DecodeSample(0, key, 175);
        if (r.kind == DecodeResult::kWordSpace) ++wordSpaces;
        if (r.kind == DecodeResult::kCharacter) ++characterEnds;
    }
    EXPECT_EQ(characterEnds, 1);
    EXPECT_EQ(wordSpaces, 1);
    dec.SpaceLength = 25 * dec.DotLength - 1;
    for (int i = 0; i < 10; ++i) dec.DecodeSample(0, key, 175);
    EXPECT_EQ(dec.SpaceLength, 25 * dec.DotLength + 1);
}

}  // namespace
}  // namespace dahlo
