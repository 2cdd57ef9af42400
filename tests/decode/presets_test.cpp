// The presets' look at fading recordings (mark spread, trial decodes, text score) and the one
// conversion of a resampled file into a temporary spool.

#include "decode/presets.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>
#include <iostream>
#include <string>
#include <vector>

#include "receiver/channel.h"
#include "support/morse_synth.h"
#include "support/text_compare.h"
#include "decode/decode_session.h"
#include "recording/sample_source.h"
#include "support/audio_files.h"

using dahlo::test::EditDistance;

namespace dahlo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kQso = "r ok tnx fer call ur rst 579 579 name hans qth berlin";

// A tone keyed with `text`, fading between 0 and -`depthDb` dB with a 7 s period (no fading at 0),
// in white noise of `snr` dB in 2500 Hz (none when above 99).
std::vector<std::int16_t> Recording(const std::string& text, double wpm, double depthDb, double snr,
                                    std::uint64_t seed = 5) {
    test::MorseSynthOptions o;
    o.wpm = wpm;
    o.signal.pitch_hz = 700.0;
    o.signal.level_dbfs = -25.0;
    const std::vector<std::int16_t> clean = test::SynthesizeMorse(text, o);
    const double amplitude = 32767.0 * std::pow(10.0, o.signal.level_dbfs / 20.0);
    const double sigma = snr < 99.0 ? test::NoiseSigmaFor(amplitude, snr) : 0.0;
    std::mt19937_64 random(seed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<std::int16_t> out(clean.size());
    for (std::size_t n = 0; n < clean.size(); ++n) {
        const double t = static_cast<double>(n) / kSampleRateHz;
        const double db = depthDb / 2.0 * (1.0 - std::cos(2.0 * std::numbers::pi * t / 7.0));
        const double x = clean[n] * std::pow(10.0, -db / 20.0) + sigma * gauss(random);
        out[n] = static_cast<std::int16_t>(std::clamp(std::lround(x), -32768L, 32767L));
    }
    return out;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}

struct Decoded {
    ReceiverControls controls;
    std::string text;
    double cer = 0.0;
};

// The tool's default path: presets from a look at the recording, then one decode.
// `squelch`: as dahlo-decode prints it, words judged by their marks' tone.
Decoded DecodeWithPresets(std::vector<std::int16_t> samples, const std::string& sent,
                          bool squelch = false) {
    MemorySource source(std::move(samples));
    Decoded d;
    PresetControls(source, PresetRequest{}, d.controls);
    source.Rewind();
    StringSink sink;
    DecodeHost host(sink, OutputFormat{});
    if (squelch) host.EnableSquelch();
    DecodeSource(source, d.controls, host);
    host.Finish();
    d.text = Trimmed(sink.text);
    d.cer = static_cast<double>(EditDistance(sent, d.text)) / static_cast<double>(sent.size());
    return d;
}

TEST(MorseTextScoreTest, WordsCountAndNoiseLettersCostTwice) {
    EXPECT_EQ(MorseTextScore(""), 0.0);
    EXPECT_EQ(MorseTextScore("  \n "), 0.0);
    EXPECT_EQ(MorseTextScore("cq de dl1abc"), 10.0);
    // Words of nothing but e, t, i, a, n, m are what noise keys.
    EXPECT_EQ(MorseTextScore("e t tee"), -10.0);
    EXPECT_EQ(MorseTextScore("tnx e"), 1.0);
    // An undecodable form is one character of a junk word, blanks inside and all.
    EXPECT_EQ(MorseTextScore("ab{ . - - . }"), -6.0);
    EXPECT_EQ(MorseTextScore("de #"), 0.0);
    // An unclosed form runs to the end of the text.
    EXPECT_EQ(MorseTextScore("qth { . -"), 1.0);
    // Characters, not bytes: two Cyrillic letters in UTF-8.
    EXPECT_EQ(MorseTextScore("\xD0\xB4\xD0\xB0"), 2.0);
    // Real text beats noise of the same length, and silence beats noise.
    EXPECT_GT(MorseTextScore(kQso), MorseTextScore("e t e ttt ee t eie t e tt a e t n t e"));
    EXPECT_GT(MorseTextScore(""), MorseTextScore("e t"));
}

TEST(SurveyEnvelopeTest, MarkSpreadTellsFadingFromSteady) {
    for (const double snr : {0.0, 10.0, 100.0}) {
        SCOPED_TRACE(snr);
        MemorySource steady(Recording(kQso, 22.0, 0.0, snr));
        const EnvelopeSurvey calm = SurveyEnvelope(steady, kNarrow, 130);
        EXPECT_LT(calm.markSpread, 1.08);
        MemorySource fading(Recording(kQso, 22.0, 12.0, snr));
        const EnvelopeSurvey faded = SurveyEnvelope(fading, kNarrow, 130);
        EXPECT_GT(faded.markSpread, kFadingSpread);
        // The levels are those EstimateLevels gives.
        const auto levels = EstimateLevels(fading, kNarrow, 130);
        for (std::size_t j = 0; j < levels.size(); ++j) {
            EXPECT_EQ(levels[j].mark, faded.levels[j].mark);
            EXPECT_EQ(levels[j].noise, faded.levels[j].noise);
        }
    }
    // Under three segments there is nothing to compare.
    MemorySource shortOne(Recording("cq", 20.0, 12.0, 100.0));
    EXPECT_EQ(SurveyEnvelope(shortOne, kNarrow, 130).markSpread, 1.0);
}

TEST(FadingPresetsTest, FadingRecordingAtTenDbPicksTheLevelFollowingThreshold) {
    // 36 WPM, fading by 12 dB, +10 dB SNR: the fixed threshold from the levels cuts letters in
    // the fades (CER 0.38); the receiver's automatic threshold follows them (CER 0.04).
    const std::vector<std::int16_t> samples = Recording(kQso, 36.0, 12.0, 10.0, 2);
    const Decoded d = DecodeWithPresets(samples, kQso);
    EXPECT_TRUE(d.controls.autoThreshold);
    EXPECT_LE(d.cer, 0.06) << d.text;

    ReceiverControls fixed = d.controls;
    fixed.autoThreshold = false;
    MemorySource source(samples);
    StringSink sink;
    DecodeHost host(sink, OutputFormat{});
    DecodeSource(source, fixed, host);
    host.Finish();
    const std::string text = Trimmed(sink.text);
    EXPECT_GT(static_cast<double>(EditDistance(kQso, text)) / std::string(kQso).size(), 0.2)
        << text;
    EXPECT_LT(MorseTextScore(text), MorseTextScore(d.text));
}

TEST(FadingPresetsTest, NoiseInDeepFadesIsNotKeyedIntoLetters) {
    // At -6 dB the faded stretches are below the noise: no preset reads them, and the chosen one
    // keeps them quiet instead of writing a stream of e and t (CER 3 before). It is never one
    // above every peak of the envelope, which would print nothing at all.
    const std::vector<std::int16_t> samples = Recording(kQso, 22.0, 12.0, -6.0);
    const Decoded d = DecodeWithPresets(samples, kQso, true);
    EXPECT_LE(d.cer, 1.0) << d.text;
    EXPECT_LT(d.text.size(), std::string(kQso).size()) << d.text;
}

TEST(FadingPresetsTest, AFadedWeakSignalPrintsItsTextNotNothing) {
    // At -4 dB with 8 dB of fading every trial's text is noisy; the highest threshold, above
    // every peak of the envelope, printed nothing and won on that.
    const std::string text =
        "cq cq de oh2rx oh2rx k = ur rst 579 579 = name is tina = qth helsinki = hw cpy? oh2rx de "
        "dl1abc k";
    test::MorseSynthOptions o;
    o.wpm = 28.0;
    o.signal.pitch_hz = 800.0;
    o.snr_db = -4.0;
    o.qsb_depth_db = 8.0;
    o.seed = 2;
    const Decoded d = DecodeWithPresets(test::SynthesizeMorse(text, o), text, true);
    EXPECT_LT(d.cer, 0.8) << d.text;
}

TEST(FadingPresetsTest, SteadyRecordingsKeepTheFixedThreshold) {
    for (const double snr : {0.0, 100.0}) {
        SCOPED_TRACE(snr);
        const Decoded d = DecodeWithPresets(Recording(kQso, 22.0, 0.0, snr), kQso);
        EXPECT_FALSE(d.controls.autoThreshold);
        EXPECT_LE(d.cer, 0.02) << d.text;
    }
}

TEST(FadingPresetsTest, TrialScoreLooksAtTheFirstMinuteOnly) {
    // A minute of silence, then clear Morse: the trial sees none of it.
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kTrialSamples), 0);
    const std::vector<std::int16_t> morse = Recording(kQso, 22.0, 0.0, 100.0);
    samples.insert(samples.end(), morse.begin(), morse.end());
    MemorySource early(morse);
    ReceiverControls controls;
    PresetControls(early, PresetRequest{}, controls);
    EXPECT_GT(TrialScore(early, controls), 20.0);
    MemorySource late(samples);
    EXPECT_EQ(TrialScore(late, controls), 0.0);
}

