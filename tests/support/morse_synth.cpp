#include "support/morse_synth.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>

namespace dahlo::test {

namespace {

struct MorseSymbol {
    char c;
    const char* elements;
};

// International Morse, with the punctuation the English charset lists.
constexpr MorseSymbol kAlphabet[] = {
    {'a', ".-"},     {'b', "-..."},   {'c', "-.-."},    {'d', "-.."},    {'e', "."},
    {'f', "..-."},   {'g', "--."},    {'h', "...."},    {'i', ".."},     {'j', ".---"},
    {'k', "-.-"},    {'l', ".-.."},   {'m', "--"},      {'n', "-."},     {'o', "---"},
    {'p', ".--."},   {'q', "--.-"},   {'r', ".-."},     {'s', "..."},    {'t', "-"},
    {'u', "..-"},    {'v', "...-"},   {'w', ".--"},     {'x', "-..-"},   {'y', "-.--"},
    {'z', "--.."},   {'0', "-----"},  {'1', ".----"},   {'2', "..---"},  {'3', "...--"},
    {'4', "....-"},  {'5', "....."},  {'6', "-...."},   {'7', "--..."},  {'8', "---.."},
    {'9', "----."},  {'.', ".-.-.-"}, {',', "--..--"},  {'?', "..--.."}, {'/', "-..-."},
    {'=', "-...-"},  {'-', "-....-"}, {';', "-.-.-."},  {':', "---..."}, {')', "-.--.-"},
    {'(', "-.--."},  {'"', ".-..-."}, {'\'', ".----."}, {'_', "..--.-"}, {'+', ".-.-."},
    {'^', "----.-"}, {'@', ".--.-."}, {'!', "-.-.--"},  {'&', ".-..."},
};

// splitmix64: small, fast and the same on every platform (unlike std's distributions).
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) * 0x1.0p-53; }
    double Gaussian() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        const double r = std::sqrt(-2.0 * std::log(Uniform()));
        const double a = 2.0 * std::numbers::pi * Uniform();
        spare_ = r * std::sin(a);
        hasSpare_ = true;
        return r * std::cos(a);
    }

  private:
    std::uint64_t state_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

// One character to send: its elements, and whether a word space comes before it.
struct Character {
    std::string elements;
    bool wordBefore = false;
};

std::vector<Character> ParseText(std::string_view text) {
    std::vector<Character> out;
    bool pendingSpace = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            pendingSpace = !out.empty();
            continue;
        }
        Character ch;
        if (c == '<' || c == '[') {
            const char close = c == '<' ? '>' : ']';
            const std::size_t j = text.find(close, i + 1);
            if (j == std::string_view::npos) break;
            for (std::size_t k = i + 1; k < j; ++k) {
                if (c == '<') {
                    ch.elements += MorseElements(text[k]);
                } else if (text[k] == '.' || text[k] == '-') {
                    ch.elements += text[k];
                }
            }
            i = j;
        } else {
            ch.elements = MorseElements(c);
        }
        if (ch.elements.empty()) continue;
        ch.wordBefore = pendingSpace;
        pendingSpace = false;
        out.push_back(std::move(ch));
    }
    return out;
}

double Amplitude(const SignalSpec& s) {
    return s.amplitude > 0.0 ? s.amplitude : 32767.0 * std::pow(10.0, s.level_dbfs / 20.0);
}

// Adds the keyed tone of `runs` (starting at sample `offset`) into `mix`.
void AddTone(std::vector<double>& mix, const std::vector<KeyRun>& runs, std::int64_t offset,
             const SignalSpec& signal, double riseSamples) {
    const double amplitude = Amplitude(signal);
    std::int64_t pos = offset;
    const auto total = static_cast<std::int64_t>(mix.size());
    const double r = std::max(riseSamples, 1.0);
    for (const KeyRun& run : runs) {
        const std::int64_t a = pos;
        const std::int64_t b = pos + run.samples;
        pos = b;
        if (!run.down) continue;
        const std::int64_t last =
            std::min<std::int64_t>(total, b + static_cast<std::int64_t>(r) + 1);
        for (std::int64_t n = std::max<std::int64_t>(a, 0); n < last; ++n) {
            const double up = std::min(1.0, (n - a) / r);
            const double down = std::clamp(1.0 - (n - b) / r, 0.0, 1.0);
            const double x = std::min(up, down);
            const double env = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
            // Phase from the absolute time, so drift is a smooth sweep shared by all marks.
            const double t = static_cast<double>(n) / kSampleRateHz;
            const double phase = 2.0 * std::numbers::pi *
                                 (signal.pitch_hz * t + 0.5 * signal.drift_hz_per_s * t * t);
            mix[static_cast<std::size_t>(n)] += amplitude * env * std::sin(phase);
        }
    }
}

}  // namespace

std::string_view MorseElements(char c) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const MorseSymbol& s : kAlphabet) {
        if (s.c == lower) return s.elements;
    }
    return {};
}

double DotSamples(double wpm) {
    return 1.2 / wpm * kSampleRateHz;
}

