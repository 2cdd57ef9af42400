// dahlo-decode --iq / --sdr in-process: a synthesized band of stations as a stereo WAV, raw cu8 on
// standard input, SigMF and a SoapySDR device; bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/decode_main.h"
#include "iq/iq_band_synth.h"
#include "support/audio_files.h"

namespace dahlo {
namespace {

constexpr double kCentreKhz = 7020.0;
constexpr double kRateHz = 48000.0;
constexpr double kWeakestSnrDb = 15.0;

struct ToolResult {
    int status;
    std::string out;
    std::string err;
};

std::string ReadAll(std::FILE* f) {
    std::rewind(f);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    return text;
}

ToolResult RunTool(const std::vector<std::string>& args, std::FILE* in = stdin) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    DecodeStreams streams;
    streams.in = in;
    streams.out = out;
    streams.err = err;
    const int status = RunDecodeTool(args, streams);
    ToolResult r{status, ReadAll(out), ReadAll(err)};
    std::fclose(out);
    std::fclose(err);
    return r;
}

// Call -> RF kHz of every DX-cluster line, and how often each call came.
struct SpotList {
    std::map<std::string, double> khz;
    std::map<std::string, int> count;
};
SpotList Spots(const std::string& out) {
    SpotList spots;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string dx, de, spotter, call;
        double khz = 0.0;
        if (words >> dx >> de >> spotter >> khz >> call && dx == "DX") {
            spots.khz[call] = khz;
            ++spots.count[call];
        }
    }
    return spots;
}

class IqTool : public ::testing::Test {
  protected:
    // Seven stations in 48 kHz for 20 s, written once in every form the tests read.
    static void SetUpTestSuite() {
        ::setenv("SOAPY_SDR_PLUGIN_PATH", DAHLO_SOAPY_MODULE_DIR, 1);
        band_ = new test::IqBand(
            test::RandomIqBand(7, kRateHz, kCentreKhz * 1000.0, 20.0, /*seed=*/7, 300.0));
        // Loud enough that an 8-bit stream's quantization noise loses none of them.
        for (test::IqStation& s : band_->stations) s.snr_db = std::max(s.snr_db, kWeakestSnrDb);
        const auto samples = test::SynthesizeIqBand(*band_, 7);
        // A folder of this process's own: ctest runs the cases of this suite side by side, and
        // each writes the band again.
        std::string pattern = testing::TempDir() + "dahlo-iq-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        ASSERT_EQ(test::WriteIqWav(dir_ + "band.wav", samples, kRateHz, false), "");
        ASSERT_EQ(test::WriteIqCu8(dir_ + "band.cu8", samples), "");
        ASSERT_EQ(
            test::WriteIqSigmf(dir_ + "band", samples, kRateHz, kCentreKhz * 1000.0, "cf32_le"),
            "");
        samples_ = static_cast<long long>(samples.size());
    }
    static void TearDownTestSuite() {
        delete band_;
        std::filesystem::remove_all(dir_);
    }

    // Every station's call spotted once, at its RF frequency (the spot's 0.1 kHz).
    static void ExpectEveryStationOnce(const ToolResult& r, double centreKhz = kCentreKhz) {
        const SpotList spots = Spots(r.out);
        EXPECT_EQ(spots.khz.size(), band_->stations.size()) << r.out << r.err;
        for (const test::IqStation& s : band_->stations) {
            std::string call = s.call;
            for (char& c : call) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            ASSERT_EQ(spots.count.count(call), 1u) << call << " not spotted:\n" << r.out;
            EXPECT_EQ(spots.count.at(call), 1) << call;
            EXPECT_NEAR(spots.khz.at(call), centreKhz + s.offset_hz / 1000.0, 0.051) << call;
        }
    }

    static inline test::IqBand* band_ = nullptr;
    static inline std::string dir_;
    static inline long long samples_ = 0;
};

TEST_F(IqTool, AStereoWavBandSpotsEveryStationOnceAtItsRfAndReadsTheSameOnAnyThreads) {
    const std::string wav = dir_ + "band.wav";
    const ToolResult spots =
        RunTool({"--iq", wav, "--centre", "7020", "--spots", "--threads", "2"});
    ASSERT_EQ(spots.status, 0) << spots.err;
    ExpectEveryStationOnce(spots);

    const ToolResult one = RunTool({"--iq", wav, "--centre", "7020", "--threads", "1"});
    const ToolResult two = RunTool({"--iq", wav, "--centre", "7020", "--threads", "2"});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_FALSE(one.out.empty());
    EXPECT_EQ(one.out, two.out);
    // Text lines carry the RF in kHz; events carry it as "rf_khz".
    EXPECT_NE(one.out.find(" kHz  "), std::string::npos) << one.out;
    const ToolResult events = RunTool({"--iq", wav, "--centre", "7020", "--events"});
    EXPECT_NE(events.out.find(",\"rf_khz\":70"), std::string::npos) << events.out.substr(0, 400);
    // Each station is decoded once: one channel each, though two sub-bands hear most of them.
    std::set<std::string> channels;
    std::istringstream lines(events.out);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find("\"ch\":");
        if (line.find("\"type\":\"char\"") != std::string::npos && at != std::string::npos) {
            channels.insert(line.substr(at, line.find(',', at) - at));
        }
    }
    EXPECT_EQ(channels.size(), band_->stations.size());
}

