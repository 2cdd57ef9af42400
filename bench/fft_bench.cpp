#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/fft.h"
#include "dsp/spectrum.h"

namespace {

std::vector<std::int16_t> NoiseBlock(int n) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::int16_t> x(n);
    for (auto& s : x) s = static_cast<std::int16_t>(dist(rng));
    return x;
}

// One capture block's transform; a block lasts 185.8 ms, so real time is 185.8 ms / time.
void BM_MixedRadixFft2048(benchmark::State& state) {
    const auto x = NoiseBlock(2048);
    dahlo::FftWorkspace work;
    std::vector<double> re(2048), im(2048);
    for (auto _ : state) {
        dahlo::MixedRadixFft(work, 2048, x.data(), re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] = benchmark::Counter(
        2048.0 / 11025.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MixedRadixFft2048);

// A length that runs the 10-point and general odd modules.
void BM_MixedRadixFft1001(benchmark::State& state) {
    const auto x = NoiseBlock(1001);
    dahlo::FftWorkspace work;
    std::vector<double> re(1001), im(1001);
    for (auto _ : state) {
        dahlo::MixedRadixFft(work, 1001, x.data(), re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MixedRadixFft1001);

void BM_SmoothSpectrum(benchmark::State& state) {
    const auto x = NoiseBlock(2048);
    dahlo::FftWorkspace work;
    dahlo::SpectrumState spectrum;
    dahlo::MixedRadixFft(work, 2048, x.data(), spectrum.SpectrumRe.data(),
                         spectrum.SpectrumIm.data());
    for (auto _ : state) {
        dahlo::SmoothSpectrum(spectrum);
        benchmark::DoNotOptimize(spectrum.PeakHold.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SmoothSpectrum);

}  // namespace