std::vector<KeyRun> SynthesizeKeying(std::string_view text, const MorseSynthOptions& options) {
    double dot = 0.0;
    double letterGap = 0.0;
    double wordGap = 0.0;
    auto setSpeed = [&](double wpm) {
        dot = DotSamples(wpm);
        letterGap = 3.0 * dot;
        wordGap = 7.0 * dot;
        if (options.farnsworth_wpm > 0.0 && options.farnsworth_wpm < wpm) {
            // The 19 gap units of PARIS absorb all the time that the slower overall speed adds.
            const double f = options.farnsworth_wpm;
            const double gapUnit = (60.0 * wpm - 37.2 * f) / (wpm * f) / 19.0 * kSampleRateHz;
            letterGap = 3.0 * gapUnit;
            wordGap = 7.0 * gapUnit;
        }
        wordGap += options.extra_word_space_dots * dot;
    };
    setSpeed(options.wpm);

    Random random(options.seed);
    auto jittered = [&](double length) {
        if (options.jitter <= 0.0) return length;
        return length * std::max(0.2, 1.0 + options.jitter * random.Gaussian());
    };
    auto letterSpace = [&]() {
        if (options.letter_gap_max_dots <= 0.0) return letterGap;
        const double lo = options.letter_gap_min_dots;
        return (lo + (options.letter_gap_max_dots - lo) * random.Uniform()) * dot;
    };

    std::vector<KeyRun> runs;
    double t = 0.0;
    std::int64_t emitted = 0;
    auto push = [&](bool down, double length) {
        t += length;
        // Halves to even, so that a half-sample dot does not lengthen every mark.
        const auto boundary = static_cast<std::int64_t>(std::nearbyint(t));
        const std::int64_t samples = boundary - emitted;
        if (samples <= 0) return;
        emitted = boundary;
        if (!runs.empty() && runs.back().down == down) {
            runs.back().samples += samples;
        } else {
            runs.push_back({down, samples});
        }
    };

    push(false, options.lead_silence_s * kSampleRateHz);
    std::size_t index = 0;
    for (const Character& ch : ParseText(text)) {
        for (const MorseSynthOptions::SpeedStep& step : options.speed_steps) {
            if (step.character == index) setSpeed(step.wpm);
        }
        if (index > 0) push(false, jittered(ch.wordBefore ? wordGap : letterSpace()));
        ++index;
        for (std::size_t i = 0; i < ch.elements.size(); ++i) {
            if (i > 0) push(false, jittered(dot));
            push(true, jittered(ch.elements[i] == '-' ? 3.0 * dot : dot));
        }
    }
    push(false, options.trail_silence_s * kSampleRateHz);
    return runs;
}

std::vector<int> KeyDecisions(const std::vector<KeyRun>& runs) {
    std::vector<int> out;
    for (const KeyRun& run : runs)
        out.insert(out.end(), static_cast<std::size_t>(run.samples), run.down ? 1 : 0);
    return out;
}

double NoiseSigmaFor(double amplitude, double snr_db) {
    const double tonePower = amplitude * amplitude / 2.0;
    const double noiseIn2500 = tonePower / std::pow(10.0, snr_db / 10.0);
    return std::sqrt(noiseIn2500 * (kSampleRateHz / 2.0) / 2500.0);
}

std::vector<std::int16_t> SynthesizeMorse(std::string_view text, const MorseSynthOptions& options) {
    const std::vector<KeyRun> runs = SynthesizeKeying(text, options);
    const double rise = options.rise_time_s * kSampleRateHz;
    std::int64_t total = 0;
    for (const KeyRun& run : runs) total += run.samples;
    total += static_cast<std::int64_t>(std::ceil(rise));

    std::vector<double> mix(static_cast<std::size_t>(total), 0.0);
    AddTone(mix, runs, 0, options.signal, rise);
    if (options.qsb_depth_db > 0.0 && options.qsb_period_s > 0.0) {
        for (std::size_t n = 0; n < mix.size(); ++n) {
            const double t = static_cast<double>(n) / kSampleRateHz;
            const double depthDb = 0.5 * options.qsb_depth_db *
                                   (1.0 - std::cos(2.0 * std::numbers::pi * t / options.qsb_period_s));
            mix[n] *= std::pow(10.0, -depthDb / 20.0);
        }
    }

    if (options.interferer) {
        const Interferer& other = *options.interferer;
        MorseSynthOptions o;
        o.wpm = other.wpm;
        o.lead_silence_s = 0.0;
        o.trail_silence_s = 0.0;
        o.seed = options.seed ^ 0xA5A5A5A5u;
        const auto offset =
            static_cast<std::int64_t>(std::llround(other.start_s * kSampleRateHz));
        AddTone(mix, SynthesizeKeying(other.text, o), offset, other.signal, rise);
    }

    if (options.snr_db) {
        Random random(options.seed * 0x2545F4914F6CDD1Dull + 7);
        const double sigma = NoiseSigmaFor(Amplitude(options.signal), *options.snr_db);
        for (double& x : mix) x += sigma * random.Gaussian();
    }

    std::vector<std::int16_t> out(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        out[i] = static_cast<std::int16_t>(std::clamp(std::lround(mix[i]), -32768L, 32767L));
    }
    return out;
}

}  // namespace dahlo::test
