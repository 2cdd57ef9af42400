#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "iq/soapy_source.h"

namespace dahlo::iq {
namespace {

// Reads until `want` samples or the end, for at most 20 s.
std::vector<std::complex<float>> ReadLive(IqSource& source, std::size_t want) {
    std::vector<std::complex<float>> all;
    std::vector<std::complex<float>> chunk(3000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (all.size() < want && !source.Ended() && std::chrono::steady_clock::now() < deadline) {
        const std::size_t n = source.Read(chunk.data(), chunk.size());
        all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<long>(n));
    }
    return all;
}

class SoapySourceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ::setenv("SOAPY_SDR_PLUGIN_PATH", DAHLO_SOAPY_MODULE_DIR, 1); }
    void SetUp() override {
        path_ = (std::filesystem::temp_directory_path() /
                 ("dahlo-soapy-" + std::to_string(::getpid()) + ".cf32")).string();
        for (int n = 0; n < 50000; ++n) samples_.emplace_back(n * 1e-5f, -n * 2e-5f);
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples_.data()),
                   static_cast<std::streamsize>(samples_.size() * sizeof samples_[0]));
    }
    void TearDown() override { std::filesystem::remove(path_); }
    std::string path_;
    std::vector<std::complex<float>> samples_;
};

TEST_F(SoapySourceTest, StreamsTheDevicesSamplesAndReportsItsLoss) {
    SoapyOptions options;
    options.args = "driver=dahlofile,path=" + path_;
    options.rateHz = 96000;
    options.centreHz = 10.1e6;
    options.gainDb = 20.0;
    {
        const auto source = OpenSoapyIq(options);
        EXPECT_EQ(source->RateHz(), 96000.0);
        EXPECT_EQ(source->CentreHz().value_or(0), 10.1e6);
        EXPECT_EQ(ReadLive(*source, samples_.size()), samples_);
        EXPECT_FALSE(source->Ended());  // a quiet device is still there
        source->Stop();
        ReadLive(*source, 1);
        EXPECT_TRUE(source->Ended());
        EXPECT_EQ(source->Damage(), "");
    }

    options.args += ",lose_after=20000";
    const auto losing = OpenSoapyIq(options);
    const auto got = ReadLive(*losing, samples_.size());
    EXPECT_EQ(got, std::vector<std::complex<float>>(samples_.begin(), samples_.begin() + 20000));
    EXPECT_TRUE(losing->Ended());
    EXPECT_NE(losing->Damage().find("the device was lost at 0.208 s"), std::string::npos)
        << losing->Damage();
}

TEST_F(SoapySourceTest, RefusesAMissingDeviceOrABadRate) {
    SoapyOptions options;
    options.args = "driver=dahlo_nonesuch";
    EXPECT_THROW(OpenSoapyIq(options), IqError);
    options.args = "driver=dahlofile,path=" + path_;
    options.rateHz = 2.4e6;
    try {
        OpenSoapyIq(options);
        ADD_FAILURE() << "a rate of 2.4 MHz was taken";
    } catch (const IqError& e) {
        EXPECT_NE(std::string(e.what()).find("2400000 Hz is outside"), std::string::npos);
    }
}

}  // namespace
}  // namespace dahlo::iq
