#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>

#include "dsp/main_filter.h"

namespace dahlo {

// Benchmark's own rate counters print with a "/s" or "s" unit; these are plain numbers:
// nanoseconds of this thread's CPU time per sample, and seconds of sound per second of CPU.
class PerSampleTimer {
  public:
    PerSampleTimer() : start_(ThreadCpuSeconds()) {}
    void Report(benchmark::State& state, double samplesPerIteration) const {
        const double seconds = ThreadCpuSeconds() - start_;
        const double samples = samplesPerIteration * static_cast<double>(state.iterations());
        state.counters["ns_per_sample"] = seconds * 1e9 / samples;
        state.counters["x_realtime"] = samples / kSampleRateHz / seconds;
        state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    }

  private:
    static double ThreadCpuSeconds() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
    double start_;
};

}  // namespace dahlo
