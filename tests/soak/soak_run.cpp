#include "tests/soak/soak_run.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <string_view>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "receiver/receiver_host.h"
#include "support/morse_synth.h"

namespace dahlo::soak {
namespace {

constexpr double kRate = 11025.0;

enum class Stretch { kSilence, kNoise, kCwSpeeds, kCarrier, kClipping, kDc, kAlternating };
constexpr Stretch kCycle[] = {Stretch::kSilence,    Stretch::kNoise,    Stretch::kCwSpeeds,
                              Stretch::kCarrier,    Stretch::kClipping, Stretch::kDc,
                              Stretch::kAlternating};

const char* StretchName(Stretch s) {
    switch (s) {
        case Stretch::kSilence:
            return "silence";
        case Stretch::kNoise:
            return "noise";
        case Stretch::kCwSpeeds:
            return "cw 5..60 wpm";
        case Stretch::kCarrier:
            return "carrier";
        case Stretch::kClipping:
            return "clipping";
        case Stretch::kDc:
            return "dc";
        case Stretch::kAlternating:
            return "alternating full scale";
    }
    return "?";
}

// Full length of each stretch in seconds for a run of an hour or more; shorter runs scale them
// down so that every kind still comes at least once.
double BaseSeconds(Stretch s, std::mt19937_64& rng) {
    switch (s) {
        case Stretch::kSilence:
            return 40.0;
        case Stretch::kNoise:
            return 90.0;
        case Stretch::kCwSpeeds:
            return 150.0;
        case Stretch::kCarrier:  // three to ten minutes
            return std::uniform_real_distribution<double>(180.0, 600.0)(rng);
        case Stretch::kClipping:
            return 45.0;
        case Stretch::kDc:
            return 45.0;
        case Stretch::kAlternating:
            return 45.0;
    }
    return 0.0;
}

constexpr const char* kWords[] = {"the", "quick", "brown", "fox",   "jumps", "over", "lazy",
                                  "dog", "rst",   "599",   "name",  "qth",   "rig",  "ant",
                                  "wx",  "tnx",   "fb",    "om",    "73",    "es",   "hw",
                                  "cpy", "pwr",   "test",  "paris", "morse", "code", "key"};

class CountingHost final : public ReceiverHost {
  public:
    std::int64_t characters = 0;
    std::int64_t wordSpaces = 0;
    bool capturing = false;
    std::string captured;

    CountingHost() { captured.reserve(kCaptureLimit); }
    void OnChannelEvent(const ChannelEvent& event, std::string_view text) override {
        if (event.kind != ChannelEvent::kCharacter && event.kind != ChannelEvent::kWordSpace) {
            return;
        }
        const std::uint32_t code = event.code;
        if (code == 0) {
            ++wordSpaces;
        } else {
            ++characters;
        }
        if (capturing && captured.size() + text.size() < kCaptureLimit) captured += text;
    }
    void ShowFreeBuffers(int) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view, std::string_view) override {}

  private:
    static constexpr std::size_t kCaptureLimit = 4096;
};

// One stretch of audio, made a block at a time.
class Segment {
  public:
    Stretch kind = Stretch::kSilence;
    bool clean = false;  // a clean CW segment whose text must decode
    std::string text;    // its text
    std::int64_t blocks = 0;

    void Fill(std::int16_t* out, std::mt19937_64& rng) {
        for (int i = 0; i < kBlockSamples; ++i) out[i] = NextSample(rng);
        --blocks;
    }

    double pitchHz = 996.0;
    double amplitude = 0.0;
    double noiseSigma = 0.0;
    double phase = 0.0;
    std::int16_t dc = 0;
    bool high = false;
    std::vector<std::int16_t> pending;  // synthesized CW still to send
    std::size_t pendingPos = 0;
    std::vector<double> cwSpeeds;  // kCwSpeeds: the speed of each coming word

  private:
    std::int16_t NextSample(std::mt19937_64& rng) {
        if (clean || kind == Stretch::kCwSpeeds) {
            if (pendingPos >= pending.size()) {
                if (clean) return 0;  // the text is sent; silence to the end of the block
                SynthesizeWord(rng);
            }
            return pending[pendingPos++];
        }
        double v = 0.0;
        switch (kind) {
            case Stretch::kSilence:
                return 0;
            case Stretch::kNoise:
                v = normal_(rng) * noiseSigma;
                break;
            case Stretch::kCarrier:
            case Stretch::kClipping:
                v = amplitude * std::sin(phase);
                phase += 2.0 * M_PI * pitchHz / kRate;
                if (phase > 2.0 * M_PI) phase -= 2.0 * M_PI;
                v += normal_(rng) * noiseSigma;
                break;
            case Stretch::kDc:
                return dc;
            case Stretch::kAlternating:
                high = !high;
                return high ? std::int16_t{32767} : std::int16_t{-32768};
            case Stretch::kCwSpeeds:
                break;
        }
        return static_cast<std::int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }

