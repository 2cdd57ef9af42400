// The wideband front end at 192 kHz: filterbank, resampling and audio for every sub-band, the
// consumer doing nothing. Reports seconds of IQ per second of CPU (all threads) and of wall
// time, and how much the resident memory grew after the first second: it must stay flat.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <complex>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "iq/channelizer.h"

namespace dahlo {
namespace {

constexpr double kRateHz = 192000.0;

double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

long ResidentKiB() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// One second of a band: forty tones in noise.
std::vector<std::complex<float>> OneSecond() {
    std::vector<std::complex<float>> x(static_cast<std::size_t>(kRateHz));
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.003f);
    for (std::size_t n = 0; n < x.size(); ++n) {
        std::complex<float> v(noise(random), noise(random));
        for (int s = 0; s < 40; ++s) {
            const double hz = -90000.0 + 4500.0 * s + 37.0;
            v += std::polar(0.01f, static_cast<float>(2 * M_PI * std::fmod(hz * n / kRateHz, 1.0)));
        }
        x[n] = v;
    }
    return x;
}

void BM_Channelizer192k(benchmark::State& state) {
    static const std::vector<std::complex<float>> second = OneSecond();
    std::int64_t blocks = 0;
    iq::Channelizer channelizer(
        kRateHz, [&](int, const std::int16_t* block, std::int64_t) {
            benchmark::DoNotOptimize(block[0]);
            ++blocks;  // each sub-band's blocks come on one thread; the count is only a counter
        },
        {iq::kDefaultAudioGainDb, static_cast<int>(state.range(0))});
    constexpr std::size_t kChunk = 16384;  // what a live reader hands on at a time
    channelizer.Process(second.data(), second.size());  // warm up: every buffer in place
    const long residentAfterWarmUp = ResidentKiB();
    const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = Seconds(CLOCK_MONOTONIC);
    std::int64_t seconds = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < second.size(); i += kChunk) {
            channelizer.Process(second.data() + i, std::min(kChunk, second.size() - i));
        }
        ++seconds;
    }
    const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double wall = Seconds(CLOCK_MONOTONIC) - wall0;
    state.counters["x_realtime_cpu"] = static_cast<double>(seconds) / cpu;
    state.counters["x_realtime_wall"] = static_cast<double>(seconds) / wall;
    state.counters["subbands"] = channelizer.Plan().count;
    state.counters["rss_growth_kib"] = static_cast<double>(ResidentKiB() - residentAfterWarmUp);
    state.counters["rss_kib"] = static_cast<double>(ResidentKiB());
}
BENCHMARK(BM_Channelizer192k)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->MinTime(5.0);

}  // namespace
}  // namespace dahlo
