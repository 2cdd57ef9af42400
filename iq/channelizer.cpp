#include "iq/channelizer.h"

#include <liquid/liquid.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "iq/iq_source.h"
#include "iq/rational_resampler.h"

namespace dahlo::iq {

namespace {

// Sub-band spacing. A sub-band owns +-spacing/2 around its middle, which must stay well inside
// the useful audio band's +-1130 Hz: at 1900 Hz spacing an owned signal is still 180 Hz (the
// signal finder's floor window is +-108 Hz) from the band's edge. Below 1400 Hz the overlap
// doubles the decoding work for little gain.
constexpr double kMaxSpacingHz = 1900.0;
constexpr double kMinSpacingHz = 1400.0;
// Largest interpolation factor of the exact rational resampler: its filter bank holds
// 2 * P * m coefficients per sub-band (512 -> 48 KiB). Rates with no such spacing use liquid's
// arbitrary-rate resampler instead.
constexpr std::int64_t kMaxRationalInterp = 512;

// Half the useful audio band, and what the sub-band filter passes flat: useful band plus 20 Hz.
constexpr double kUsefulHalfWidthHz = (kUsefulHighHz - kUsefulLowHz) / 2;  // 1130.5
constexpr double kPassHz = kUsefulHalfWidthHz + 20.0;
// After the shift to audio, a sub-band frequency below -(centre - useful low) would land mirrored
// on the useful band: the filter must be down to its stop-band there.
constexpr double kStopHz = kAudioCentreHz + kUsefulLowHz;  // 1453 Hz
constexpr float kStopBandDb = 70.0f;  // images and leakage under an 8-bit SDR's floor
// Filter semi-length of the resampler (liquid's default; ~0.18 of its input rate transition).
constexpr unsigned kResamplerSemiLength = 12;
// Filterbank output frames gathered before the sub-bands' work runs: the unit handed to threads.
// 256 frames at 2x the spacing is 80..90 ms of audio, so live latency stays low.
constexpr std::size_t kFramesPerDispatch = 256;

// Resampler cut-off relative to its input rate: the bank's Nyquist, kept just inside it (liquid's
// arbitrary-rate resampler refuses 0.5 itself).
constexpr double kMaxResamplerBandwidth = 0.49;

// Filter phases of liquid's arbitrary-rate resampler (its default).
constexpr unsigned kArbitraryPhases = 64;

// The shift of the sub-band centre to kAudioCentreHz: bin 240 of 2048 turns exactly once every
// 128 samples.
constexpr int kShiftPeriod = 128;

std::int64_t EvenCeil(double x) {
    auto n = static_cast<std::int64_t>(std::ceil(x));
    return n + (n & 1);
}

struct Resampling {
    std::int64_t interp = 0;  // P, 0: arbitrary rate
    std::int64_t decim = 0;   // Q
};

Resampling RationalFor(double rateHz, std::int64_t channels) {
    const auto rate = static_cast<std::int64_t>(std::llround(rateHz));
    if (std::abs(rateHz - static_cast<double>(rate)) > 1e-9) return {};
    // 11025 / (2 * rate / M)
    const std::int64_t num = static_cast<std::int64_t>(kAudioRateHz) * channels;
    const std::int64_t den = 2 * rate;
    const std::int64_t g = std::gcd(num, den);
    return {num / g, den / g};
}

// The rational resampler's taps: a Kaiser low-pass at `bandwidth` of the input rate, 2 * P *
// kResamplerSemiLength long, as liquid-dsp's rresamp designs them; unity gain at scale 1.
std::vector<float> ResamplerPrototype(std::int64_t interp, float bandwidth) {
    const auto length = static_cast<unsigned>(2 * interp * kResamplerSemiLength);
    std::vector<float> taps(length + 1);
    liquid_firdes_kaiser(length + 1, bandwidth / static_cast<float>(interp), kStopBandDb, 0.0f,
                         taps.data());
    taps.pop_back();
    return taps;
}

std::int16_t ToSample(float x) {
    if (!(x > -32768.0f)) return -32768;  // also NaN
    if (!(x < 32767.0f)) return 32767;
    return static_cast<std::int16_t>(std::lrint(x));
}

}  // namespace

double SubbandPlan::CentreOffsetHz(int subband) const {
    return (subband - (count - 1) / 2) * spacingHz;
}
double SubbandPlan::OffsetHz(int subband, double audioHz) const {
    return CentreOffsetHz(subband) + audioHz - kAudioCentreHz;
}
double SubbandPlan::AudioHz(int subband, double offsetHz) const {
    return offsetHz - CentreOffsetHz(subband) + kAudioCentreHz;
}
std::optional<int> SubbandPlan::Owner(double offsetHz) const {
    const long nearest = std::lround(offsetHz / spacingHz) + (count - 1) / 2;
    if (nearest < 0 || nearest >= count) return std::nullopt;
    return static_cast<int>(nearest);
}

SubbandPlan PlanSubbands(double rateHz) {
    CheckRateAndCentre("the channelizer", rateHz, std::nullopt);
    const std::int64_t fewest = std::max<std::int64_t>(4, EvenCeil(rateHz / kMaxSpacingHz));
    const auto most =
        std::max(fewest, static_cast<std::int64_t>(std::floor(rateHz / kMinSpacingHz)));
    std::int64_t channels = fewest;
    for (std::int64_t m = fewest; m <= most; m += 2) {
        const Resampling r = RationalFor(rateHz, m);
        if (r.interp != 0 && r.interp <= kMaxRationalInterp) {
            channels = m;
            break;
        }
    }
    SubbandPlan plan;
    plan.rateHz = rateHz;
    plan.filterbankChannels = static_cast<int>(channels);
    plan.spacingHz = rateHz / static_cast<double>(channels);
    plan.count = static_cast<int>(channels) - 1;
    return plan;
}

// ---------------------------------------------------------------------------------------------

struct Channelizer::Impl {
    struct Subband {
        int bankChannel = 0;  // filterbank output that feeds it
        std::optional<RationalResampler> rational;
        resamp_crcf arbitrary = nullptr;
        std::vector<std::complex<float>> resampIn;   // Q samples being gathered
        std::vector<std::complex<float>> resampOut;  // P (or ceil(rate) + 1) samples
        std::size_t resampFill = 0;
        int shiftPhase = 0;
        std::array<std::int16_t, kAudioBlockSamples> block{};
        int blockFill = 0;
        std::int64_t blockIndex = 0;
        std::int64_t samplesOut = 0;
    };

