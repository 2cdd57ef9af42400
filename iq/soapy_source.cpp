#include "iq/soapy_source.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace dahlo::iq {

namespace {

// readStream waits at most this long, so that Stop() is seen promptly.
constexpr long kReadTimeoutUs = 100000;
// Read() waits this long for samples before returning what it has (possibly none).
constexpr auto kReadWait = std::chrono::milliseconds(100);
// Samples asked of the device per readStream call.
constexpr std::size_t kDeviceChunk = 8192;

class SoapySource final : public IqSource {
  public:
    SoapySource(SoapySDR::Device* device, SoapySDR::Stream* stream, std::string name,
                double rateHz, double centreHz, std::size_t capacity)
        : device_(device),
          stream_(stream),
          name_(std::move(name)),
          rateHz_(rateHz),
          centreHz_(centreHz),
          queue_(capacity) {
        reader_ = std::thread([this] { ReadDevice(); });
    }
    ~SoapySource() override {
        Stop();
        reader_.join();
        device_->deactivateStream(stream_);
        device_->closeStream(stream_);
        SoapySDR::Device::unmake(device_);
    }

    std::size_t Read(std::complex<float>* out, std::size_t count) override {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, kReadWait, [&] { return queued_ > 0 || readerDone_; });
        const std::size_t n = std::min(count, queued_);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = queue_[head_];
            head_ = (head_ + 1) % queue_.size();
        }
        queued_ -= n;
        if (queued_ == 0 && readerDone_) ended_ = true;
        return n;
    }
    bool Ended() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return ended_;
    }
    double RateHz() const override { return rateHz_; }
    std::optional<double> CentreHz() const override { return centreHz_; }
    const std::string& Name() const override { return name_; }
    std::string Damage() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return damage_;
    }
    void Stop() override { stop_ = true; }

  private:
    void ReadDevice() {
        std::vector<std::complex<float>> chunk(kDeviceChunk);
        std::int64_t received = 0;
        while (!stop_) {
            void* buffers[] = {chunk.data()};
            int flags = 0;
            long long timeNs = 0;
            const int got =
                device_->readStream(stream_, buffers, chunk.size(), flags, timeNs, kReadTimeoutUs);
            if (got == SOAPY_SDR_TIMEOUT || got == SOAPY_SDR_OVERFLOW) continue;
            if (got < 0) {
                char at[32];
                std::snprintf(at, sizeof at, "%.3f s", static_cast<double>(received) / rateHz_);
                std::lock_guard<std::mutex> lock(mutex_);
                damage_ = name_ + ": the device was lost at " + at + " (" +
                          SoapySDR::errToStr(got) + ")";
                break;
            }
            received += got;
            std::lock_guard<std::mutex> lock(mutex_);
            const std::size_t room = queue_.size() - queued_;
            const std::size_t keep = std::min<std::size_t>(room, static_cast<std::size_t>(got));
            std::size_t tail = (head_ + queued_) % queue_.size();
            for (std::size_t i = 0; i < keep; ++i) {
                queue_[tail] = chunk[i];
                tail = tail + 1 == queue_.size() ? 0 : tail + 1;
            }
            queued_ += keep;
            dropped_ += static_cast<std::int64_t>(got) - static_cast<std::int64_t>(keep);
            arrived_.notify_one();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        readerDone_ = true;
        arrived_.notify_one();
    }

    SoapySDR::Device* device_;
    SoapySDR::Stream* stream_;
    std::string name_;
    double rateHz_;
    double centreHz_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::complex<float>> queue_;
    std::size_t head_ = 0;
    std::size_t queued_ = 0;
    std::int64_t dropped_ = 0;
    bool readerDone_ = false;
    bool ended_ = false;
    std::string damage_;
};

}  // namespace

std::unique_ptr<IqSource> OpenSoapyIq(const SoapyOptions& options) {
    const std::string name = "SDR \"" + options.args + "\"";
    CheckRateAndCentre(name, options.rateHz, options.centreHz);
    SoapySDR::Device* device = nullptr;
    try {
        device = SoapySDR::Device::make(options.args);
    } catch (const std::exception& e) {
        throw IqError(name + ": cannot open the device (" + e.what() + ")");
    }
    if (device == nullptr) throw IqError(name + ": no such device");
    SoapySDR::Stream* stream = nullptr;
    try {
        device->setSampleRate(SOAPY_SDR_RX, 0, options.rateHz);
        device->setFrequency(SOAPY_SDR_RX, 0, options.centreHz);
        if (options.gainDb) {
            if (device->hasGainMode(SOAPY_SDR_RX, 0)) device->setGainMode(SOAPY_SDR_RX, 0, false);
            device->setGain(SOAPY_SDR_RX, 0, *options.gainDb);
        }
        const double rate = device->getSampleRate(SOAPY_SDR_RX, 0);
        CheckRateAndCentre(name + " (the rate it gave)", rate, options.centreHz);
        stream = device->setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32, {0});
        if (stream == nullptr || device->activateStream(stream) != 0) {
            throw IqError(name + ": the device would not start streaming");
        }
        const auto capacity = static_cast<std::size_t>(rate * std::max(0.1, options.queueSeconds));
        return std::make_unique<SoapySource>(device, stream, name, rate,
                                             device->getFrequency(SOAPY_SDR_RX, 0), capacity);
    } catch (const IqError&) {
        if (stream != nullptr) device->closeStream(stream);
        SoapySDR::Device::unmake(device);
        throw;
    } catch (const std::exception& e) {
        if (stream != nullptr) device->closeStream(stream);
        SoapySDR::Device::unmake(device);
        throw IqError(name + ": " + e.what());
    }
}

}  // namespace dahlo::iq
