// dahlo-soak: hours of hostile audio through the receiver loop, as fast as it goes.
//   dahlo-soak [--hours H] [--seed N]      (default 24 hours, seed 1)
// Prints the figures and every failed recovery; exits 1 when any check failed.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/soak/soak_run.h"

int main(int argc, char** argv) {
    dahlo::soak::SoakOptions options;
    options.audio_seconds = 24 * 3600.0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--hours") == 0) {
            options.audio_seconds = std::atof(argv[i + 1]) * 3600.0;
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            options.seed = std::strtoull(argv[i + 1], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: dahlo-soak [--hours H] [--seed N]\n");
            return 2;
        }
    }
    options.progress = [](double seconds) {
        std::fprintf(stderr, "  %.0f h of audio done\n", seconds / 3600.0);
    };
    const auto r = dahlo::soak::RunSoak(options);

    std::printf("audio:            %.2f h (%lld samples), seed %llu\n", r.audio_seconds / 3600.0,
                static_cast<long long>(r.samples), static_cast<unsigned long long>(options.seed));
    std::printf("wall time:        %.1f s, %.0f times real time\n", r.wall_seconds,
                r.audio_seconds / r.wall_seconds);
    std::printf("decoded:          %lld characters, %lld word spaces\n",
                static_cast<long long>(r.characters), static_cast<long long>(r.word_spaces));
    std::printf("non-finite:       %lld blocks, out of range: %lld blocks %s\n",
                static_cast<long long>(r.non_finite), static_cast<long long>(r.range_errors),
                r.first_error.c_str());
    std::printf("RSS:              %ld kB after the first cycle, %ld kB at the end, peak %ld kB\n",
                r.rss_start_kb, r.rss_end_kb, r.peak_rss_kb);
    std::printf("centre bin:       %d..%d, largest dot length %lld samples\n", r.min_centre_bin,
                r.max_centre_bin, static_cast<long long>(r.max_dot_length));
    std::printf("recoveries:       %d of %lld clean segments decoded their last words\n",
                r.RecoveredCount(), static_cast<long long>(r.clean_segments));
    for (const auto& rec : r.recoveries) {
        if (!rec.recovered) {
            std::printf("  after %s: sent \"%s\", got \"%s\"\n", rec.after.c_str(),
                        rec.sent.c_str(), rec.decoded.c_str());
        }
    }
    const bool rssOk = !dahlo::soak::kRssIsMeaningful || r.rss_end_kb <= r.rss_start_kb + 1024;
    std::printf("memory growth:    %+ld kB (%s)\n", r.rss_end_kb - r.rss_start_kb,
                !dahlo::soak::kRssIsMeaningful ? "not judged under ASan"
                : rssOk                        ? "ok"
                                               : "GROWING");
    const bool ok = r.Ok() && rssOk;
    std::printf("%d passed, %d failed\n", ok ? 1 : 0, ok ? 0 : 1);
    return ok ? 0 : 1;
}
