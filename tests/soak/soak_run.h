#pragma once
// Long runs of hostile audio through the receiver loop: silence, noise, CW at speeds from 5 to
// 60 WPM, a carrier left on for minutes, full-scale clipping, DC and a full-scale square wave
// at half the sample rate, each followed by a clean CW segment that must decode again. The audio
// is made block by block from a seed, so a run needs no files and little memory, and the same
// seed always gives the same audio.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dahlo::soak {

struct SoakOptions {
    double audio_seconds = 600.0;
    std::uint64_t seed = 1;
    // Called now and then with the audio seconds done; may print progress.
    std::function<void(double)> progress;
};

struct Recovery {
    std::string after;    // the kind of stretch before the clean segment
    std::string sent;     // the clean text
    std::string decoded;  // what the receiver gave for the clean segment
    bool recovered = false;
};

struct SoakReport {
    double audio_seconds = 0.0;
    double wall_seconds = 0.0;
    std::int64_t samples = 0;
    std::int64_t characters = 0;  // character ends handed to the host
    std::int64_t word_spaces = 0;
    std::int64_t non_finite = 0;    // blocks with NaN or infinity anywhere in the state
    std::int64_t range_errors = 0;  // blocks with a centre, key count or length out of range
    std::string first_error;
    long rss_start_kb = 0;  // after the first cycle of stretches, when every buffer exists
    long rss_end_kb = 0;
    long peak_rss_kb = 0;
    int min_centre_bin = 0;
    int max_centre_bin = 0;
    std::int64_t max_dot_length = 0;
    std::int64_t clean_segments = 0;      // clean segments after a hostile stretch
    std::int64_t recovered_segments = 0;  // of those, the ones whose last words came out right
    // The first kKeptRecoveries clean segments in full, and every failed one up to as many more:
    // keeping all of a long run would make the run's own bookkeeping grow with its length.
    static constexpr std::size_t kKeptRecoveries = 64;
    std::vector<Recovery> recoveries;

    int RecoveredCount() const;
    bool Ok() const;
};

SoakReport RunSoak(const SoakOptions& options);

// The last `count` blank-separated words of `text`, joined by one blank.
std::string LastWords(const std::string& text, int count);

// False under AddressSanitizer, whose quarantine keeps freed memory resident on purpose, so
// RSS says nothing about leaks there (LeakSanitizer does that job instead).
constexpr bool kRssIsMeaningful =
#if defined(__SANITIZE_ADDRESS__)
    false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    false;
#else
    true;
#endif
#else
    true;
#endif

// Resident set size of this process in kB, from /proc/self/statm, and its peak (VmHWM).
long CurrentRssKb();
long PeakRssKb();

}  // namespace dahlo::soak