    SubbandPlan plan;
    SubbandConsumer consumer;
    Resampling resampling;
    float scale = 1.0f;
    firpfbch2_crcf bank = nullptr;
    std::size_t hop = 0;  // input samples per filterbank step: M / 2
    std::vector<std::complex<float>> input;      // hop samples being gathered
    std::size_t inputFill = 0;
    std::vector<std::complex<float>> bankOut;    // M
    std::vector<std::complex<float>> frames;     // [subband][kFramesPerDispatch]
    std::size_t frameFill = 0;
    std::vector<Subband> subbands;
    std::array<std::complex<float>, kShiftPeriod> shift{};

    // The pool: workers wait for a generation, then take sub-bands from `next`.
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::uint64_t generation = 0;
    int busyWorkers = 0;
    bool quitting = false;
    std::atomic<int> next{0};
    std::exception_ptr failure;

    ~Impl() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quitting = true;
        }
        wake.notify_all();
        for (auto& w : workers) w.join();
        for (auto& s : subbands) {
            if (s.arbitrary) resamp_crcf_destroy(s.arbitrary);
        }
        if (bank) firpfbch2_crcf_destroy(bank);
    }

    void Emit(Subband& s, int index, const std::complex<float>* audio, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const float real = (audio[i] * shift[s.shiftPhase]).real() * scale;
            s.shiftPhase = (s.shiftPhase + 1) % kShiftPeriod;
            s.block[s.blockFill++] = ToSample(real);
            if (s.blockFill == kAudioBlockSamples) {
                consumer(index, s.block.data(), s.blockIndex++);
                s.blockFill = 0;
            }
        }
        s.samplesOut += static_cast<std::int64_t>(count);
    }

    // Resamples, shifts and hands on the frames gathered for one sub-band.
    void RunSubband(int index) {
        Subband& s = subbands[index];
        const std::complex<float>* in = frames.data() + index * kFramesPerDispatch;
        for (std::size_t f = 0; f < frameFill; ++f) {
            if (s.arbitrary) {
                unsigned written = 0;
                std::complex<float> x = in[f];
                resamp_crcf_execute(s.arbitrary, x, s.resampOut.data(), &written);
                Emit(s, index, s.resampOut.data(), written);
                continue;
            }
            s.resampIn[s.resampFill++] = in[f];
            if (s.resampFill == s.resampIn.size()) {
                s.rational->Execute(s.resampIn.data(), s.resampOut.data());
                Emit(s, index, s.resampOut.data(), s.resampOut.size());
                s.resampFill = 0;
            }
        }
    }

    void TakeSubbands() {
        for (int i = next.fetch_add(1); i < plan.count; i = next.fetch_add(1)) {
            try {
                RunSubband(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
            }
        }
    }

    void WorkerLoop() {
        std::uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return quitting || generation != seen; });
                if (quitting) return;
                seen = generation;
            }
            TakeSubbands();
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (--busyWorkers == 0) finished.notify_one();
            }
        }
    }

    // Runs every sub-band over the gathered frames, on the pool when there is one.
    void Dispatch() {
        if (frameFill == 0) return;
        next.store(0);
        if (workers.empty()) {
            for (int i = 0; i < plan.count; ++i) RunSubband(i);
        } else {
            {
                std::lock_guard<std::mutex> lock(mutex);
                busyWorkers = static_cast<int>(workers.size());
                ++generation;
            }
            wake.notify_all();
            TakeSubbands();
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return busyWorkers == 0; });
            if (failure) {
                frameFill = 0;
                std::rethrow_exception(std::exchange(failure, nullptr));
            }
        }
        frameFill = 0;
    }
};