    void SynthesizeWord(std::mt19937_64& rng) {
        test::MorseSynthOptions o;
        o.wpm = std::uniform_real_distribution<double>(5.0, 60.0)(rng);
        o.signal.pitch_hz = pitchHz;
        o.signal.level_dbfs = std::uniform_real_distribution<double>(-30.0, -3.0)(rng);
        o.snr_db = std::uniform_real_distribution<double>(0.0, 30.0)(rng);
        o.lead_silence_s = 0.0;
        o.trail_silence_s = 7.0 * 1.2 / o.wpm;
        o.seed = rng();
        const std::size_t pick = rng() % std::size(kWords);
        pending = test::SynthesizeMorse(kWords[pick], o);
        pendingPos = 0;
        if (pending.empty()) pending.assign(64, 0);
    }

    std::normal_distribution<double> normal_{0.0, 1.0};
};

std::int64_t BlocksFor(double seconds) {
    return std::max<std::int64_t>(1, std::llround(seconds * kRate / kBlockSamples));
}

double PitchOf(int bin) {
    return bin * kHzPerBin;
}

void MakeHostile(Segment& seg, Stretch kind, double scale, int centreBin, std::mt19937_64& rng) {
    seg = Segment{};
    seg.kind = kind;
    seg.blocks = BlocksFor(BaseSeconds(kind, rng) * scale);
    seg.pitchHz = PitchOf(centreBin);
    switch (kind) {
        case Stretch::kNoise:
            seg.noiseSigma = std::uniform_real_distribution<double>(300.0, 12000.0)(rng);
            break;
        case Stretch::kCarrier:
            // A station tuning up a few bins off the centre, a little noise on it.
            seg.pitchHz = PitchOf(centreBin + static_cast<int>(rng() % 7) - 3);
            seg.amplitude = std::uniform_real_distribution<double>(2000.0, 30000.0)(rng);
            seg.noiseSigma = 100.0;
            break;
        case Stretch::kClipping:
            seg.amplitude = 3.0 * 32767.0;  // clipped to a square wave by the 16-bit range
            break;
        case Stretch::kDc: {
            const std::int16_t values[] = {32767, -32768, 1000, -1};
            seg.dc = values[rng() % 4];
            break;
        }
        default:
            break;
    }
}

void MakeClean(Segment& seg, Stretch after, int centreBin, std::int64_t index,
               std::mt19937_64& rng) {
    seg = Segment{};
    seg.kind = after;
    seg.clean = true;
    std::string text = "cq cq de dl1abc";
    for (int i = 0; i < 3; ++i) {
        text += ' ';
        text += kWords[rng() % std::size(kWords)];
    }
    text += ' ';
    text += std::to_string(index);
    text += " k";
    seg.text = text;
    test::MorseSynthOptions o;
    const double speeds[] = {15.0, 20.0, 25.0, 30.0};
    o.wpm = speeds[index % 4];
    o.signal.pitch_hz = PitchOf(centreBin);  // the operator has the station tuned in
    o.signal.level_dbfs = -10.0;
    o.lead_silence_s = 2.0;
    o.trail_silence_s = 2.0;
    o.seed = rng();
    seg.pending = test::SynthesizeMorse(text, o);
    seg.blocks =
        static_cast<std::int64_t>((seg.pending.size() + kBlockSamples - 1) / kBlockSamples);
}

std::string Normalized(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    std::string out;
    while (in >> word) {
        if (!out.empty()) out += ' ';
        out += word;
    }
    return out;
}

bool Finite(double v) {
    return std::isfinite(v);
}

// Every value of the loop that must stay finite and in range; the first fault is described.
void CheckState(const BlockPump& rx, SoakReport& report, std::int64_t block) {
    bool finite = Finite(rx.Main().LongAverage) && Finite(rx.Main().DetectorThreshold) &&
                  Finite(rx.Main().Burst().BurstSum) &&
                  Finite(rx.Main().decoder.SilenceDots) && Finite(rx.Main().decoder.Wpm());
    for (double v : rx.levels.values) finite = finite && Finite(v);
    for (int b = kFirstBin; b <= kLastBin; ++b) {
        finite =
            finite && Finite(rx.spectrum.SmoothedMagnitude[b]) && Finite(rx.spectrum.PeakHold[b]);
    }
    const auto& d = rx.Main().decoder;
    const bool inRange = rx.Main().CentreBin >= kFirstBin && rx.Main().CentreBin <= kLastBin &&
                         rx.Main().Keying().KeyCount >= 0 &&
                         rx.Main().Keying().KeyCount <= rx.Main().CwFilterTreshold && d.DotLength >= 0 &&
                         d.MarkLength >= 0 && d.SpaceLength >= 0 &&
                         d.SpaceLength <= 25 * d.DotLength + 1 && d.CharCount >= 0;
    if (!finite) ++report.non_finite;
    if (!inRange) ++report.range_errors;
    if ((!finite || !inRange) && report.first_error.empty()) {
        report.first_error = "block " + std::to_string(block) + (finite ? "" : ": not finite") +
                             (inRange ? "" : ": out of range");
    }
}

}  // namespace

