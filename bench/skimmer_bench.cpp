// The skimmer over a recorded band, as dahlo-decode --skim reads a file: finder, channel
// presets and catch-up, every channel, lines and spots.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "per_sample_timer.h"
#include "support/band_synth.h"
#include "skimmer/skimmer.h"

namespace dahlo {
namespace {

// Twelve stations 600..2300 Hz, 15..35 WPM, 30 s.
std::vector<std::int16_t> TwelveStations() {
    std::vector<test::BandStation> band = test::TwelveStationBand();
    for (auto& s : band) s.text = s.text + " " + s.text + " " + s.text;
    return test::SynthesizeBand(band, test::TestBandNoiseSigma(), 1, 3.0);
}

// The same with four of them weak (0..-6 dB SNR), read by the soft decoder.
std::vector<std::int16_t> TwelveStationsFourWeak() {
    return test::SynthesizeBand(test::WeakStationBand(), test::TestBandNoiseSigma(), 1, 3.0);
}

void RunSkimmer(benchmark::State& state, const std::vector<std::int16_t>& audio) {
    const std::size_t blocks = audio.size() / kBlockSamples;
    PerSampleTimer timer;
    int channels = 0;
    for (auto _ : state) {
        StringSink sink;
        auto skimmer = std::make_unique<Skimmer>(sink, SkimOptions{});
        for (std::size_t b = 0; b < blocks; ++b) {
            skimmer->Pump().ProcessBlock(audio.data() + b * kBlockSamples);
        }
        skimmer->Finish();
        channels = skimmer->ChannelsEverOpened();
        benchmark::DoNotOptimize(sink.text.data());
    }
    timer.Report(state, static_cast<double>(blocks * kBlockSamples));
    state.counters["channels"] = channels;
}

void BM_SkimmerTwelveStations(benchmark::State& state) { RunSkimmer(state, TwelveStations()); }
BENCHMARK(BM_SkimmerTwelveStations)->Unit(benchmark::kMillisecond);

void BM_SkimmerTwelveStationsFourWeak(benchmark::State& state) {
    RunSkimmer(state, TwelveStationsFourWeak());
}
BENCHMARK(BM_SkimmerTwelveStationsFourWeak)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dahlo