TEST(WordSquelchTest, TextStaysNoiseAroundItGoes) {
    WordSquelch squelch;
    std::string kept;
    std::int64_t squelched = 0;
    squelch.decided = [&](const WordSquelch::Word& w, bool keep) {
        if (keep) {
            kept += w.bytes;
        } else {
            squelched += w.characters;
        }
    };
    std::int64_t t = 0;
    auto add = [&](const std::string& word, bool out = false) {
        t += 8000;
        squelch.Add(word + " ", static_cast<int>(word.size()), word, t, out);
    };
    for (const char* w : {"e", "ts", "t", "ee", "t"}) add(w);  // noise keyed before the text
    // Text, its first and last words next to noise, a junk-looking word inside it.
    for (const char* w : {"cq", "de", "dl1abc", "name", "hans", "qth", "berlin", "k"}) add(w);
    for (const char* w : {"e", "ie", "t", "e", "tt"}) add(w);  // noise after it
    add("r", true);  // plausible, but where the signal is not
    squelch.Finish();
    EXPECT_EQ(kept, "cq de dl1abc name hans qth berlin k ");
    EXPECT_EQ(squelched, 7 + 7 + 1);  // the characters of the noise and of "r"
}

TEST(WordSquelchTest, AGarbledWordInsideTextStaysAnUndecodableOneGoes) {
    WordSquelch squelch;
    std::string kept;
    squelch.decided = [&](const WordSquelch::Word& w, bool keep) {
        if (keep) kept += w.bytes;
    };
    std::int64_t t = 0;
    for (const char* w : {"=", "gm", "om", "eie", "tnx", "fer", "nice", "e#e", "qso", "73"}) {
        t += 8000;
        const std::string word = w;
        squelch.Add(word + " ", static_cast<int>(word.size()), word, t);
    }
    squelch.Finish();
    // "es" came out as "eie": only short letters, but text on both sides. "e#e" holds a form no
    // letter has, with as much text around it.
    EXPECT_EQ(kept, "= gm om eie tnx fer nice qso 73 ");
}

