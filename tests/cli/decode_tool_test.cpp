// dahlo-decode end to end: synthesized recordings through the whole tool (files written with
// libsndfile, raw streams, options, errors), and its pieces (presets, charset conversion).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "morse/cp1251.h"
#include "receiver/block_pump.h"
#include "settings/settings.h"
#include "support/morse_synth.h"
#include "support/quiet_host.h"
#include "cli/decode_main.h"
#include "cli/decode_options.h"
#include "decode/presets.h"
#include "support/audio_files.h"

namespace dahlo {
namespace {

namespace fs = std::filesystem;
using test::MorseSynthOptions;

constexpr const char* kText = "cq de dl1abc k";

std::vector<std::int16_t> Synth(const std::string& text, double wpm, double pitch, double level,
                                std::optional<double> snr = std::nullopt) {
    MorseSynthOptions o;
    o.wpm = wpm;
    o.signal.pitch_hz = pitch;
    o.signal.level_dbfs = level;
    o.snr_db = snr;
    return test::SynthesizeMorse(text, o);
}

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

struct ToolResult {
    int status;
    std::string out;
    std::string err;
};

ToolResult RunTool(const std::vector<std::string>& args, std::FILE* in = nullptr) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    DecodeStreams streams;
    streams.in = in != nullptr ? in : stdin;
    streams.out = out;
    streams.err = err;
    const int status = RunDecodeTool(args, streams);
    ToolResult r{status, ReadAll(out), ReadAll(err)};
    std::fclose(out);
    std::fclose(err);
    return r;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.pop_back();
    return s;
}

class DecodeToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("dahlo-decode-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<std::int16_t>& samples,
                      int rate = 11025, int channels = 1) {
        const std::string path = (dir_ / name).string();
        std::string error;
        EXPECT_TRUE(testaudio::WriteAudioFile(path, samples, rate, channels, error)) << error;
        return path;
    }
    std::string WriteBytes(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    fs::path dir_;
};

// The text the window shows for these samples with its defaults: every block through the loop,
// a last partial block padded with zeros as dahlo-decode does.
std::string WindowText(std::vector<std::int16_t> samples,
                       const std::function<void(Channel&)>& setUp = nullptr) {
    struct Collector : test::QuietHost {
        void AppendDecodedText(std::uint32_t, std::string_view t) override { text.append(t); }
        std::string text;
    } host;
    auto ring = std::make_unique<CaptureRing>();
    auto receiver = std::make_unique<BlockPump>(*ring, host);
    if (setUp) setUp(receiver->Main());
    samples.resize((samples.size() + kBlockSamples - 1) / kBlockSamples * kBlockSamples, 0);
    for (std::size_t i = 0; i < samples.size(); i += kBlockSamples) {
        receiver->ProcessBlock(samples.data() + i);
    }
    return host.text;
}

// --- Default path: one clear signal, no options ------------------------------------------------

TEST_F(DecodeToolTest, DecodesEveryPitchExactlyFromTheFirstCharacter) {
    for (const double pitch : {400.0, 700.0, 996.0, 1500.0}) {
        const auto r = RunTool({Write("p.wav", Synth(kText, 20, pitch, -20))});
        EXPECT_EQ(r.status, 0) << pitch;
        EXPECT_EQ(Trimmed(r.out), kText) << "pitch " << pitch;
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(DecodeToolTest, DecodesEverySpeedAndLevel) {
    for (const double wpm : {10.0, 20.0, 30.0, 40.0}) {
        const auto r = RunTool({Write("s.wav", Synth(kText, wpm, 700, -20))});
        EXPECT_EQ(Trimmed(r.out), kText) << "wpm " << wpm;
    }
    for (const double level : {-6.0, -20.0, -30.0, -40.0}) {
        const auto r = RunTool({Write("l.wav", Synth(kText, 25, 850, level))});
        EXPECT_EQ(Trimmed(r.out), kText) << "level " << level;
    }
}

TEST_F(DecodeToolTest, DecodesANoisyRecordingAtTenDecibels) {
    const auto r = RunTool({Write("n.wav", Synth("test de ok2xyz 599 tu", 22, 650, -20, 10.0))});
    EXPECT_EQ(Trimmed(r.out), "test de ok2xyz 599 tu");
}

// Words of the one- and two-element letters look like noise to the letters; their marks show
// the tone, and that decides.
TEST_F(DecodeToolTest, WordsOfShortLettersArePrintedWhenTheirMarksShowTheTone) {
    const std::string text = "hi anna = name is tina = team meet at ten am = time to eat = 73 es gn";
    for (const std::optional<double> snr : {std::optional<double>{}, std::optional<double>{10.0}}) {
        const auto r = RunTool({Write("w.wav", Synth(text, 24, 750, -20, snr))});
        EXPECT_EQ(Trimmed(r.out), text) << (snr ? "+10 dB" : "clean");
    }
}

TEST_F(DecodeToolTest, ReadsOtherRatesStereoAndFlac) {
    const auto samples = Synth(kText, 20, 700, -20);
    const std::vector<std::string> files = {
        Write("r8000.wav", samples, 8000),         Write("r44100.wav", samples, 44100),
        Write("r48000.wav", samples, 48000),       Write("stereo.wav", samples, 11025, 2),
        Write("stereo48.flac", samples, 48000, 2), Write("mono.flac", samples)};
    for (const auto& f : files) {
        const auto r = RunTool({f});
        EXPECT_EQ(r.status, 0) << f << ": " << r.err;
        EXPECT_EQ(Trimmed(r.out), kText) << f;
    }
}

TEST_F(DecodeToolTest, AFileAt11025HzReachesTheLoopSampleForSample) {
    // A 16-bit mono file at the loop's own rate must give exactly the window's text.
    auto samples = Synth("73 es gl", 18, 996, -12);
    const auto r = RunTool({"--cold-start", Write("x.flac", samples)});
    EXPECT_EQ(r.out, WindowText(samples) + "\n");
}

// --- The window's path --------------------------------------------------------------------------

TEST_F(DecodeToolTest, StdinAndColdStartGiveTheWindowsText) {
    // 996 Hz is the window's default bin; the odd length leaves a partial last block.
    auto samples = Synth("cq cq de f5zz ar", 20, 996, -14, 15.0);
    samples.resize(samples.size() + 777, 0);
    const std::string expected = WindowText(samples) + "\n";
    ASSERT_GT(expected.size(), 10u);

    std::FILE* in = std::tmpfile();
    testaudio::WriteRawToStream(in, samples);
    const auto fromStdin = RunTool({"--cold-start", "-"}, in);
    std::fclose(in);
    EXPECT_EQ(fromStdin.status, 0);
    EXPECT_EQ(fromStdin.out, expected);

    const auto cold = RunTool({"--cold-start", Write("c.wav", samples)});
    EXPECT_EQ(cold.out, expected);
}

TEST_F(DecodeToolTest, ColdStartShowsTheStartUpHashLikeTheWindow) {
    // Silence only: the window's decoder hands out its empty code word after 6500 samples.
    const std::vector<std::int16_t> silence(30000, 0);
    const auto r = RunTool({"--cold-start", Write("quiet.wav", silence)});
    EXPECT_EQ(r.out, WindowText(silence) + "\n");
    EXPECT_EQ(r.out.substr(0, 1), "#");
}

// --- Options
// --------------------------------------------------------------------------------------

TEST_F(DecodeToolTest, PitchOptionPicksTheWeakerOfTwoSignals) {
    MorseSynthOptions o;
    o.wpm = 20;
    o.signal = {700.0, -14.0, 0.0, 0.0};
    test::Interferer other;
    other.text = "test test test test test";
    other.wpm = 20;
    other.signal = {1100.0, -26.0, 0.0, 0.0};
    o.interferer = other;
    const std::string file = Write("two.wav", test::SynthesizeMorse("paris paris", o));
    EXPECT_EQ(Trimmed(RunTool({file}).out), "paris paris");
    EXPECT_EQ(Trimmed(RunTool({"--pitch", "1100", "--afc=off", file}).out).substr(0, 9),
              "test test");
}

TEST_F(DecodeToolTest, RussianCharsetInUtf8AndCp1251) {
    const std::string file = Write("ru.wav", Synth("ate", 20, 700, -20));
    // .- -  . in the Russian table: "а", "т", "е".
    EXPECT_EQ(Trimmed(RunTool({"--charset", "russian", file}).out), "\xD0\xB0\xD1\x82\xD0\xB5");
    EXPECT_EQ(Trimmed(RunTool({"--charset=russian", "--encoding", "cp1251", file}).out),
              "\xE0\xF2\xE5");
}

TEST_F(DecodeToolTest, UserCharsetFileAndSettingsFile) {
    const std::string file = Write("u.wav", Synth("ab", 20, 996, -14));
    const std::string charset = WriteBytes("my.dlo", "# test\n.- X\n-... Y\n");
    EXPECT_EQ(Trimmed(RunTool({"--charset", charset, file}).out), "XY");

    // A settings file tunes the cold start as the window's first activation would.
    const auto samples = Synth("ab", 20, 700, -20);
    Settings settings;
    settings.centreBin = 130;  // 700 Hz
    settings.threshold = 0.03;
    settings.cwFilterTreshold = 117;
    settings.afc = false;
    const std::string ini = (dir_ / "DAHLO.INI").string();
    std::string error;
    ASSERT_TRUE(SaveSettings(ini, settings, error)) << error;
    const std::string expected = WindowText(samples, [](Channel& r) {
        r.afcOn = false;
        r.SetCentreBin(130);
        r.DetectorThreshold = 0.03;
        r.ApplyIntegrationLength(117);
    });
    EXPECT_NE(expected, WindowText(samples));  // the settings matter here
    const auto r = RunTool({"--settings", ini, "--cold-start", Write("s.wav", samples)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected + "\n");
}

TEST_F(DecodeToolTest, EventsCarryTimeFrequencyAndSpeed) {
    const auto samples = Synth("paris paris", 20, 700, -20);
    const auto r = RunTool({"--events", Write("e.wav", samples)});
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < r.out.size();) {
        const auto nl = r.out.find('\n', at);
        lines.push_back(r.out.substr(at, nl - at));
        at = nl + 1;
    }
    ASSERT_GE(lines.size(), 11u);
    EXPECT_NE(lines[0].find("\"type\":\"char\",\"text\":\"p\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[5].find("\"type\":\"space\""), std::string::npos) << lines[5];
    // 700 Hz is bin 130: 699.8 Hz.
    EXPECT_NE(lines[0].find("\"freq_hz\":699.8"), std::string::npos);
    // The speed is shown at the fifth character.
    EXPECT_EQ(lines[3].find("wpm"), std::string::npos);
    EXPECT_NE(lines[4].find("\"wpm\":"), std::string::npos) << lines[4];
    // "p" (.--.) ends 0.5 s + 11 dots + about 1.8 dots of silence later; a dot is 60 ms.
    double t = 0;
    ASSERT_EQ(std::sscanf(lines[0].c_str(), "{\"t\":%lf", &t), 1);
    EXPECT_NEAR(t, 0.5 + 12.8 * 0.06, 0.06);
}

// Live, blocks pile up while the loop is busy and nothing is repainted until they are worked
// off; the event times still count every sample, exactly as for a file read block by block.
TEST_F(DecodeToolTest, EventTimesStayExactWhileBlocksWait) {
    std::vector<std::int16_t> samples = Synth("cq de k1abc test", 24, 996, -10);
    samples.resize((samples.size() / kBlockSamples + 1) * kBlockSamples, 0);
    ReceiverControls controls;  // the window's defaults, as --live starts

    StringSink reference;
    DecodeHost referenceHost(reference, OutputFormat{TextEncoding::kUtf8, true});
    MemorySource source(samples);
    DecodeSource(source, controls, referenceHost);
    referenceHost.Finish();
    ASSERT_NE(reference.text.find("\"text\":\"k\""), std::string::npos) << reference.text;

    struct AcceptingInput final : SoundInput {
        int GetNumDevs() override { return 1; }
        int Open(SoundInputCallback, std::uintptr_t) override { return kMmNoError; }
        int PrepareHeader(WaveHeader&) override { return kMmNoError; }
        int UnprepareHeader(WaveHeader&) override { return kMmNoError; }
        int AddBuffer(WaveHeader&) override { return kMmNoError; }
        int Start() override { return kMmNoError; }
        int Stop() override { return kMmNoError; }
        int Reset() override { return kMmNoError; }
        int Close() override { return kMmNoError; }
    } input;
    auto ring = std::make_unique<CaptureRing>();
    ring->device = &input;
    StringSink live;
    DecodeHost liveHost(live, OutputFormat{TextEncoding::kUtf8, true});
    BlockPump pump(*ring, liveHost);
    ApplyControls(controls, pump);
    for (std::size_t at = 0; at < samples.size();) {
        int filled = 0;
        for (; filled < 5 && at < samples.size(); ++filled, at += kBlockSamples) {
            const int index = (ring->HeadIndex + filled) % kBufferCount;
            std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), kBlockSamples,
                        ring->Block(index));
        }
        ring->WaitingBlocks += filled;
        pump.ProcessWaitingBlocks();
    }
    liveHost.Finish();
    EXPECT_EQ(live.text, reference.text);
}

// --- Errors ------------------------------------------------------------------------------------

void ExpectOneLineError(const ToolResult& r, const std::string& mentions) {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
}

TEST_F(DecodeToolTest, BadInputsFailWithOneLine) {
    const auto samples = Synth(kText, 20, 700, -20);
    const std::string wav = Write("good.wav", samples);
    std::string bytes;
    {
        std::ifstream f(wav, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), {});
    }
    std::string noise(5000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919) >> 3);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {(dir_ / "missing.wav").string(), "No such file"},
        {dir_.string(), "directory"},
        {WriteBytes("empty.wav", ""), "empty"},
        {WriteBytes("header.wav", bytes.substr(0, 44)), "no audio"},
        {WriteBytes("noise.wav", noise), "not a readable audio file"},
        {WriteBytes("notes.txt", "hello, this is text\n"), "not a readable audio file"},
    };
    for (const auto& [path, why] : cases) {
        SCOPED_TRACE(path);
        ExpectOneLineError(RunTool({path}), why);
        ExpectOneLineError(RunTool({"--cold-start", path}), fs::path(path).filename().string());
    }

    std::FILE* empty = std::tmpfile();
    ExpectOneLineError(RunTool({"-"}, empty), "no audio");
    std::fclose(empty);
}

