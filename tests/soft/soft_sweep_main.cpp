// dahlo-soft-sweep: character error rate of the soft decoder on synthesized QSO texts.
//   dahlo-soft-sweep [--verbose] [--quick]
// Table 1: mean CER per SNR (in 2500 Hz), steady and with 8 dB slow fading, over 16..28 WPM
// and 700..1100 Hz. Table 2: clean and strong signals, hand keying, Farnsworth, 10..45 WPM.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "soft/soft_decoder.h"
#include "support/morse_synth.h"
#include "support/text_compare.h"

namespace {

using dahlo::test::MorseSynthOptions;

// A small deterministic generator for texts (LCG; the quality needed is "varied").
class TextRandom {
  public:
    explicit TextRandom(std::uint64_t seed) : state_(seed * 2862933555777941757ull + 3037000493ull) {}
    std::size_t Below(std::size_t n) {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::size_t>((state_ >> 33) % n);
    }
    template <std::size_t N>
    const char* Pick(const char* const (&list)[N]) {
        return list[Below(N)];
    }

  private:
    std::uint64_t state_;
};

std::string Callsign(TextRandom& r) {
    const char* const prefixes[] = {"dl", "g", "k", "w", "ok", "sp", "f", "ea", "i", "ve", "ja", "on", "pa", "ua", "9a", "oh"};
    std::string call = r.Pick(prefixes);
    call += static_cast<char>('0' + r.Below(10));
    const std::size_t n = 1 + r.Below(3);
    for (std::size_t i = 0; i < n; ++i) call += static_cast<char>('a' + r.Below(26));
    return call;
}

// A QSO-like text of about `words` words: calls, reports, names, common abbreviations.
std::string QsoText(std::uint64_t seed, int words) {
    TextRandom r(seed);
    const char* const names[] = {"hans", "bob", "jan", "peter", "ivan", "tom", "olga", "mike", "jose", "ari"};
    const char* const abbreviations[] = {"tnx", "fer", "call", "ur", "rst", "es", "hr", "wx", "pse", "k", "73", "gm",
                                         "ge", "om", "qth", "rig", "ant", "cpy", "fb", "agn", "bk", "qsl", "via", "tu"};
    const char* const reports[] = {"599", "5nn", "579", "559", "449", "339"};
    const std::string me = Callsign(r);
    const std::string you = Callsign(r);
    std::string text = you;
    text.append(" de ").append(me);
    int n = 3;
    while (n < words) {
        switch (r.Below(6)) {
            case 0: text.append(" rst ").append(r.Pick(reports)); break;
            case 1: text.append(" name ").append(r.Pick(names)); break;
            case 2: text.append(" ").append(you); break;
            case 3: text.append(" pwr ").append(std::to_string(5 + r.Below(96))).append("w"); break;
            default: text.append(" ").append(r.Pick(abbreviations)); break;
        }
        n += 2;
    }
    text.append(" ").append(you).append(" de ").append(me).append(" k");
    return text;
}

std::string Normalize(const std::string& text) {
    std::string out;
    bool space = false;
    for (const char c : text) {
        if (c == ' ') {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string Decode(const std::vector<std::int16_t>& audio, double pitch, double minConfidence = 0.0) {
    dahlo::SoftDecoderConfig config;
    config.pitch_hz = pitch;
    config.min_confidence = minConfidence;
    dahlo::SoftDecoder decoder(config);
    std::vector<dahlo::SoftChar> chars;
    constexpr std::size_t kBlock = 512;
    for (std::size_t i = 0; i < audio.size(); i += kBlock) {
        decoder.Process(audio.data() + i, std::min(kBlock, audio.size() - i), chars);
    }
    decoder.Flush(chars);
    std::string text;
    if (std::getenv("SOFT_CHARS")) {
        for (const dahlo::SoftChar& c : chars) std::fprintf(stderr, "%.2fs %s%s wpm %.1f p %.2f\n", c.sample / 11025.0, c.word_space_before ? "_" : "", c.text.data(), c.wpm, c.confidence);
    }
    for (const dahlo::SoftChar& c : chars) {
        if (c.word_space_before && !text.empty()) text += ' ';
        text += c.text.data();
    }
    return text;
}

bool g_verbose = false;

// `pitch` is the tone the decoder is told (0: the sent one).
double Cer(const std::string& sent, const MorseSynthOptions& o, double pitch = 0.0) {
    const std::string want = Normalize(sent);
    const std::string got = Normalize(Decode(dahlo::test::SynthesizeMorse(sent, o), pitch > 0.0 ? pitch : o.signal.pitch_hz));
    const double cer = static_cast<double>(dahlo::test::EditDistance(want, got)) / static_cast<double>(want.size());
    if (g_verbose) {
        std::fprintf(stderr, "wpm %.0f pitch %.0f snr %.0f qsb %.0f jitter %.2f cer %.3f\n  sent: %s\n  got:  %s\n", o.wpm,
                     o.signal.pitch_hz, o.snr_db.value_or(99.0), o.qsb_depth_db, o.jitter, cer, want.c_str(), got.c_str());
    }
    return cer;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--one") == 0 && i + 5 < argc) {
            // --one WPM PITCH SNR QSB SEED: a single recording, shown.
            g_verbose = true;
            MorseSynthOptions o;
            o.wpm = std::atof(argv[i + 1]);
            o.signal.pitch_hz = std::atof(argv[i + 2]);
            o.signal.level_dbfs = -20.0;
            if (std::atof(argv[i + 3]) < 99) o.snr_db = std::atof(argv[i + 3]);
            o.qsb_depth_db = std::atof(argv[i + 4]);
            o.seed = std::strtoull(argv[i + 5], nullptr, 10);
            Cer(QsoText(o.seed, 14), o);
            return 0;
        }
        if (std::strcmp(argv[i], "--verbose") == 0) g_verbose = true;
        else if (std::strcmp(argv[i], "--quick") == 0) quick = true;
        else {
            std::fprintf(stderr, "usage: dahlo-soft-sweep [--verbose] [--quick]\n");
            return 2;
        }
    }
    const double snrs[] = {-4, -6, -8, -10, -12};
    const double wpms[] = {16, 20, 24, 28};
    const double pitches[] = {700, 900, 1100};
    std::printf("Mean CER by SNR (dB in 2500 Hz), %zu recordings per cell (16..28 WPM, 700..1100 Hz)\n\n",
                quick ? std::size(wpms) : std::size(wpms) * std::size(pitches));
    std::printf("| signal |");
    for (const double s : snrs) std::printf(" %+.0f dB |", s);
    std::printf("\n|---|---|---|---|---|---|\n");
    for (const double qsb : {0.0, 8.0}) {
        std::printf("| %s |", qsb > 0 ? "QSB 8 dB, 7 s" : "steady");
        std::uint64_t seed = qsb > 0 ? 5000 : 1000;
        for (const double snr : snrs) {
            double sum = 0;
            int n = 0;
            for (std::size_t w = 0; w < std::size(wpms); ++w) {
                for (std::size_t p = 0; p < std::size(pitches); ++p) {
                    if (quick && p != w % std::size(pitches)) continue;
                    MorseSynthOptions o;
                    o.wpm = wpms[w];
                    o.signal.pitch_hz = pitches[p];
                    o.signal.level_dbfs = -20.0;
                    o.snr_db = snr;
                    o.qsb_depth_db = qsb;
                    o.seed = ++seed;
                    sum += Cer(QsoText(seed, 14), o);
                    ++n;
                }
            }
            std::printf(" %.3f |", sum / n);
            std::fflush(stdout);
        }
        std::printf("\n");
    }

    std::printf("\nOther signals: CER of single recordings\n\n| signal | CER |\n|---|---|\n");
    struct Case {
        const char* name;
        double wpm;
        double snr;  // >= 99: no noise
        double jitter;
        double farnsworth;
        double pitch_error_hz = 0.0;  // the tone this far above the pitch given to the decoder
    };
    const Case cases[] = {
        {"clean 10 WPM", 10, 99, 0, 0},       {"clean 20 WPM", 20, 99, 0, 0},
        {"clean 30 WPM", 30, 99, 0, 0},       {"clean 45 WPM", 45, 99, 0, 0},
        {"+10 dB 25 WPM", 25, 10, 0, 0},      {"+3 dB 18 WPM", 18, 3, 0, 0},
        {"hand 0.10 20 WPM +3 dB", 20, 3, 0.10, 0}, {"hand 0.15 18 WPM clean", 18, 99, 0.15, 0},
        {"hand 0.15 25 WPM -6 dB", 25, -6, 0.15, 0}, {"Farnsworth 20/12 clean", 20, 99, 0, 12},
        {"Farnsworth 18/10 -4 dB", 18, -4, 0, 10},
        {"-8 dB 22 WPM, 4 Hz off pitch", 22, -8, 0, 0, 4.0},
        {"-10 dB 20 WPM, 3 Hz off pitch", 20, -10, 0, 0, 3.0},
        {"-6 dB 25 WPM, 10 Hz off pitch", 25, -6, 0, 0, 10.0},
    };
    std::uint64_t seed = 9000;
    for (const Case& c : cases) {
        MorseSynthOptions o;
        o.wpm = c.wpm;
        o.signal.pitch_hz = 800;
        o.signal.level_dbfs = -15.0;
        if (c.snr < 99) o.snr_db = c.snr;
        o.jitter = c.jitter;
        o.farnsworth_wpm = c.farnsworth;
        o.seed = ++seed;
        o.signal.pitch_hz += c.pitch_error_hz;
        std::printf("| %s | %.3f |\n", c.name, Cer(QsoText(seed, 14), o, o.signal.pitch_hz - c.pitch_error_hz));
        std::fflush(stdout);
    }
    return 0;
}