int SoakReport::RecoveredCount() const { return static_cast<int>(recovered_segments); }

bool SoakReport::Ok() const {
    return non_finite == 0 && range_errors == 0 && clean_segments > 0 &&
           recovered_segments == clean_segments;
}

std::string LastWords(const std::string& text, int count) {
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    std::string out;
    const std::size_t first = words.size() > static_cast<std::size_t>(count)
                                  ? words.size() - static_cast<std::size_t>(count)
                                  : 0;
    for (std::size_t i = first; i < words.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += words[i];
    }
    return out;
}

long CurrentRssKb() {
    // Free heap the allocator still holds (the generator's synthesized words come and go) is
    // given back first, so that the figure is memory in use.
    malloc_trim(0);
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKb() {
    long kb = 0;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
        }
        std::fclose(f);
    }
    return kb;
}

SoakReport RunSoak(const SoakOptions& options) {
    SoakReport report;
    const auto started = std::chrono::steady_clock::now();
    std::mt19937_64 rng(options.seed);
    const double scale = std::clamp(options.audio_seconds / 3600.0, 0.1, 1.0);
    const std::int64_t totalBlocks = BlocksFor(options.audio_seconds);

    auto ring = std::make_unique<CaptureRing>();
    CountingHost host;
    auto rx = std::make_unique<BlockPump>(*ring, host);
    report.min_centre_bin = report.max_centre_bin = rx->Main().CentreBin;

    std::vector<std::int16_t> block(kBlockSamples);
    report.recoveries.reserve(2 * SoakReport::kKeptRecoveries);
    Segment seg;
    std::size_t cycleAt = 0;
    Stretch lastHostile = Stretch::kSilence;
    MakeHostile(seg, kCycle[0], scale, rx->Main().CentreBin, rng);
    lastHostile = kCycle[0];
    std::int64_t cleanIndex = 0;
    double lastProgress = 0.0;

    for (std::int64_t b = 0; b < totalBlocks; ++b) {
        if (seg.blocks <= 0) {
            if (seg.clean) {
                Recovery r;
                r.after = StretchName(lastHostile);
                r.sent = seg.text;
                r.decoded = Normalized(host.captured);
                // Up to a handful of characters may go to adapting after the stretch; the last
                // three words must come out as sent.
                r.recovered = LastWords(r.decoded, 3) == LastWords(r.sent, 3);
                ++report.clean_segments;
                if (r.recovered) ++report.recovered_segments;
                if (report.recoveries.size() < SoakReport::kKeptRecoveries ||
                    (!r.recovered && report.recoveries.size() < 2 * SoakReport::kKeptRecoveries)) {
                    report.recoveries.push_back(std::move(r));
                }
                host.capturing = false;
                cycleAt = (cycleAt + 1) % std::size(kCycle);
                lastHostile = kCycle[cycleAt];
                MakeHostile(seg, lastHostile, scale, rx->Main().CentreBin, rng);
            } else {
                MakeClean(seg, lastHostile, rx->Main().CentreBin, cleanIndex++, rng);
                host.captured.clear();
                host.capturing = true;
            }
            // Once every kind of stretch has run, every buffer the run needs exists.
            if (!seg.clean && cycleAt == 0 && report.rss_start_kb == 0 && b > 0) {
                report.rss_start_kb = CurrentRssKb();
            }
        }
        seg.Fill(block.data(), rng);
        rx->ProcessBlock(block.data());
        report.samples += kBlockSamples;
        CheckState(*rx, report, b);
        report.min_centre_bin = std::min(report.min_centre_bin, rx->Main().CentreBin);
        report.max_centre_bin = std::max(report.max_centre_bin, rx->Main().CentreBin);
        report.max_dot_length = std::max(report.max_dot_length, rx->Main().decoder.DotLength);

        const double done = static_cast<double>(report.samples) / kRate;
        if (options.progress && done - lastProgress >= 3600.0) {
            lastProgress = done;
            options.progress(done);
        }
    }

    report.audio_seconds = static_cast<double>(report.samples) / kRate;
    report.characters = host.characters;
    report.word_spaces = host.wordSpaces;
    if (report.rss_start_kb == 0) report.rss_start_kb = CurrentRssKb();
    report.rss_end_kb = CurrentRssKb();
    report.peak_rss_kb = PeakRssKb();
    report.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return report;
}

}  // namespace dahlo::soak