TEST(WordSquelchTest, WordsWaitForThreeMoreWordsOrAPause) {
    WordSquelch squelch;
    std::vector<std::string> decided;
    squelch.decided = [&](const WordSquelch::Word& w, bool) { decided.push_back(w.bytes); };
    squelch.Add("cq ", 2, "cq", 1000);
    squelch.Add("de ", 2, "de", 30000);
    squelch.Add("k ", 1, "k", 60000);
    squelch.Activity(80000);  // a long word is on its way: all wait
    squelch.Advance(60001 + kSquelchWaitSamples);
    EXPECT_TRUE(decided.empty());
    squelch.Add("73 ", 2, "73", 90000);
    EXPECT_EQ(decided, std::vector<std::string>{"cq "});
    squelch.Advance(90000 + kSquelchWaitSamples);
    EXPECT_EQ(decided.size(), 1u);
    squelch.Advance(90001 + kSquelchWaitSamples);  // a pause after "73": everything is out
    EXPECT_EQ(decided, (std::vector<std::string>{"cq ", "de ", "k ", "73 "}));
    EXPECT_FALSE(squelch.Holding());
    squelch.Add("e ", 1, "e", 200000);
    EXPECT_TRUE(squelch.Holding());
    squelch.Finish();
    EXPECT_FALSE(squelch.Holding());
    EXPECT_EQ(decided.size(), 5u);
}

// Gaps of `dots` (each `count` times) into a histogram.
GapHistogram Gaps(std::initializer_list<std::pair<double, int>> groups) {
    GapHistogram h;
    for (const auto& [dots, count] : groups) {
        for (int i = 0; i < count; ++i) h.Add(dots * (1.0 + 0.02 * ((i % 5) - 2)));
    }
    return h;
}