TEST_F(DecodeToolTest, DamagedFilesGiveTheTextBeforeTheDamageThenOneLine) {
    const auto samples = Synth(kText, 20, 700, -20);
    auto bytesOf = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    // An MP3 whose last frame is garbage; a WAV and a FLAC cut after a third.
    std::string mp3 = bytesOf(Write("good.mp3", samples));
    ASSERT_GT(mp3.size(), 1000u);
    for (std::size_t i = mp3.size() - 300; i < mp3.size(); ++i) mp3[i] = static_cast<char>(i * 37);
    const std::string wav = bytesOf(Write("good.wav", samples));
    const std::string flac = bytesOf(Write("good.flac", samples));
    struct Case {
        std::string path;
        std::string text;  // what must come out: all of it, or a start of it
    };
    const std::vector<Case> cases = {
        {WriteBytes("bad.mp3", mp3), kText},
        {WriteBytes("cut.wav", wav.substr(0, wav.size() / 3)), "cq de"},
        {WriteBytes("cut.flac", flac.substr(0, flac.size() / 3)), "cq de"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto r = RunTool({c.path});
        EXPECT_EQ(r.status, kExitPartial);
        EXPECT_EQ(r.out.rfind(c.text, 0), 0u) << r.out;
        EXPECT_LT(Trimmed(r.out).size(), c.text == kText ? 100u : std::string(kText).size());
        // One line, naming the file and where it stopped, before the end of the recording.
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(r.err.find(fs::path(c.path).filename().string() + ": stopped at "),
                  std::string::npos)
            << r.err;
        // The window's text of what could be read, with the same status.
        EXPECT_EQ(RunTool({"--cold-start", c.path}).status, kExitPartial);
    }
    // Nothing was damaged: status 0 and no line.
    const auto good = RunTool({Write("whole.mp3", samples)});
    EXPECT_EQ(good.status, kExitOk);
    EXPECT_EQ(Trimmed(good.out), kText);
    EXPECT_EQ(good.err, "");
}

TEST_F(DecodeToolTest, AFlacWhoseHeaderLeavesOutItsLengthIsReadToItsEnd) {
    // An encoder writing to a pipe cannot go back to fill in the length: STREAMINFO's total
    // samples stay 0. It was taken as a file cut short ("stopped at 16.81 s of
    // 836587032821294.88 s", status 1).
    const std::string known = Write("known.flac", Synth(kText, 20, 700, -20));
    std::ifstream in(known, std::ios::binary);
    std::string flac(std::istreambuf_iterator<char>(in), {});
    ASSERT_EQ(flac.compare(0, 4, "fLaC"), 0);
    // The 36 bits of total samples end STREAMINFO's first 18 bytes (after the 8 of the markers).
    flac[21] = static_cast<char>(flac[21] & 0xF0);
    for (int i = 22; i < 26; ++i) flac[i] = 0;
    const std::string path = WriteBytes("unknown.flac", flac);
    // Read to the end as the same audio with its length given, by the default path and cold.
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"--cold-start"}}) {
        SCOPED_TRACE(options.size());
        std::vector<std::string> args = options;
        args.push_back(path);
        const auto r = RunTool(args);
        args.back() = known;
        EXPECT_EQ(r.status, kExitOk);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, RunTool(args).out);
    }
    EXPECT_EQ(Trimmed(RunTool({path}).out), kText);
}

