#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "iq/iq_band_synth.h"
#include "iq/iq_source.h"

namespace dahlo::iq {
namespace {

namespace fs = std::filesystem;

class IqSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("dahlo-iq-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void WriteBytes(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    void WriteMeta(const std::string& base, const std::string& datatype) const {
        std::ofstream(Path(base + ".sigmf-meta"))
            << R"({"global":{"core:datatype":")" << datatype
            << R"(","core:sample_rate":96000,"core:version":"1.0.0"},)"
            << R"("captures":[{"core:sample_start":0,"core:frequency":14025000}],"annotations":[]})";
    }
    static std::string ErrorOf(const std::function<void()>& open) {
        try {
            open();
        } catch (const IqError& e) {
            return e.what();
        }
        return "no error";
    }
    fs::path dir_;
};

std::vector<std::complex<float>> ReadAll(IqSource& source) {
    std::vector<std::complex<float>> all;
    std::complex<float> chunk[7];  // odd, to cross the readers' own chunks
    while (std::size_t n = source.Read(chunk, 7)) all.insert(all.end(), chunk, chunk + n);
    return all;
}

std::unique_ptr<IqSource> RawFromBytes(const std::string& bytes, const char* format) {
    std::FILE* stream = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::rewind(stream);
    // The stream lives as long as the test process; tmpfile removes it at exit.
    return OpenRawIq(stream, "stdin", *ParseIqFormat(format), 48000.0);
}

TEST_F(IqSourceTest, EachReaderDecodesItsDatatype) {
    // Raw streams: cu8 full scale both ways; cs16 half and minus full scale; cf32 as stored.
    auto cu8 = ReadAll(*RawFromBytes(std::string("\xff\x00\x80\x7f", 4), "cu8"));
    ASSERT_EQ(cu8.size(), 2u);
    EXPECT_FLOAT_EQ(cu8[0].real(), 1.0f);
    EXPECT_FLOAT_EQ(cu8[0].imag(), -1.0f);
    EXPECT_FLOAT_EQ(cu8[1].real(), 0.5f / 127.5f);
    EXPECT_FLOAT_EQ(cu8[1].imag(), -0.5f / 127.5f);
    auto cs16 = ReadAll(*RawFromBytes(std::string("\x00\x40\x00\x80", 4), "cs16"));
    ASSERT_EQ(cs16.size(), 1u);
    EXPECT_EQ(cs16[0], std::complex<float>(0.5f, -1.0f));
    const float floats[] = {0.25f, -0.75f};
    auto cf32 = ReadAll(*RawFromBytes(std::string(reinterpret_cast<const char*>(floats), 8), "cf32"));
    ASSERT_EQ(cf32.size(), 1u);
    EXPECT_EQ(cf32[0], std::complex<float>(0.25f, -0.75f));

    // SigMF: ci8 and cu16_le by hand, opened by either file of the pair; the rate and centre
    // come from the metadata.
    WriteMeta("a", "ci8");
    WriteBytes("a.sigmf-data", std::string("\x40\xc0", 2));
    auto ci8 = OpenIqFile(Path("a.sigmf-data"));
    EXPECT_EQ(ci8->RateHz(), 96000.0);
    EXPECT_EQ(ci8->CentreHz().value_or(0), 14025000.0);
    EXPECT_EQ(ReadAll(*ci8), (std::vector<std::complex<float>>{{0.5f, -0.5f}}));
    WriteMeta("b", "cu16_le");
    WriteBytes("b.sigmf-data", std::string("\xff\xff\x00\x00", 4));
    EXPECT_EQ(ReadAll(*OpenIqFile(Path("b.sigmf-meta"))),
              (std::vector<std::complex<float>>{{1.0f, -1.0f}}));

    // What the band synthesizer writes reads back, I on the left and Q on the right.
    const std::vector<std::complex<float>> samples = {{0.5f, -0.25f}, {-0.125f, 0.75f}};
    ASSERT_EQ(test::WriteIqSigmf(Path("c"), samples, 48000, 7e6, "ci16_le"), "");
    ASSERT_EQ(test::WriteIqWav(Path("d.wav"), samples, 48000, false), "");
    ASSERT_EQ(test::WriteIqWav(Path("e.wav"), samples, 192000, true), "");
    for (const char* name : {"c.sigmf-meta", "d.wav", "e.wav"}) {
        auto source = OpenIqFile(Path(name), name[0] == 'c' ? std::nullopt : std::optional(3.5e6));
        EXPECT_EQ(source->CentreHz().value_or(0), name[0] == 'c' ? 7e6 : 3.5e6) << name;
        const auto back = ReadAll(*source);
        ASSERT_EQ(back.size(), 2u) << name;
        for (int i = 0; i < 2; ++i) {
            EXPECT_NEAR(back[i].real(), samples[i].real(), 1.0 / 32767) << name;
            EXPECT_NEAR(back[i].imag(), samples[i].imag(), 1.0 / 32767) << name;
        }
        EXPECT_TRUE(source->Ended());
        EXPECT_EQ(source->Damage(), "") << name;
    }
}

TEST_F(IqSourceTest, BadInputGivesOneClearError) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* mono = sf_open(Path("mono.wav").c_str(), SFM_WRITE, &info);
    const short zeros[16] = {};
    sf_writef_short(mono, zeros, 16);
    sf_close(mono);
    EXPECT_NE(ErrorOf([&] { OpenIqFile(Path("mono.wav")); }).find("(mono); IQ needs a stereo"),
              std::string::npos);

    WriteMeta("real", "rf32_le");
    WriteBytes("real.sigmf-data", std::string(8, '\0'));
    EXPECT_NE(ErrorOf([&] { OpenIqFile(Path("real.sigmf-meta")); }).find("\"rf32_le\" is not one"),
              std::string::npos);
    WriteMeta("alone", "cf32_le");
    EXPECT_NE(ErrorOf([&] { OpenIqFile(Path("alone.sigmf-meta")); }).find("data file is missing"),
              std::string::npos);

    ASSERT_EQ(test::WriteIqWav(Path("slow.wav"), {{0, 0}}, 4000, false), "");
    EXPECT_NE(ErrorOf([&] { OpenIqFile(Path("slow.wav")); }).find("4000 Hz is outside"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { OpenRawIq(stdin, "stdin", IqFormat::kCu8, 800000); }).find("outside"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { OpenRawIq(stdin, "stdin", IqFormat::kCu8, 48000, 31e9); })
                  .find("centre frequency 31000000000 Hz is outside 0..30 GHz"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { OpenRawIq(stdin, "stdin", IqFormat::kCu8, 48000, -1.0); }).find("centre"),
              std::string::npos);

    // A raw stream cut inside a sample: the whole samples before stay, and the damage says where.
    auto cut = RawFromBytes(std::string("\x00\x40\x00\x40\x00\xc0\x00\xc0\x11", 9), "cs16");
    const auto read = ReadAll(*cut);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1], std::complex<float>(-0.5f, -0.5f));
    EXPECT_TRUE(cut->Ended());
    EXPECT_EQ(cut->Damage(), "stdin: cut short at 0.000 s: the input ends inside a sample");
}

}  // namespace
}  // namespace dahlo::iq