TEST(GapHistogramTest, WordSpaceMovesOnlyWhereFiveDotsMissortTheGaps) {
    // Standard spacing, measured a little short as the envelope lengthens marks: 5 dots sort
    // it; so does it with pauses between overs.
    EXPECT_EQ(Gaps({{1.0, 60}, {2.8, 40}, {6.4, 12}}).WordSpaceTenths(), 0);
    EXPECT_EQ(Gaps({{2.8, 40}, {6.4, 12}, {40.0, 6}}).WordSpaceTenths(), 0);
    // Farnsworth 20/10: letters 11 dots apart, words 25.
    const int farnsworth = Gaps({{10.9, 40}, {25.4, 12}}).WordSpaceTenths();
    EXPECT_GT(farnsworth, 130);
    EXPECT_LT(farnsworth, 200);
    // Hand keying: word gaps spread down towards 4.5 dots.
    GapHistogram hand;
    for (int i = 0; i < 40; ++i) hand.Add(2.4 + 0.02 * (i % 10));
    for (int i = 0; i < 12; ++i) hand.Add(4.4 + 0.15 * i);
    const int handSpace = hand.WordSpaceTenths();
    EXPECT_GT(handSpace, 30);
    EXPECT_LT(handSpace, 44);
    // A decode whose marks come out 80 samples longer than the measuring pass's (dot 700)
    // sees every gap shorter, and the word space with them.
    EXPECT_LT(hand.WordSpaceTenths(700.0, 80.0), handSpace);
    // One group, or too few gaps: nothing to learn.
    EXPECT_EQ(Gaps({{3.0, 50}}).WordSpaceTenths(), 0);
    EXPECT_EQ(Gaps({{10.9, 6}, {25.4, 3}}).WordSpaceTenths(), 0);
}

TEST(ChannelHooksTest, WordSpaceAtTheLearnedNumberOfDots) {
    // Three marks of 300 samples at the centre, 2400 and 6000 samples apart, then 12000 of
    // silence: gaps of about 6 and 15 of the decoder's dots (a mark comes out near 400 samples).
    std::vector<std::int16_t> samples;
    auto tone = [&](int n) {
        for (int i = 0; i < n; ++i) {
            const double t = static_cast<double>(samples.size()) / kSampleRateHz;
            samples.push_back(static_cast<std::int16_t>(
                8000.0 * std::sin(2.0 * std::numbers::pi * kDefaultCentreBin * kHzPerBin * t)));
        }
    };
    auto quiet = [&](int n) { samples.insert(samples.end(), static_cast<std::size_t>(n), 0); };
    tone(300), quiet(2400), tone(300), quiet(6000), tone(300), quiet(12000);
    struct Sink : ChannelEventSink {
        void OnChannelEvent(const ChannelEvent& e) override {
            if (e.kind == ChannelEvent::kCharacter) text += 'e';
            if (e.kind == ChannelEvent::kWordSpace) text += ' ';
        }
        std::string text;
    };
    auto run = [&](int tenths) {
        Channel channel;
        channel.wordSpaceTenths = tenths;
        channel.ApplyIntegrationLength(20);
        channel.DetectorThreshold = 0.05;
        channel.decoder.WarmStart(300);
        Sink sink;
        channel.Process(samples.data(), static_cast<int>(samples.size()), 0, sink);
        return sink.text;
    };
    EXPECT_EQ(run(0), "e e e ");   // the decoder's own 5 dots: both gaps end words
    EXPECT_EQ(run(110), "ee e ");  // 11 dots: only the longer gap
    EXPECT_EQ(run(250), "eee ");   // 25 dots: only the silence at the end
}

TEST(ChannelHooksTest, AfcNeedsAToneAboveTheNoise) {
    SpectrumState spectrum;
    // Noise only: every bin about alike.
    for (int k = kFirstBin; k <= kLastBin; ++k) {
        spectrum.SmoothedMagnitude[k] = 1.0 + 0.3 * ((k * 7919) % 11) / 10.0;
    }
    spectrum.SmoothedMagnitude[132] = 1.9;  // the strongest noise bin near the centre
    Channel channel;
    channel.SetCentreBin(130);
    channel.lastRawKeyDown = 1;  // noise over the threshold at the block start
    struct Retunes : ChannelEventSink {
        void OnChannelEvent(const ChannelEvent&) override { ++count; }
        int count = 0;
    } retunes;
    channel.afcNeedsTone = true;
    EXPECT_FALSE(channel.ToneAtCentre(spectrum));
    channel.SteerAtBlockStart(spectrum, 0, retunes);
    EXPECT_EQ(channel.CentreBin, 130);
    // The window's AFC walks towards it.
    channel.afcNeedsTone = false;
    channel.SteerAtBlockStart(spectrum, 0, retunes);
    EXPECT_EQ(channel.CentreBin, 132);
    // A tone twice the median beside the centre: AFC follows it.
    channel.afcNeedsTone = true;
    channel.SetCentreBin(130);
    spectrum.SmoothedMagnitude[131] = 2.5;
    EXPECT_TRUE(channel.ToneAtCentre(spectrum));
    channel.SteerAtBlockStart(spectrum, 0, retunes);
    EXPECT_EQ(channel.CentreBin, 131);
    EXPECT_EQ(retunes.count, 2);
}