Channelizer::Channelizer(double rateHz, SubbandConsumer consumer, ChannelizerOptions options)
    : plan_(PlanSubbands(rateHz)), impl_(std::make_unique<Impl>()) {
    Impl& im = *impl_;
    im.plan = plan_;
    im.consumer = std::move(consumer);
    const int channels = plan_.filterbankChannels;
    im.hop = static_cast<std::size_t>(channels / 2);
    im.input.resize(im.hop);
    im.bankOut.resize(static_cast<std::size_t>(channels));
    im.frames.resize(static_cast<std::size_t>(plan_.count) * kFramesPerDispatch);

    // Prototype: flat to kPassHz, down by kStopBandDb from kStopHz.
    const float cutoff = static_cast<float>((kPassHz + kStopHz) / 2 / rateHz);
    const float transition = static_cast<float>((kStopHz - kPassHz) / rateHz);
    const unsigned needed = estimate_req_filter_len(transition, kStopBandDb);
    const unsigned semiLength =
        std::max(2u, (needed + 2 * channels - 1) / (2 * static_cast<unsigned>(channels)));
    std::vector<float> prototype(2 * static_cast<std::size_t>(channels) * semiLength);
    liquid_firdes_kaiser(static_cast<unsigned>(prototype.size()), cutoff, kStopBandDb, 0.0f,
                         prototype.data());
    // Unity gain at a channel's centre: the analyzer's output is the prototype's tap sum / M.
    const float tapSum = std::accumulate(prototype.begin(), prototype.end(), 0.0f);
    for (float& h : prototype) h *= static_cast<float>(channels) / tapSum;
    im.bank = firpfbch2_crcf_create(LIQUID_ANALYZER, static_cast<unsigned>(channels), semiLength,
                                    prototype.data());
    if (im.bank == nullptr) throw IqError("the channelizer: liquid-dsp refused the filterbank");

    im.resampling = RationalFor(rateHz, channels);
    if (im.resampling.interp > kMaxRationalInterp) im.resampling = {};
    const double bankRateHz = 2.0 * plan_.spacingHz;
    // Resampler cut-off: midway between what must pass and where the images of the useful band
    // begin (bank rate - useful half width), at most the bank's Nyquist.
    const float bandwidth = static_cast<float>(
        std::min(kMaxResamplerBandwidth, (kPassHz + bankRateHz - kUsefulHalfWidthHz) / 2 / bankRateHz));
    im.subbands.resize(static_cast<std::size_t>(plan_.count));
    for (int i = 0; i < plan_.count; ++i) {
        Impl::Subband& s = im.subbands[i];
        const int offsetIndex = i - (plan_.count - 1) / 2;
        s.bankChannel = (offsetIndex + channels) % channels;
        // One design, copied: designing a Kaiser bank per sub-band would take seconds.
        if (im.resampling.interp != 0) {
            if (i == 0) {
                s.rational.emplace(static_cast<int>(im.resampling.interp),
                                   static_cast<int>(im.resampling.decim),
                                   ResamplerPrototype(im.resampling.interp, bandwidth), 1.0f);
            } else {
                s.rational = im.subbands[0].rational;
            }
            s.resampIn.resize(static_cast<std::size_t>(im.resampling.decim));
            s.resampOut.resize(static_cast<std::size_t>(im.resampling.interp));
        } else {
            const float ratio = static_cast<float>(kAudioRateHz / bankRateHz);
            s.arbitrary = i == 0 ? resamp_crcf_create(ratio, kResamplerSemiLength, bandwidth,
                                                      kStopBandDb, kArbitraryPhases)
                                 : resamp_crcf_copy(im.subbands[0].arbitrary);
            s.resampOut.resize(static_cast<std::size_t>(std::ceil(ratio)) + 2);
        }
        if (!s.rational && s.arbitrary == nullptr) {
            throw IqError("the channelizer: liquid-dsp refused the resampler design");
        }
    }
    for (int n = 0; n < kShiftPeriod; ++n) {
        im.shift[n] = std::polar(1.0f, static_cast<float>(2.0 * M_PI * n / kShiftPeriod) *
                                           static_cast<float>(kAudioCentreHz * kShiftPeriod /
                                                              kAudioRateHz));
    }
    im.scale = static_cast<float>(32767.0 * std::pow(10.0, options.gainDb / 20.0));

    for (int t = 1; t < options.threads; ++t) im.workers.emplace_back([&im] { im.WorkerLoop(); });
}

