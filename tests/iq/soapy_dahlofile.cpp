// A SoapySDR module for tests: "driver=dahlofile,path=FILE" streams a raw cf32 file as an RX
// device, as fast as it is read; at the file's end it goes quiet (timeouts), as a radio with
// nothing more to say would. "lose_after=N" makes the device fail after N samples, as an SDR
// pulled from its USB port does. "speed=X" paces the samples at X times the sample rate, as a radio
// does (X = 1) or faster, so that a reader that keeps up loses nothing.
#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Registry.hpp>

#include <chrono>
#include <complex>
#include <cstdio>
#include <string>
#include <thread>

namespace {

class FileDevice final : public SoapySDR::Device {
  public:
    explicit FileDevice(const SoapySDR::Kwargs& args) {
        const auto path = args.find("path");
        file_ = std::fopen(path == args.end() ? "" : path->second.c_str(), "rb");
        if (file_ == nullptr) throw std::runtime_error("dahlofile: cannot open the path= file");
        const auto lose = args.find("lose_after");
        if (lose != args.end()) loseAfter_ = std::stoll(lose->second);
        const auto speed = args.find("speed");
        if (speed != args.end()) speed_ = std::stod(speed->second);
    }
    ~FileDevice() override { std::fclose(file_); }

    std::string getDriverKey() const override { return "dahlofile"; }
    std::string getHardwareKey() const override { return "dahlofile"; }
    size_t getNumChannels(const int direction) const override { return direction == SOAPY_SDR_RX ? 1 : 0; }
    std::vector<std::string> getStreamFormats(const int, const size_t) const override {
        return {SOAPY_SDR_CF32};
    }
    std::string getNativeStreamFormat(const int, const size_t, double& fullScale) const override {
        fullScale = 1.0;
        return SOAPY_SDR_CF32;
    }
    SoapySDR::Stream* setupStream(const int direction, const std::string& format,
                                  const std::vector<size_t>& = {}, const SoapySDR::Kwargs& = {}) override {
        if (direction != SOAPY_SDR_RX || format != SOAPY_SDR_CF32) {
            throw std::runtime_error("dahlofile: only RX CF32");
        }
        return reinterpret_cast<SoapySDR::Stream*>(this);
    }
    void closeStream(SoapySDR::Stream*) override {}
    int activateStream(SoapySDR::Stream*, const int = 0, const long long = 0, const size_t = 0) override {
        return 0;
    }
    int deactivateStream(SoapySDR::Stream*, const int = 0, const long long = 0) override { return 0; }
    size_t getStreamMTU(SoapySDR::Stream*) const override { return 4096; }
    int readStream(SoapySDR::Stream*, void* const* buffs, const size_t numElems, int& flags,
                   long long& timeNs, const long timeoutUs) override {
        flags = 0;
        timeNs = 0;
        std::size_t want = numElems;
        if (loseAfter_ >= 0) {
            if (sent_ >= loseAfter_) return SOAPY_SDR_STREAM_ERROR;
            want = std::min<std::size_t>(want, static_cast<std::size_t>(loseAfter_ - sent_));
        }
        const std::size_t got = std::fread(buffs[0], sizeof(std::complex<float>), want, file_);
        if (got == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(timeoutUs));
            return SOAPY_SDR_TIMEOUT;
        }
        sent_ += static_cast<long long>(got);
        if (speed_ > 0.0) {
            if (sent_ == static_cast<long long>(got)) started_ = std::chrono::steady_clock::now();
            std::this_thread::sleep_until(
                started_ + std::chrono::duration<double>(static_cast<double>(sent_) / (rate_ * speed_)));
        }
        return static_cast<int>(got);
    }

    void setSampleRate(const int, const size_t, const double rate) override { rate_ = rate; }
    double getSampleRate(const int, const size_t) const override { return rate_; }
    void setFrequency(const int, const size_t, const double frequency, const SoapySDR::Kwargs& = {}) override {
        frequency_ = frequency;
    }
    double getFrequency(const int, const size_t) const override { return frequency_; }
    void setGain(const int, const size_t, const double gain) override { gain_ = gain; }
    double getGain(const int, const size_t) const override { return gain_; }

  private:
    std::FILE* file_ = nullptr;
    double speed_ = 0.0;  // 0: as fast as it is read
    std::chrono::steady_clock::time_point started_;
    long long loseAfter_ = -1;
    long long sent_ = 0;
    double rate_ = 48000.0;
    double frequency_ = 0.0;
    double gain_ = 0.0;
};

SoapySDR::KwargsList FindFileDevice(const SoapySDR::Kwargs& args) {
    const auto driver = args.find("driver");
    if (driver == args.end() || driver->second != "dahlofile") return {};
    SoapySDR::Kwargs found = args;
    found["label"] = "Dahlo test file device";
    return {found};
}

SoapySDR::Device* MakeFileDevice(const SoapySDR::Kwargs& args) { return new FileDevice(args); }

const SoapySDR::Registry kRegistration("dahlofile", &FindFileDevice, &MakeFileDevice,
                                       SOAPY_SDR_ABI_VERSION);

}  // namespace