TEST_F(DecodeToolTest, NothingPrintedSaysWhyOnStandardError) {
    const std::string file = Write("q.wav", Synth(kText, 20, 700, -20));
    const auto high = RunTool({"--threshold", "2", file});
    EXPECT_EQ(high.status, kExitOk);
    EXPECT_EQ(high.out, "");
    EXPECT_NE(high.err.find("never crossed the threshold 2 (its peak was 0.14"), std::string::npos)
        << high.err;
    const auto elsewhere = RunTool({"--pitch", "1500", "--threshold", "0.02", file});
    EXPECT_NE(elsewhere.err.find("at 1501.9 Hz never crossed"), std::string::npos) << elsewhere.err;
    // Below the noise floor of a silent file the key never comes up.
    const auto low =
        RunTool({"--threshold", "0.00001", Write("n.wav", Synth(kText, 20, 700, -20, 0.0))});
    EXPECT_NE(low.err.find("nearly all the time"), std::string::npos) << low.err;
    // Text on standard output: nothing to explain.
    EXPECT_EQ(RunTool({file}).err, "");
}

TEST_F(DecodeToolTest, VerboseGivesThePresetsAsOptionsThatReproduceThem) {
    const std::string file = Write("v.wav", Synth(kText, 20, 700, -20, 10.0));
    const auto r = RunTool({"-v", file});
    EXPECT_EQ(Trimmed(r.out), kText);
    const std::string prefix = "dahlo-decode: presets: ";
    ASSERT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find("--pitch 699.8 --width narrow --threshold 0.0"), std::string::npos);
    EXPECT_NE(r.err.find("--burst 200 (looked at the file; decoder started at a 6"),
              std::string::npos)
        << r.err;
    // The options as printed give the same text.
    std::vector<std::string> args;
    std::istringstream words(r.err.substr(prefix.size(), r.err.find(" (") - prefix.size()));
    for (std::string w; words >> w;) args.push_back(w);
    ASSERT_EQ(args.size(), 8u);
    args.push_back(file);
    EXPECT_EQ(Trimmed(RunTool(args).out), kText);
}

