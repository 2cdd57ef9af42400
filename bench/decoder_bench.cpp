// Cost of one DecodeSample on realistic keying: 20 wpm plain text through the integrator.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "morse/keying_detector.h"
#include "morse/morse_decoder.h"

namespace {

// Key decisions for a short QSO text at `wpm`, each element and gap varied by up to +-10% as a
// hand key would (fixed seed).
std::vector<int> RealisticKeying(double wpm) {
    const char* words[] = {
        "-.-. --.-",           "-.-. --.-",     "-.. .",      "-.. .-.. .---- .- -... -.-.",
        ".--. ... .",          "-.-",           "- .... .",   "--.- ..- .. -.-. -.-",
        "-... .-. --- .-- -.", "..-. --- -..-", "....- ....."};
    const double dot = 13230.0 / wpm;
    std::uint32_t seed = 12345;
    auto vary = [&](double length) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>(length * (0.9 + 0.2 * (seed >> 8) / 16777216.0));
    };
    std::vector<int> keys(static_cast<std::size_t>(vary(7 * dot)), 0);
    auto key = [&](int down, double length) { keys.insert(keys.end(), vary(length), down); };
    for (const char* word : words) {
        for (const char* p = word; *p != '\0'; ++p) {
            if (*p == ' ') {
                key(0, 2 * dot);  // letter gap: 3 dots with the element gap before it
                continue;
            }
            key(1, *p == '-' ? 3 * dot : dot);
            key(0, dot);
        }
        key(0, 6 * dot);
    }
    return keys;
}

void BM_DecodeSample(benchmark::State& state) {
    const std::vector<int> keys = RealisticKeying(static_cast<double>(state.range(0)));
    dahlo::MorseDecoder decoder;
    dahlo::KeyingDetector keying;
    std::int64_t events = 0;
    for (auto _ : state) {
        for (const int key : keys) {
            const dahlo::DecodeResult r = decoder.DecodeSample(key, keying, 175);
            events += r.kind != dahlo::DecodeResult::kNothing ? 1 : 0;
        }
        benchmark::DoNotOptimize(events);
    }
    const auto samples = static_cast<std::int64_t>(keys.size()) * state.iterations();
    state.SetItemsProcessed(samples);
    // Seconds of audio per second of decoding.
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 11025.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeSample)->Arg(20)->Arg(40);

}  // namespace
