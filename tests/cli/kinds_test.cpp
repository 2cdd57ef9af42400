// dahlo-decode with no options on the kinds of recording that need more than one set of presets
// for the whole file: speed steps, hand keying, long gaps, weak signals in long noise, noise after
// the signal, pauses, and streams that cannot be looked at beforehand.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/recording_kinds.h"
#include "support/morse_synth.h"
#include "support/text_compare.h"
#include "cli/decode_main.h"
#include "decode/decode_session.h"
#include "decode/stream_presets.h"
#include "support/audio_files.h"

namespace dahlo {
namespace {

namespace fs = std::filesystem;
using test::RecordingKind;

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.pop_back();
    return s;
}

double Cer(const std::string& sent, const std::string& got) {
    return static_cast<double>(test::EditDistance(sent, got)) / static_cast<double>(sent.size());
}

// The tool with `extra` options on the recording, from a WAV file or raw on standard input.
std::string Decode(const std::vector<std::int16_t>& samples, bool stdinput,
                   std::vector<std::string> args = {}) {
    const fs::path dir =
        fs::temp_directory_path() / ("dahlo-kinds-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (stdinput) {
        testaudio::WriteRawToStream(in, samples);
        args.push_back("-");
    } else {
        const std::string path = (dir / "kind.wav").string();
        std::string error;
        EXPECT_TRUE(testaudio::WriteAudioFile(path, samples, 11025, 1, error)) << error;
        args.push_back(path);
    }
    DecodeStreams streams;
    streams.in = in;
    streams.out = out;
    streams.err = err;
    RunDecodeTool(args, streams);
    const std::string text = Trimmed(ReadAll(out));
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    fs::remove_all(dir);
    return text;
}

// Each listed variant of `kind` decodes with at most `bound` characters wrong per character sent.
void ExpectKindDecodes(RecordingKind kind, std::vector<int> variants, double bound,
                       bool stdinput = false) {
    for (const int v : variants) {
        SCOPED_TRACE(v);
        const test::KindRecording r = test::MakeKindRecording(kind, v);
        const std::string got = Decode(r.samples, stdinput);
        EXPECT_LE(Cer(r.sent, got), bound) << got;
    }
}

TEST(KindsTest, SpeedStepKeepsTheFastHalf) {
    // One burst speed for both halves merged every gap of the 30 WPM half (CER 0.5); the decoder
    // itself takes a character to follow the step.
    ExpectKindDecodes(RecordingKind::kSpeedStep, {0, 2}, 0.04);
}

TEST(KindsTest, HandKeyingKeepsItsWordSpaces) {
    // Marks come out a burst window longer and gaps as much shorter, so a word gap cut by jitter
    // fell under the decoder's 5 dots (CER 0.11 for the first).
    ExpectKindDecodes(RecordingKind::kHandKeyed, {0, 2}, 0.0);
}

TEST(KindsTest, FarnsworthAndLongLetterGapsKeepTheirWords) {
    // Every letter came out as a word of its own (CER 0.57).
    ExpectKindDecodes(RecordingKind::kFarnsworth, {1}, 0.0);
    ExpectKindDecodes(RecordingKind::kLongLetterGaps, {2}, 0.0);
}

TEST(KindsTest, WeakCallInLongNoiseIsFoundAndTheNoiseAroundIsQuiet) {
    // Presets from the whole recording read it as noise: a stream of e and t (CER 28).
    ExpectKindDecodes(RecordingKind::kWeakSignal, {0, 3}, 0.0);
}

TEST(KindsTest, NoiseAfterTheSignalPrintsNothing) {
    // 150 s of noise lifted by the AGC keyed about a thousand e and t (CER 75).
    ExpectKindDecodes(RecordingKind::kNoiseTail, {1}, 0.0);
}

TEST(KindsTest, StandardInputIsPresetFromItsFirstSeconds) {
    // The window's defaults (996 Hz, threshold 0.1) printed nothing at 800 Hz.
    ExpectKindDecodes(RecordingKind::kPlain800Hz, {0, 3}, 0.0, true);
}

TEST(KindsTest, AfcRestsInThePauseBetweenIdents) {
    // The automatic threshold sinks to the noise in the pause, noise keys the raw decision at
    // block starts, and AFC walked 22 Hz towards the receiver's filter: the centre at the first
    // character after the pause was not the one before it.
    const test::KindRecording r = test::MakeKindRecording(RecordingKind::kIdentPause, 0);
    const std::string events = Decode(r.samples, false, {"--events", "--threshold", "auto"});
    std::vector<std::string> freqs;
    for (std::size_t at = events.find("\"freq_hz\":"); at != std::string::npos;
         at = events.find("\"freq_hz\":", at + 1)) {
        freqs.push_back(events.substr(at + 10, events.find_first_of(",}", at) - at - 10));
    }
    ASSERT_GT(freqs.size(), 20u);
    for (const std::string& f : freqs) EXPECT_EQ(f, freqs.front());
}

TEST(KindsTest, NoiseInThePauseBetweenIdentsKeysNothing) {
    // Noise lifted by the AGC in the pause keyed marks 7 to 10 dB under the beacon's: one joined
    // the first letter after the pause ("4vv"), others dragged the decoder to twice the speed
    // ("ttttvv") or stood as a letter of their own ("ede").
    ExpectKindDecodes(RecordingKind::kIdentPause, {0, 2, 3}, 0.0);
}

TEST(KindsTest, AWeakerStationAnsweringIsNotTakenForNoise) {
    // The second station of a contact 9 dB under the first, a second after it: its marks stand
    // under half the first station's, but its tone stands out.
    test::MorseSynthOptions o;
    o.wpm = 22.0;
    o.signal.pitch_hz = 700.0;
    o.signal.level_dbfs = -12.0;
    o.snr_db = 30.0;
    o.trail_silence_s = 1.0;
    const std::string first = "cq test de ok1rr ok1rr";
    const std::string second = "dl2abc 5nn 14";
    std::vector<std::int16_t> samples = test::SynthesizeMorse(first, o);
    o.signal.level_dbfs = -21.0;
    o.snr_db = 21.0;  // the same noise
    o.seed = 2;
    o.lead_silence_s = 0.0;
    const std::vector<std::int16_t> answer = test::SynthesizeMorse(second, o);
    samples.insert(samples.end(), answer.begin(), answer.end());
    EXPECT_EQ(Decode(samples, false), first + " " + second);
}

TEST(LookAheadTest, StreamTextComesAFixedDelayAfterItsSamples) {
    std::vector<std::int16_t> samples =
        test::MakeKindRecording(RecordingKind::kPlain800Hz, 1).samples;
    const std::string sent = "r ok tnx fer call ur rst 579 579 name hans qth berlin";
    StringSink sink;
    DecodeHost host(sink, OutputFormat{});
    host.EnableSquelch();
    PresetRequest request;
    LookAheadDecode decode(request, ReceiverControls{}, host);
    // Fed a block at a time, as a pipe would: no text before a full look-ahead has come in, and
    // every character within the look-ahead and one replanning stretch of its own sample.
    std::size_t firstText = 0;
    for (std::size_t at = 0; at < samples.size(); at += kBlockSamples) {
        const std::size_t n = std::min<std::size_t>(kBlockSamples, samples.size() - at);
        decode.Push(samples.data() + at, n);
        if (firstText == 0 && !sink.text.empty()) firstText = at + n;
    }
    decode.Finish();
    host.Finish();
    EXPECT_EQ(Trimmed(sink.text), sent);
    EXPECT_GE(static_cast<std::int64_t>(firstText), kLookAheadSamples + kReplanSamples);
    // The squelch holds the first word until three more are in: "fer" ends 4.8 s in.
    EXPECT_LE(static_cast<std::int64_t>(firstText),
              5 * kSampleRateHz + kLookAheadSamples + kReplanSamples + kBlockSamples);
}

TEST(LookAheadTest, StreamFollowsASignalThatMoves) {
    // 800 Hz, then a louder signal at 850 Hz that steps from 15 to 30 WPM.
    test::KindRecording a = test::MakeKindRecording(RecordingKind::kPlain800Hz, 0);
    test::KindRecording b = test::MakeKindRecording(RecordingKind::kSpeedStep, 2);  // 850 Hz
    std::vector<std::int16_t> samples = a.samples;
    samples.insert(samples.end(), b.samples.begin(), b.samples.end());
    const std::string got = Decode(samples, true);
    EXPECT_LE(Cer(a.sent + " " + b.sent, got), 0.05) << got;
}

}  // namespace
}  // namespace dahlo
