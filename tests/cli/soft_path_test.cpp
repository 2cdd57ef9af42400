// dahlo-decode's default path with the soft decoder: which recordings it reads, what it prints.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cli/decode_main.h"
#include "decode/soft_session.h"
#include "support/audio_files.h"
#include "support/morse_synth.h"
#include "support/text_compare.h"

namespace dahlo {
namespace {

constexpr const char* kQso =
    "cq cq de ok2xyz ok2xyz = r tnx fer call ur rst 579 name jan qth brno hw cpy k";

struct Output {
    std::string out;
    std::string err;
};

enum class Input { kFile, kStdin };

// dahlo-decode with `args` and then the recording as a WAV file, or as raw samples on standard
// input ("-").
Output Decode(const std::vector<std::int16_t>& samples, std::vector<std::string> args = {},
              Input input = Input::kFile) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("dahlo-soft-path-" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    DecodeStreams streams;
    if (input == Input::kStdin) {
        streams.in = std::tmpfile();
        std::fwrite(samples.data(), sizeof samples[0], samples.size(), streams.in);
        std::rewind(streams.in);
        args.push_back("-");
    } else {
        std::string error;
        EXPECT_TRUE(testaudio::WriteAudioFile(path, samples, 11025, 1, error)) << error;
        args.push_back(path);
    }
    streams.out = std::tmpfile();
    streams.err = std::tmpfile();
    RunDecodeTool(args, streams);
    Output run;
    for (std::FILE* f : {streams.out, streams.err}) {
        std::rewind(f);
        std::string& text = f == streams.out ? run.out : run.err;
        for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
        std::fclose(f);
    }
    if (input == Input::kStdin) std::fclose(streams.in);
    std::filesystem::remove(path);
    return run;
}

double Cer(const std::string& sent, std::string got) {
    while (!got.empty() && (got.back() == ' ' || got.back() == '\n')) got.pop_back();
    return static_cast<double>(test::EditDistance(sent, got)) / static_cast<double>(sent.size());
}

// Of the first `count` samples, before the first mark.
double Rms(const std::vector<std::int16_t>& samples, std::size_t count) {
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(count));
}

std::vector<std::int16_t> Qso(std::optional<double> snr) {
    test::MorseSynthOptions o;
    o.wpm = 20;
    o.signal.pitch_hz = 800;
    o.signal.level_dbfs = -20;
    o.snr_db = snr;
    o.seed = 11;
    return test::SynthesizeMorse(kQso, o);
}

TEST(SoftPath, AWeakRecordingIsReadWhereTheHardDecoderFails) {
    const auto samples = Qso(-8.0);
    EXPECT_LT(Cer(kQso, Decode(samples).out), 0.1);
    EXPECT_GT(Cer(kQso, Decode(samples, {"--decoder", "hard"}).out), 0.3);
    // Piped, it is read through the look-ahead's first look as well as from the file.
    EXPECT_LT(Cer(kQso, Decode(samples, {}, Input::kStdin).out), 0.1);
    EXPECT_GT(Cer(kQso, Decode(samples, {"--decoder", "hard"}, Input::kStdin).out), 0.3);

    // A stream that starts with 25 s of noise at the recording's level, or of silence: the
    // soft decoder finds the sender's pitch, and times its characters from the stream's start.
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0.0, Rms(samples, 3000));
    std::vector<std::int16_t> noisy(25 * 11025);
    for (auto& x : noisy) x = static_cast<std::int16_t>(gauss(random));
    std::vector<std::int16_t> silent(25 * 11025, 0);
    for (std::vector<std::int16_t>* lead : {&noisy, &silent}) {
        lead->insert(lead->end(), samples.begin(), samples.end());
        EXPECT_LT(Cer(kQso, Decode(*lead, {}, Input::kStdin).out), 0.1);
    }
    const std::string late = Decode(silent, {"--events"}, Input::kStdin).out;
    EXPECT_EQ(late.rfind("{\"t\":25.", 0), 0u) << late.substr(0, 80);

    // Every character line carries its confidence; the frequency is the nearest bin's.
    const Output events = Decode(samples, {"--events"});
    int chars = 0;
    for (std::size_t at = 0; (at = events.out.find("\"type\":\"char\"", at)) != std::string::npos;
         ++at) {
        const std::size_t end = events.out.find('\n', at);
        const std::size_t p = events.out.find(",\"p\":", at);
        ASSERT_LT(p, end);
        const double confidence = std::stod(events.out.substr(p + 5));
        EXPECT_TRUE(confidence >= 0.0 && confidence <= 1.0) << confidence;
        ++chars;
    }
    EXPECT_GT(chars, 50);
    EXPECT_NE(events.out.find("\"type\":\"space\",\"freq_hz\":802.1}"), std::string::npos);
}

TEST(SoftPath, CleanTextStaysExactWithoutConfidence) {
    for (const std::optional<double> snr : {std::optional<double>{}, std::optional<double>{3.0}}) {
        EXPECT_EQ(Decode(Qso(snr)).out, std::string(kQso) + " \n");
        EXPECT_EQ(Decode(Qso(snr), {"--events"}).out.find(",\"p\":"), std::string::npos);
    }
}

TEST(SoftPath, NoiseAlonePrintsNothing) {
    std::mt19937 random(5);
    std::normal_distribution<double> gauss(0.0, 2000.0);
    std::vector<std::int16_t> noise(30 * 11025);
    for (auto& x : noise) x = static_cast<std::int16_t>(gauss(random));
    const Output run = Decode(noise, {"-v"});
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("soft decoder: marks"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing printed"), std::string::npos) << run.err;
}

TEST(SoftPath, TheLevelsChooseTheDecoder) {
    PresetPlan plan;
    PresetRequest request;
    plan.levels = {0.01, 0.05};  // marks 5 times the noise: about -6 dB
    EXPECT_TRUE(PrefersSoftDecoder(plan, request));
    plan.levels = {0.01, 0.2};  // +10 dB
    EXPECT_FALSE(PrefersSoftDecoder(plan, request));
    plan.markSpread = 1.6;  // fading
    EXPECT_TRUE(PrefersSoftDecoder(plan, request));
    plan.levels = {0.0, 0.2};  // no noise at all
    EXPECT_FALSE(PrefersSoftDecoder(plan, request));
    plan.levels = {0.01, 0.05};
    request.centreBin = 150;  // the pitch given: the user's controls, the user's decoder
    EXPECT_FALSE(PrefersSoftDecoder(plan, request));
}

}  // namespace
}  // namespace dahlo
