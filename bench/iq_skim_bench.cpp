// dahlo-decode --iq over 10 s of a synthesized 192 kHz band (16-bit stereo WAV), on one thread:
// reading, channelizer, every sub-band's spectrum, finder and channels, the merge. Reports
// seconds of band per second of CPU; the argument is the number of stations (0: noise only).
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include "cli/decode_main.h"
#include "iq/iq_band_synth.h"

namespace dahlo {
namespace {

constexpr double kRateHz = 192000.0;
constexpr double kSeconds = 10.0;
constexpr std::uint64_t kSeed = 1;

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The band's file, written once per station count and removed at exit.
class BandFiles {
  public:
    ~BandFiles() {
        for (const auto& [stations, path] : paths_) unlink(path.c_str());
    }
    const std::string& For(int stations) {
        auto it = paths_.find(stations);
        if (it != paths_.end()) return it->second;
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/dahlo-iq-bench-XXXXXX.wav";
        const int fd = mkstemps(path.data(), 4);
        if (fd < 0) return paths_[stations] = "";
        close(fd);
        const test::IqBand band =
            test::RandomIqBand(stations, kRateHz, 7020000.0, kSeconds, kSeed);
        if (!test::WriteIqWav(path, test::SynthesizeIqBand(band, kSeed), kRateHz, false).empty()) {
            unlink(path.c_str());
            path.clear();
        }
        return paths_[stations] = path;
    }

  private:
    std::map<int, std::string> paths_;
};

void BM_IqSkim192k(benchmark::State& state) {
    static BandFiles files;
    const std::string& path = files.For(static_cast<int>(state.range(0)));
    if (path.empty()) {
        state.SkipWithError("cannot write the band to TMPDIR");
        return;
    }
    std::FILE* null = std::fopen("/dev/null", "w");
    DecodeStreams streams;
    streams.out = null;
    const double cpu0 = CpuSeconds();
    for (auto _ : state) {
        const int status = RunDecodeTool(
            {"--iq", path, "--centre", "7020", "--events", "--threads", "1"}, streams);
        if (status != kExitOk) state.SkipWithError("dahlo-decode failed");
    }
    const double cpu = CpuSeconds() - cpu0;
    std::fclose(null);
    state.counters["x_realtime_cpu"] = kSeconds * static_cast<double>(state.iterations()) / cpu;
}
BENCHMARK(BM_IqSkim192k)->Arg(0)->Arg(150)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace dahlo