TEST_F(IqTool, RawCu8OnStandardInputAndTheSoapyDeviceSpotWhatTheFileSpots) {
    std::FILE* raw = std::fopen((dir_ + "band.cu8").c_str(), "rb");
    ASSERT_NE(raw, nullptr);
    const ToolResult piped = RunTool(
        {"--iq", "-", "--iq-format", "cu8", "--rate", "48000", "--centre", "7020", "--spots"}, raw);
    std::fclose(raw);
    ASSERT_EQ(piped.status, 0) << piped.err;
    ExpectEveryStationOnce(piped);

    // The device fails at the end of its file: the spots so far, one line and status 2. It
    // sends at eight times the radio's pace into a buffer for the whole file, so that a machine
    // slower than that (the sanitizers' build under load) drops nothing.
    const std::string args = "driver=dahlofile,speed=8,path=" + dir_ + "band.sigmf-data" +
                             ",lose_after=" + std::to_string(samples_);
    const ToolResult sdr =
        RunTool({"--sdr", args, "--rate", "48000", "--centre", "7020", "--sdr-buffer", "30",
                 "--spots"});
    EXPECT_EQ(sdr.status, 2);
    EXPECT_NE(sdr.err.find("the device was lost at 20.000 s"), std::string::npos) << sdr.err;
    EXPECT_EQ(std::count(sdr.err.begin(), sdr.err.end(), '\n'), 1) << sdr.err;
    EXPECT_EQ(Spots(sdr.out).khz, Spots(piped.out).khz);
}

// The band centred on a rig's dial: Hamlib's dummy radio, which starts at 145 MHz. A --centre
// beside it is refused, except for an SDR, which it tunes.
TEST_F(IqTool, TheRigsDialIsTheBandsCentre) {
    const ToolResult r = RunTool({"--iq", dir_ + "band.wav", "--rig-model", "1", "--spots"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("dial 145000.0 kHz"), std::string::npos) << r.err;
    ExpectEveryStationOnce(r, 145000.0);

    const ToolResult both =
        RunTool({"--iq", dir_ + "band.wav", "--rig-model", "1", "--centre", "7020"});
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("option --centre"), std::string::npos) << both.err;
}

TEST_F(IqTool, BadInputIsOneLineAndStatus2AndACutShortRecordingStatus1) {
    // A mono WAV, no centre, a rate the file does not have, SigMF without its data, a centre
    // beyond 30 GHz, a stream shorter than one sample.
    const std::string mono = dir_ + "mono.wav";
    std::string error;
    ASSERT_TRUE(
        testaudio::WriteAudioFile(mono, std::vector<std::int16_t>(11025, 0), 48000, 1, error))
        << error;
    std::FILE* tiny = std::tmpfile();
    std::fputc(0x80, tiny);
    std::rewind(tiny);
    const struct {
        std::vector<std::string> args;
        std::string says;
        std::FILE* in;
    } cases[] = {
        {{"--iq", mono, "--centre", "7020"}, "mono.wav", stdin},
        {{"--iq", dir_ + "band.wav"}, "give --centre KHZ", stdin},
        {{"--iq", dir_ + "band.wav", "--centre", "7020", "--rate", "96000"}, "not 96000 Hz", stdin},
        {{"--iq", dir_ + "nothing.sigmf-meta"}, "nothing.sigmf-meta", stdin},
        {{"--iq", dir_ + "band.wav", "--centre", "40000000"}, "30 GHz", stdin},
        {{"--iq", "-", "--iq-format", "cu8", "--rate", "48000", "--centre", "7020"},
         "standard input",
         tiny},
        {{"--live-iq", "--rate", "48000"}, "option --live-iq: give the sample rate", stdin},
        {{"--live-iq", "--rate", "48000", "--centre", "7020", "--iq-format", "cu8"},
         "a live input gives its own",
         stdin},
    };
    for (const auto& c : cases) {
        const ToolResult r = RunTool(c.args, c.in);
        EXPECT_EQ(r.status, 2) << c.args[1] << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    std::fclose(tiny);

    // Cut in the middle of the band's data: what came before is decoded, status 1.
    std::FILE* whole = std::fopen((dir_ + "band.cu8").c_str(), "rb");
    std::FILE* half = std::tmpfile();
    std::vector<char> bytes(static_cast<std::size_t>(samples_) + 1);  // half the samples and a byte
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), whole), bytes.size());
    std::fwrite(bytes.data(), 1, bytes.size(), half);
    std::rewind(half);
    std::fclose(whole);
    const ToolResult cut =
        RunTool({"--iq", "-", "--iq-format", "cu8", "--rate", "48000", "--centre", "7020"}, half);
    std::fclose(half);
    EXPECT_EQ(cut.status, 1) << cut.err;
    EXPECT_NE(cut.out.find(" kHz  "), std::string::npos);
    EXPECT_EQ(std::count(cut.err.begin(), cut.err.end(), '\n'), 1) << cut.err;
}

}  // namespace
}  // namespace dahlo
