// The soft decoder on synthesized signals: clean text exactly, weak signals within a bound,
// noise alone nearly silent, a speed step followed, block size and allocation independence.

#include "soft/soft_decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "support/morse_synth.h"
#include "support/text_compare.h"

namespace {

std::size_t g_allocations = 0;

}  // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace dahlo {
namespace {

using test::MorseSynthOptions;

std::vector<SoftChar> DecodeChars(const std::vector<std::int16_t>& audio, SoftDecoderConfig config,
                                  std::size_t block = 1000) {
    SoftDecoder decoder(config);
    std::vector<SoftChar> chars;
    for (std::size_t i = 0; i < audio.size(); i += block) {
        decoder.Process(audio.data() + i, std::min(block, audio.size() - i), chars);
    }
    decoder.Flush(chars);
    return chars;
}

std::string Text(const std::vector<SoftChar>& chars) {
    std::string text;
    for (const SoftChar& c : chars) {
        if (c.word_space_before) text += ' ';
        text += c.text.data();
    }
    return text;
}

// Character error rate of `got` against the `sent` text.
double Cer(const std::string& sent, const std::string& got) {
    return static_cast<double>(test::EditDistance(sent, got)) / static_cast<double>(sent.size());
}

std::string Decode(const std::vector<std::int16_t>& audio, double pitch, double dot = 0.0) {
    SoftDecoderConfig config;
    config.pitch_hz = pitch;
    config.dot_samples = dot;
    return Text(DecodeChars(audio, config));
}

TEST(SoftDecoder, CleanSignalsDecodeWordForWordWithOrWithoutTheSpeed) {
    const std::string text = "cq de dl1abc = ur rst 599 5nn, name hans? qth berlin/p 73 k";
    for (const double wpm : {12.0, 25.0, 40.0}) {
        MorseSynthOptions o;
        o.wpm = wpm;
        o.signal.pitch_hz = 750.0;
        const std::vector<std::int16_t> audio = test::SynthesizeMorse(text, o);
        EXPECT_EQ(Decode(audio, 750.0), text) << wpm << " WPM";
        EXPECT_EQ(Decode(audio, 750.0, test::DotSamples(wpm)), text) << wpm << " WPM, dot given";
    }
}

TEST(SoftDecoder, FirstCharacterIsPlacedAtItsFirstMarkWithSpeedAndConfidence) {
    MorseSynthOptions o;
    o.wpm = 20.0;
    o.lead_silence_s = 1.0;
    const std::vector<SoftChar> chars = DecodeChars(test::SynthesizeMorse("test test", o), {996.0});
    ASSERT_FALSE(chars.empty());
    const double slack = test::DotSamples(20.0) / 2.0;
    EXPECT_NEAR(static_cast<double>(chars[0].sample), 11025.0, slack);
    EXPECT_FALSE(chars[0].word_space_before);
    EXPECT_NEAR(chars.back().wpm, 20.0, 1.5);
    EXPECT_GT(chars.back().confidence, 0.9);
}

TEST(SoftDecoder, WeakSignalsStayUnderTheErrorBound) {
    // -8 dB in 2500 Hz: the receiver's hard decisions lose about half the characters here.
    const std::string text = "ok2xyz de g4abc tnx fer call ur rst 559 name bob qth leeds hw cpy k";
    double errors = 0.0;
    int seed = 40;
    for (const double wpm : {18.0, 25.0}) {
        for (const double pitch : {700.0, 1050.0}) {
            MorseSynthOptions o;
            o.wpm = wpm;
            o.signal.pitch_hz = pitch;
            o.snr_db = -8.0;
            o.seed = static_cast<std::uint64_t>(++seed);
            const std::string got = Decode(test::SynthesizeMorse(text, o), pitch);
            errors += Cer(text, got);
        }
    }
    // Measured 0.13 (one recording's start goes astray); broken likelihoods or timing: ~0.9.
    EXPECT_LT(errors / 4.0, 0.2);
}

TEST(SoftDecoder, VeryWeakSignalsAreReadCoherentlyEvenOffPitch) {
    // -10 dB, the tone a few hertz off the pitch given: the carrier phase loop must follow the
    // offset for marks to add coherently.
    const std::string text = "dl2abc de ok1xyz ur rst 449 name jan qth brno pwr 50w tnx fer call 73 k";
    double errors = 0.0;
    int seed = 70;
    for (const double offset : {-3.0, 2.0}) {
        MorseSynthOptions o;
        o.wpm = 20.0;
        o.signal.pitch_hz = 800.0 + offset;
        o.snr_db = -10.0;
        o.seed = static_cast<std::uint64_t>(++seed);
        const std::string got = Decode(test::SynthesizeMorse(text, o), 800.0);
        errors += Cer(text, got);
    }
    // Measured 0.20; with the loop's rate turned the wrong way or an unknown phase: 0.39; with
    // the rate left to the loop alone (no averaged turn between mark slots): 0.31.
    EXPECT_LT(errors / 2.0, 0.3);
}

TEST(SoftDecoder, FadingSignalsReadBetterWithWholeRunsThanWithWindowsAlone) {
    // -9 dB mean, 8 dB slow fading: the troughs sink to -14 dB, where a mark's whole sum is the
    // evidence that still stands out of the noise.
    const std::string text = "ok2xyz de g4abc tnx fer call ur rst 559 name bob qth leeds hw cpy k";
    double whole = 0.0;
    double windows = 0.0;
    int seed = 90;
    for (const double wpm : {16.0, 19.0, 22.0, 25.0, 28.0}) {
        MorseSynthOptions o;
        o.wpm = wpm;
        o.signal.pitch_hz = 900.0;
        o.snr_db = -9.0;
        o.qsb_depth_db = 8.0;
        o.seed = static_cast<std::uint64_t>(++seed);
        const std::vector<std::int16_t> audio = test::SynthesizeMorse(text, o);
        for (const bool runs : {true, false}) {
            const std::string got = Text(DecodeChars(audio, {900.0, 0.0, 0.0, runs}));
            (runs ? whole : windows) += Cer(text, got);
        }
    }
    // Measured 0.28 against 0.43.
    EXPECT_LT(whole / 5.0, 0.35);
    EXPECT_LT(whole, 0.8 * windows);
}

TEST(SoftDecoder, TimingFollowsTheSendersKeyingTightForAKeyerLooseForAHand) {
    // A keyer at -11 dB: a timing model as tight as its keying tells weak marks from noise.
    // A hand at 20 % and -7 dB: the model must widen for its elements.
    const std::string text = "ok2xyz de g4abc tnx fer call ur rst 559 name bob qth leeds hw cpy k";
    double keyer[2] = {0.0, 0.0};  // following the keying, not
    double hand[2] = {0.0, 0.0};
    int seed = 120;
    for (const double wpm : {17.0, 21.0, 25.0}) {
        for (const double jitter : {0.0, 0.2}) {
            MorseSynthOptions o;
            o.wpm = wpm;
            o.signal.pitch_hz = 750.0;
            o.snr_db = jitter > 0.0 ? -7.0 : -11.0;
            o.jitter = jitter;
            o.seed = static_cast<std::uint64_t>(++seed);
            const std::vector<std::int16_t> audio = test::SynthesizeMorse(text, o);
            for (const bool follow : {true, false}) {
                const std::string got = Text(DecodeChars(audio, {750.0, 0.0, 0.0, true, follow}));
                (jitter > 0.0 ? hand : keyer)[follow ? 0 : 1] += Cer(text, got) / 3.0;
            }
        }
    }
    // Measured: the keyer 0.20 against 0.27 loose; the hand 0.15 either way, 0.18 where the
    // model cannot widen past a keyer's.
    EXPECT_LT(keyer[0], 0.8 * keyer[1]);
    EXPECT_LT(hand[0], hand[1] + 0.02);
}

TEST(SoftDecoder, TheCodeTreeResolvesDoubtfulMarksIntoCharacters) {
    // -10 dB with 8 dB fading: in the troughs, marks in doubt often spell a code that is no
    // character at all, which is lost without the tree, and its neighbours with it.
    const std::string text = "cq de w1aw w1aw = qrv 7025 khz = qrl? 73 es gl k";
    double cer[2] = {0.0, 0.0};  // with the tree, without
    int seed = 150;
    for (const double wpm : {16.0, 20.0, 24.0, 28.0}) {
        MorseSynthOptions o;
        o.wpm = wpm;
        o.signal.pitch_hz = 650.0;
        o.snr_db = -10.0;
        o.qsb_depth_db = 8.0;
        o.seed = static_cast<std::uint64_t>(++seed);
        const std::vector<std::int16_t> audio = test::SynthesizeMorse(text, o);
        for (const bool tree : {true, false}) {
            const std::string got = Text(DecodeChars(audio, {650.0, 0.0, 0.0, true, true, tree}));
            cer[tree ? 0 : 1] += Cer(text, got) / 4.0;
        }
    }
    // Measured 0.28 against 0.31 (on 72 recordings of the weak sweep: 0.21 against 0.25).
    EXPECT_LT(cer[0], cer[1] - 0.015);
}

TEST(SoftDecoder, NoiseAloneGivesAtMostOneConfidentCharacter) {
    MorseSynthOptions o;
    o.snr_db = -8.0;  // the noise of a -8 dB signal, without the signal
    o.lead_silence_s = 30.0;
    o.trail_silence_s = 0.0;
    const std::vector<std::int16_t> audio = test::SynthesizeMorse("", o);
    SoftDecoderConfig config{800.0, 0.0, 0.5};
    EXPECT_LE(DecodeChars(audio, config).size(), 1u);
}

TEST(SoftDecoder, SpeedStepIsFollowed) {
    MorseSynthOptions o;
    o.wpm = 18.0;
    o.speed_steps = {{30, 30.0}};
    o.snr_db = 0.0;
    const std::string text = "cq cq de pa3xyz pa3xyz pse k r r ur 579 579 tnx fer qso es 73 gl sk";
    const std::vector<SoftChar> chars = DecodeChars(test::SynthesizeMorse(text, o), {996.0});
    const std::string got = Text(chars);
    EXPECT_LE(test::EditDistance(text, got), 8u) << got;  // at most a word lost at the step
    ASSERT_FALSE(chars.empty());
    EXPECT_NEAR(chars.back().wpm, 30.0, 2.5);
}

TEST(SoftDecoder, BlockSizeDoesNotChangeTheOutputAndProcessingDoesNotAllocate) {
    MorseSynthOptions o;
    o.wpm = 22.0;
    o.snr_db = -6.0;
    o.jitter = 0.1;
    const std::vector<std::int16_t> audio =
        test::SynthesizeMorse("dl1abc de w1aw rst 599 599 bk tu 73 ee dl1abc de w1aw k", o);
    const std::vector<SoftChar> one = DecodeChars(audio, {996.0}, 1);
    const std::vector<SoftChar> big = DecodeChars(audio, {996.0}, 2048);
    ASSERT_EQ(one.size(), big.size());
    for (std::size_t i = 0; i < one.size(); ++i) {
        EXPECT_EQ(one[i].sample, big[i].sample);
        EXPECT_EQ(std::string(one[i].text.data()), std::string(big[i].text.data()));
        EXPECT_EQ(one[i].confidence, big[i].confidence);
    }

    SoftDecoder decoder({996.0});
    std::vector<SoftChar> out;
    out.reserve(1000);
    const std::size_t before = g_allocations;
    decoder.Process(audio.data(), audio.size(), out);
    EXPECT_EQ(g_allocations, before);
    EXPECT_TRUE(decoder.Locked());
}

}  // namespace
}  // namespace dahlo