// Unnamed files of this process's descriptors that live in `dir`.
int SpoolFilesIn(const fs::path& dir) {
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (ec) continue;
        const std::string t = target.string();
        if (t.rfind(dir.string() + "/", 0) == 0 && t.find("(deleted)") != std::string::npos) {
            ++found;
        }
    }
    return found;
}

class SpoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("dahlo-spool-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_ / "tmp");
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) oldTmp_ = old;
        ::setenv("TMPDIR", (dir_ / "tmp").c_str(), 1);
    }
    void TearDown() override {
        if (oldTmp_.empty()) {
            ::unsetenv("TMPDIR");
        } else {
            ::setenv("TMPDIR", oldTmp_.c_str(), 1);
        }
        fs::remove_all(dir_);
    }
    std::string Write(const std::string& name, const std::vector<std::int16_t>& samples, int rate,
                      int channels) {
        const std::string path = (dir_ / name).string();
        std::string error;
        EXPECT_TRUE(testaudio::WriteAudioFile(path, samples, rate, channels, error)) << error;
        return path;
    }
    static std::vector<std::int16_t> ReadPass(SampleSource& source) {
        std::vector<std::int16_t> all;
        std::vector<std::int16_t> chunk(3000);
        while (const std::size_t got = source.Read(chunk.data(), chunk.size())) {
            all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        }
        return all;
    }
    fs::path dir_;
    std::string oldTmp_;
};

TEST_F(SpoolTest, ResampledFileIsConvertedOnceAndReplayedExactly) {
    const std::string path =
        Write("stereo48k.wav", Recording("cq de dl1abc k", 25.0, 0.0, 10.0), 48000, 2);
    {
        auto source = OpenAudioFile(path);
        const std::vector<std::int16_t> first = ReadPass(*source);
        ASSERT_FALSE(first.empty());
        EXPECT_NEAR(static_cast<double>(first.size()), static_cast<double>(source->Length()), 4);
        ASSERT_TRUE(source->Rewind());
        EXPECT_EQ(SpoolFilesIn(dir_ / "tmp"), 1);
        EXPECT_EQ(ReadPass(*source), first);
        // A pass cut short, then a rewind: still the same samples from the start.
        std::vector<std::int16_t> some(1000);
        ASSERT_TRUE(source->Rewind());
        ASSERT_EQ(source->Read(some.data(), some.size()), some.size());
        EXPECT_TRUE(std::equal(some.begin(), some.end(), first.begin()));
        ASSERT_TRUE(source->Rewind());
        EXPECT_EQ(ReadPass(*source), first);
    }
    // Gone with the source, and never a name in the directory.
    EXPECT_EQ(SpoolFilesIn(dir_ / "tmp"), 0);
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

TEST_F(SpoolTest, FirstPassCutShortIsCompletedAtRewind) {
    const std::string path = Write("mono22k.flac", Recording("test", 25.0, 0.0, 10.0), 22050, 1);
    auto reference = OpenAudioFile(path);
    const std::vector<std::int16_t> all = ReadPass(*reference);
    auto source = OpenAudioFile(path);
    std::vector<std::int16_t> head(2500);
    ASSERT_EQ(source->Read(head.data(), head.size()), head.size());
    ASSERT_TRUE(source->Rewind());
    EXPECT_EQ(ReadPass(*source), all);
    ASSERT_TRUE(source->Rewind());
    EXPECT_EQ(ReadPass(*source), all);
}

TEST_F(SpoolTest, UnwritableTemporaryDirectoryFallsBackToConvertingAgain) {
    ::setenv("TMPDIR", (dir_ / "missing").c_str(), 1);
    const std::string path = Write("stereo8k.wav", Recording("k", 25.0, 0.0, 100.0), 8000, 2);
    auto source = OpenAudioFile(path);
    const std::vector<std::int16_t> first = ReadPass(*source);
    ASSERT_TRUE(source->Rewind());
    EXPECT_EQ(ReadPass(*source), first);
}

TEST_F(SpoolTest, FileAtTheDecodingRateIsReadDirectlyWithoutSpool) {
    const std::vector<std::int16_t> samples = Recording("k", 25.0, 0.0, 10.0);
    const std::string path = Write("mono11k.wav", samples, kSampleRateHz, 1);
    auto source = OpenAudioFile(path);
    EXPECT_EQ(ReadPass(*source), samples);
    ASSERT_TRUE(source->Rewind());
    EXPECT_EQ(SpoolFilesIn(dir_ / "tmp"), 0);
    EXPECT_EQ(ReadPass(*source), samples);
}

}  // namespace
}  // namespace dahlo