TEST_F(DecodeToolTest, BadOptionsFailWithOneLineNamingTheOption) {
    const std::string wav = Write("g.wav", Synth("e", 20, 700, -20));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--frobnicate", wav}, "--frobnicate"},
        {{"--pitch", "5000", wav}, "--pitch"},
        {{"--pitch", "abc", wav}, "--pitch"},
        {{"--burst", "250", wav}, "--burst"},
        {{"--threshold", "-1", wav}, "--threshold"},
        {{"--threshold", "loud", wav}, "--threshold"},
        {{"--width", "medium", wav}, "--width"},
        {{"--afc", "maybe", wav}, "--afc"},
        {{"--afc-speed", "100", wav}, "--afc-speed"},
        {{"--auto-gotomax", "1", wav}, "--auto-gotomax"},
        {{"--encoding", "latin1", wav}, "--encoding"},
        {{"--cold-start=yes", wav}, "--cold-start"},
        {{wav, "--pitch"}, "--pitch"},
        {{wav, wav}, "once"},
        {{}, "no input"},
        {{"--settings", (dir_ / "none.ini").string(), wav}, "--settings"},
        {{"--charset", (dir_ / "none.dlo").string(), wav}, "none.dlo"},
        {{"--charset", WriteBytes("empty.dlo", ""), wav}, "empty"},
    };
    for (const auto& [args, mentions] : cases) {
        SCOPED_TRACE(args.empty() ? std::string("(none)") : args[0]);
        ExpectOneLineError(RunTool(args), mentions);
    }
}

