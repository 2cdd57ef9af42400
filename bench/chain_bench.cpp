#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <memory>
#include <numbers>
#include <random>
#include <string_view>
#include <vector>

#include "dsp/burst_filter.h"
#include "morse/keying_detector.h"
#include "dsp/main_filter.h"
#include "receiver/block_pump.h"
#include "per_sample_timer.h"

namespace {

using namespace dahlo;

constexpr double kSampleScale = 1.0 / 16384.0;

// Two seconds of a keyed 996 Hz tone at 20 WPM ("CQ" repeated: dot 661 samples) in white noise
// at about 10 dB SNR in the 100 Hz band, as 16-bit samples.
std::vector<std::int16_t> NoisyKeyedTone() {
    const int dot = 661;
    // 1 = key down for one dot length, 0 = up; C Q and a word space.
    const int pattern[] = {1, 1, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 0, 0, 1, 1, 1,
                           0, 1, 1, 1, 0, 1, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    const int patternLength = sizeof(pattern) / sizeof(pattern[0]);
    std::mt19937 rng(1234);
    std::normal_distribution<double> noise(0.0, 1500.0);
    const double omega = 2.0 * std::numbers::pi * kDefaultCentreBin * kHzPerBin / kSampleRateHz;
    std::vector<std::int16_t> samples(2 * static_cast<int>(kSampleRateHz));
    for (int n = 0; n < static_cast<int>(samples.size()); ++n) {
        const double tone = pattern[(n / dot) % patternLength] ? 4000.0 * std::sin(omega * n) : 0;
        const double v = std::clamp(std::round(tone + noise(rng)), -32768.0, 32767.0);
        samples[n] = static_cast<std::int16_t>(v);
    }
    return samples;
}


// The per-sample part of the processing loop from the 16-bit sample to the debounced key.
void BM_SampleChain(benchmark::State& state) {
    const std::vector<std::int16_t> samples = NoisyKeyedTone();
    MainFilter filter;
    filter.SelectRow(
        FilterCoefficientTables(static_cast<int>(state.range(0))).Row(kDefaultCentreBin));
    BurstFilter burst;
    burst.BurstWindow = BurstWindowFor(kDefaultIntegrationLength);
    KeyingDetector key;
    double longAverage = 0.0;
    double threshold = 0.1;
    int keyDownSamples = 0;
    const PerSampleTimer timer;
    for (auto _ : state) {
        for (const std::int16_t s : samples) {
            const double x = s * kSampleScale;
            const double y = filter.MainFilterStep(x);
            const double e = burst.BurstFilterStep(y);
            longAverage = (longAverage * 10000.0 + e) / 10001.0;
            threshold = 0.6 * longAverage;
            const int rawKeyDown = e > threshold ? 1 : 0;
            keyDownSamples += key.IntegrateKey(rawKeyDown, kDefaultIntegrationLength);
        }
        benchmark::DoNotOptimize(keyDownSamples);
    }
    timer.Report(state, static_cast<double>(samples.size()));
}
BENCHMARK(BM_SampleChain)->Arg(kNarrow)->Arg(kWide)->Arg(kVeryWide);

// The band-pass alone, for the share of the chain it takes.
void BM_MainFilterStep(benchmark::State& state) {
    const std::vector<std::int16_t> samples = NoisyKeyedTone();
    MainFilter filter;
    filter.SelectRow(FilterCoefficientTables(kNarrow).Row(kDefaultCentreBin));
    double sum = 0.0;
    const PerSampleTimer timer;
    for (auto _ : state) {
        for (const std::int16_t s : samples) sum += filter.MainFilterStep(s * kSampleScale);
        benchmark::DoNotOptimize(sum);
    }
    timer.Report(state, static_cast<double>(samples.size()));
}
BENCHMARK(BM_MainFilterStep);

// Designing all 3 x 421 rows, as happens once at start-up.
void BM_BuildFilterTables(benchmark::State& state) {
    auto tables = std::make_unique<FilterCoefficientTable[]>(3);
    for (auto _ : state) {
        for (int width = 0; width < 3; ++width) {
            for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
                tables[width].rows[bin - kFirstBin] = DesignFilterRow(width, bin);
            }
        }
        benchmark::DoNotOptimize(tables.get());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildFilterTables)->Unit(benchmark::kMillisecond);

}  // namespace

// The whole receiver, block by block as the capture loop runs it: filter, envelope, threshold,
// decoder and charset for every sample; transform, AFC, GoToMax and smoothing once per block.
class NullHost final : public ReceiverHost {
  public:
    void OnChannelEvent(const ChannelEvent&, std::string_view text) override {
        benchmark::DoNotOptimize(text.data());
    }
    void ShowFreeBuffers(int) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view, std::string_view) override {}
};

void BM_ReceiverBlocks(benchmark::State& state) {
    const std::vector<std::int16_t> input = NoisyKeyedTone();
    const int blocks = static_cast<int>(input.size()) / kBlockSamples;
    auto ring = std::make_unique<CaptureRing>();
    NullHost host;
    auto receiver = std::make_unique<BlockPump>(*ring, host);
    receiver->Main().autoGoToMax = true;
    PerSampleTimer timer;
    for (auto _ : state) {
        for (int b = 0; b < blocks; ++b) receiver->ProcessBlock(input.data() + b * kBlockSamples);
    }
    timer.Report(state, static_cast<double>(blocks) * kBlockSamples);
}
BENCHMARK(BM_ReceiverBlocks);

// The same input through N channels spread over the band on one shared spectrum; the time is
// per input sample, so each extra channel adds (time(N) - time(1)) / (N - 1).
void BM_ReceiverBlocksChannels(benchmark::State& state) {
    const std::vector<std::int16_t> input = NoisyKeyedTone();
    const int blocks = static_cast<int>(input.size()) / kBlockSamples;
    auto ring = std::make_unique<CaptureRing>();
    NullHost host;
    auto receiver = std::make_unique<BlockPump>(*ring, host);
    const int count = static_cast<int>(state.range(0));
    for (int c = 1; c < count; ++c) {
        Channel channel(c);
        channel.SetCentreBin(kFirstBin + (c * 37) % (kLastBin - kFirstBin));
        receiver->channels.push_back(channel);
    }
    PerSampleTimer timer;
    for (auto _ : state) {
        for (int b = 0; b < blocks; ++b) receiver->ProcessBlock(input.data() + b * kBlockSamples);
    }
    timer.Report(state, static_cast<double>(blocks) * kBlockSamples);
}
BENCHMARK(BM_ReceiverBlocksChannels)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16);
