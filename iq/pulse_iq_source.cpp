#include "iq/pulse_iq_source.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <string>

namespace dahlo::iq {

namespace {

// Longest a Read waits for the server (the interface promises about 100 ms): the samples of
// this many seconds are asked for at most, and pa_simple_read waits until they are all there.
constexpr double kReadSeconds = 0.05;
// What the server delivers at a time: small against kReadSeconds, so that a read waits for
// little more than its own samples.
constexpr double kFragmentSeconds = 0.02;
// How far the receiver may fall behind before the server drops samples (its overrun).
constexpr double kServerBufferSeconds = 2.0;

class PulseIqSource final : public IqSource {
  public:
    PulseIqSource(pa_simple* stream, double rateHz, std::optional<double> centreHz)
        : stream_(stream),
          rateHz_(rateHz),
          centreHz_(centreHz),
          maxRead_(std::max<std::size_t>(1, static_cast<std::size_t>(rateHz * kReadSeconds))) {}
    ~PulseIqSource() override { pa_simple_free(stream_); }
    PulseIqSource(const PulseIqSource&) = delete;
    PulseIqSource& operator=(const PulseIqSource&) = delete;

    std::size_t Read(std::complex<float>* out, std::size_t count) override {
        if (ended_) return 0;
        if (stop_.load()) {
            ended_ = true;
            return 0;
        }
        const std::size_t want = std::min(count, maxRead_);
        int error = 0;
        // std::complex<float> is laid out as float[2]: I then Q, as the stream interleaves them.
        if (pa_simple_read(stream_, out, want * sizeof *out, &error) < 0) {
            ended_ = true;
            damage_ = name_ + ": the sound server stopped the stream: " + pa_strerror(error);
            return 0;
        }
        for (std::size_t i = 0; i < want; ++i) {
            if (!std::isfinite(out[i].real()) || !std::isfinite(out[i].imag())) out[i] = {};
        }
        return want;
    }
    bool Ended() const override { return ended_; }
    double RateHz() const override { return rateHz_; }
    std::optional<double> CentreHz() const override { return centreHz_; }
    const std::string& Name() const override { return name_; }
    std::string Damage() const override { return damage_; }
    void Stop() override { stop_.store(true); }

  private:
    pa_simple* stream_;
    double rateHz_;
    std::optional<double> centreHz_;
    std::size_t maxRead_;
    std::string name_ = "the sound server's IQ input";
    std::atomic<bool> stop_{false};
    bool ended_ = false;
    std::string damage_;
};

}  // namespace

std::unique_ptr<IqSource> OpenPulseIq(double rateHz, std::optional<double> centreHz) {
    CheckRateAndCentre("--live-iq", rateHz, centreHz);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(std::lround(rateHz)),
                              2};
    const auto frameBytes = static_cast<std::uint32_t>(2 * sizeof(float));
    pa_buffer_attr attr{};
    attr.maxlength = frameBytes * static_cast<std::uint32_t>(rateHz * kServerBufferSeconds);
    attr.fragsize = frameBytes * static_cast<std::uint32_t>(rateHz * kFragmentSeconds);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "Dahlo", PA_STREAM_RECORD, nullptr, "IQ", &spec,
                                      nullptr, &attr, &error);
    if (stream == nullptr) {
        throw IqError(std::string("--live-iq: no stereo record stream from the sound server (") +
                      pa_strerror(error) + ")");
    }
    return std::make_unique<PulseIqSource>(stream, rateHz, centreHz);
}

}  // namespace dahlo::iq