TEST(DecodeToolHelp, HelpAndVersionSucceed) {
    const auto help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--cold-start"), std::string::npos);
    const auto version = RunTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("dahlo-decode ", 0), 0u);
}

// --- Pieces --------------------------------------------------------------------------------------

TEST(DecodePresets, BurstSpeedForDotFollowsTheIntegrationLengths) {
    EXPECT_EQ(BurstSpeedForDot(5000), 100);
    EXPECT_EQ(BurstSpeedForDot(700), 100);  // 2 x 350
    EXPECT_EQ(BurstSpeedForDot(699), 200);
    EXPECT_EQ(BurstSpeedForDot(350), 200);  // 2 x 175
    EXPECT_EQ(BurstSpeedForDot(349), 300);
    EXPECT_EQ(BurstSpeedForDot(234), 300);  // 2 x 117
    EXPECT_EQ(BurstSpeedForDot(233), 500);
    EXPECT_EQ(BurstSpeedForDot(1), 500);
}

TEST(DecodePresets, ThresholdSitsBetweenNoiseAndMark) {
    EXPECT_DOUBLE_EQ(ThresholdFromLevels(0.001, 0.25, 0.1), 0.0791);   // sqrt(0.025 * 0.25)
    EXPECT_DOUBLE_EQ(ThresholdFromLevels(0.001, 0.25, 0.03), 0.0433);  // sqrt(0.0075 * 0.25)
    EXPECT_DOUBLE_EQ(ThresholdFromLevels(0.04, 0.25, 0.1), 0.1);       // noise above the floor
    EXPECT_DOUBLE_EQ(ThresholdFromLevels(0.0, 0.0, 0.1), 0.0001);      // never zero
    EXPECT_EQ(NoiseFloorForDot(300), 0.1);
    EXPECT_EQ(NoiseFloorForDot(600), 0.03);
}

