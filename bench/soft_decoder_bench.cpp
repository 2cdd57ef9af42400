// Cost of the soft decoder on a noisy signal (-8 dB in 2500 Hz, 20 WPM), acquisition included.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "per_sample_timer.h"
#include "soft/soft_decoder.h"
#include "support/morse_synth.h"

namespace {

void BM_SoftDecoderNoisy(benchmark::State& state) {
    dahlo::test::MorseSynthOptions o;
    o.wpm = 20.0;
    o.signal.pitch_hz = 800.0;
    o.snr_db = -8.0;
    const std::vector<std::int16_t> audio = dahlo::test::SynthesizeMorse(
        "cq cq de dl1abc dl1abc pse k r r ur rst 579 579 name hans qth berlin hw? bk", o);
    std::vector<dahlo::SoftChar> chars;
    chars.reserve(1000);
    const dahlo::PerSampleTimer timer;
    for (auto _ : state) {
        dahlo::SoftDecoder decoder({800.0});
        chars.clear();
        for (std::size_t i = 0; i < audio.size(); i += 512) {
            decoder.Process(audio.data() + i, std::min<std::size_t>(512, audio.size() - i), chars);
        }
        decoder.Flush(chars);
        benchmark::DoNotOptimize(chars.data());
    }
    timer.Report(state, static_cast<double>(audio.size()));
}
BENCHMARK(BM_SoftDecoderNoisy)->Unit(benchmark::kMillisecond);

}  // namespace