Channelizer::~Channelizer() = default;

void Channelizer::Process(const std::complex<float>* samples, std::size_t count) {
    Impl& im = *impl_;
    for (std::size_t i = 0; i < count;) {
        const std::size_t take = std::min(count - i, im.hop - im.inputFill);
        std::copy(samples + i, samples + i + take, im.input.begin() + im.inputFill);
        im.inputFill += take;
        i += take;
        if (im.inputFill < im.hop) break;
        im.inputFill = 0;
        firpfbch2_crcf_execute(im.bank, im.input.data(), im.bankOut.data());
        for (int s = 0; s < plan_.count; ++s) {
            im.frames[s * kFramesPerDispatch + im.frameFill] = im.bankOut[im.subbands[s].bankChannel];
        }
        if (++im.frameFill == kFramesPerDispatch) im.Dispatch();
    }
    im.Dispatch();
}

void Channelizer::Flush() {
    Impl& im = *impl_;
    im.Dispatch();
    for (int i = 0; i < plan_.count; ++i) {
        Impl::Subband& s = im.subbands[i];
        if (s.blockFill == 0) continue;
        std::fill(s.block.begin() + s.blockFill, s.block.end(), 0);
        s.blockFill = 0;
        im.consumer(i, s.block.data(), s.blockIndex++);
    }
}

std::int64_t Channelizer::AudioSamplesOut() const {
    return impl_->subbands.empty() ? 0 : impl_->subbands.front().samplesOut;
}

}  // namespace dahlo::iq