TEST(DecodePresets, HistogramPercentilesAreWithinABin) {
    LevelHistogram h;
    for (int i = 1; i <= 1000; ++i) h.Add(i * 0.001);
    EXPECT_NEAR(h.Percentile(0.2), 0.2, 0.2 * 0.012);
    EXPECT_NEAR(h.Percentile(0.97), 0.97, 0.97 * 0.012);
    LevelHistogram silence;
    for (int i = 0; i < 10; ++i) silence.Add(0.0);
    EXPECT_EQ(silence.Percentile(0.97), 0.0);
}

TEST(DecodePresets, PitchIsFoundUnderTheStrongestRatio) {
    MemorySource source(Synth("paris paris paris", 20, 1234, -30, 10.0));
    EXPECT_NEAR(EstimatePitchBin(source, 185) * kHzPerBin, 1234, kHzPerBin);
    MemorySource silence(std::vector<std::int16_t>(20000, 0));
    EXPECT_EQ(EstimatePitchBin(silence, 185), 185);
}

TEST(DecodeOptionsTest, PitchGoesToTheNearestBin) {
    DecodeOptions o;
    ASSERT_FALSE(ParseDecodeOptions({"--pitch=700", "f.wav"}, o));
    EXPECT_EQ(o.centreBin, 130);
    EXPECT_EQ(PitchToBin(161.5), 30);
    EXPECT_EQ(PitchToBin(2422.5), 450);
    DecodeOptions edge;
    EXPECT_TRUE(ParseDecodeOptions({"--pitch", "150", "f.wav"}, edge));
}

TEST(Cp1251Test, TableMatchesWindows1251) {
    EXPECT_EQ(Cp1251ToUnicode('a'), u'a');
    EXPECT_EQ(Cp1251ToUnicode(0xC0), u'\u0410');
    EXPECT_EQ(Cp1251ToUnicode(0xFF), u'\u044F');
    EXPECT_EQ(Cp1251ToUnicode(0xA8), u'\u0401');
    EXPECT_EQ(Cp1251ToUnicode(0xB8), u'\u0451');
    EXPECT_EQ(Cp1251ToUnicode(0x88), u'\u20AC');
    EXPECT_EQ(Cp1251ToUnicode(0xB9), u'\u2116');
    EXPECT_EQ(Cp1251ToUnicode(0x98), u'\u0098');
    // Every assigned byte maps to a distinct character.
    std::vector<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98) continue;
        seen.push_back(Cp1251ToUnicode(static_cast<unsigned char>(b)));
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
    std::string utf8;
    AppendCp1251AsUtf8("\xE4\xE0 \x80", utf8);
    EXPECT_EQ(utf8, "\xD0\xB4\xD0\xB0 \xD0\x82");
    // The unassigned byte is shown as the replacement character.
    utf8.clear();
    AppendCp1251AsUtf8("\x98", utf8);
    EXPECT_EQ(utf8, "\xEF\xBF\xBD");
}

TEST(SampleSourceTest, FloatToSampleRoundsAndClips) {
    EXPECT_EQ(FloatToSample(0.0f), 0);
    EXPECT_EQ(FloatToSample(1.0f), 32767);
    EXPECT_EQ(FloatToSample(-1.0f), -32768);
    EXPECT_EQ(FloatToSample(-3.0f), -32768);
    EXPECT_EQ(FloatToSample(100.4f / 32768.0f), 100);
    EXPECT_EQ(FloatToSample(100.6f / 32768.0f), 101);
    EXPECT_EQ(FloatToSample(-100.6f / 32768.0f), -101);
}

TEST(SampleSourceTest, HeaderLogTellsATruncatedDataChunk) {
    EXPECT_TRUE(HeaderPromisesMore("RIFF : 100\ndata : 370552 (should be 29956)\nEnd\n"));
    EXPECT_FALSE(HeaderPromisesMore("RIFF : 370588 (should be 29992)\ndata : 29956\n"));
    EXPECT_FALSE(HeaderPromisesMore("data : 100 (should be 200)\n"));
}

}  // namespace
}  // namespace dahlo
