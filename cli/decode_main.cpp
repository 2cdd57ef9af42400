#include "cli/decode_main.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "dsp/main_filter.h"
#include "settings/settings.h"
#include "cli/decode_options.h"
#include "decode/decode_session.h"
#include "cli/live_decode.h"
#include "decode/presets.h"
#include "decode/soft_session.h"
#include "recording/sample_source.h"
#include "cli/skim_main.h"
#include "cli/iq_skim.h"
#include "decode/stream_presets.h"

namespace dahlo {

namespace {

constexpr std::int64_t kProgressMinimumSamples = 60LL * kSampleRateHz;

class TerminalProgress : public ProgressReporter {
  public:
    explicit TerminalProgress(std::FILE* err) : err_(err) {}
    void Update(double fraction) override {
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent == shown_ || percent < 0 || percent > 100) return;
        shown_ = percent;
        char bar[41];
        const int filled = percent * 40 / 100;
        for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
        bar[40] = '\0';
        std::fprintf(err_, "\r[%s] %3d%%", bar, percent);
        std::fflush(err_);
        drawn_ = true;
    }
    void Clear() {
        if (!drawn_) return;
        std::fprintf(err_, "\r%50s\r", "");
        std::fflush(err_);
        drawn_ = false;
    }

  private:
    std::FILE* err_;
    int shown_ = -1;
    bool drawn_ = false;
};

class ScaledProgress : public ProgressReporter {
  public:
    ScaledProgress(ProgressReporter* inner, double start, double span)
        : inner_(inner), start_(start), span_(span) {}
    void Update(double fraction) override {
        if (inner_ != nullptr) inner_->Update(start_ + span_ * fraction);
    }

  private:
    ProgressReporter* inner_;
    double start_;
    double span_;
};

void Fail(std::FILE* err, const std::string& line) {
    std::fprintf(err, "dahlo-decode: %s\n", line.c_str());
}

// The window's controls from a settings file, as its first activation applies them.
std::optional<std::string> ApplySettingsFile(const std::string& path, ReceiverControls& controls,
                                             std::FILE* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return path + ": is a directory, not a settings file";
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        std::fclose(probe);
    } else {
        return path + ": " + std::strerror(errno);
    }
    const std::int64_t warmStartDot = controls.warmStartDot;
    controls = ControlsFromSettings(LoadSettings(path));
    controls.warmStartDot = warmStartDot;
    if (controls.charset == kUserDefined) {
        // As in the window: a user charset that cannot be read leaves English.
        try {
            auto charsets = std::make_unique<Charsets>();
            LoadUserCharsetOrThrow(*charsets, controls.userCharsetFile);
        } catch (const InputError& e) {
            std::fprintf(err, "dahlo-decode: warning: %s; using the English charset\n", e.what());
            controls.charset = kEnglish;
        }
    }
    return std::nullopt;
}

// Why nothing was printed, in one line, when it was not.
void ExplainSilence(const DecodeHost& host, std::FILE* err) {
    const std::int64_t printed = host.Characters() - host.SquelchedCharacters();
    const DecodeHost::ScopeLook& scope = host.Scope();
    if (printed > 0 || scope.ticks == 0) return;
    char line[400];
    const double hz = scope.centreBin * kHzPerBin;
    if (host.Characters() > 0) {
        std::snprintf(line, sizeof line,
                      "nothing printed: the %lld characters decoded did not look like Morse "
                      "(noise keyed into the decoder at %.1f Hz)",
                      static_cast<long long>(host.Characters()), hz);
    } else if (!(scope.peak > 0.0)) {
        std::snprintf(line, sizeof line, "no character decoded: the input is silent at %.1f Hz",
                      hz);
    } else if (!scope.autoThreshold && scope.peak <= scope.threshold) {
        std::snprintf(line, sizeof line,
                      "no character decoded: the envelope at %.1f Hz never crossed the threshold "
                      "%.4g (its peak was %.4g)",
                      hz, scope.threshold, scope.peak);
    } else if (scope.above * 10 >= scope.ticks * 9) {
        std::snprintf(line, sizeof line,
                      "no character decoded: the envelope at %.1f Hz stood above the threshold "
                      "%.4g nearly all the time (a steady carrier, or noise over too low a "
                      "threshold)",
                      hz, scope.threshold);
    } else {
        std::snprintf(line, sizeof line,
                      "no character decoded: the envelope at %.1f Hz crossed the threshold %.4g "
                      "only briefly (its peak was %.4g): too short for the burst filter to key",
                      hz, scope.threshold, scope.peak);
    }
    Fail(err, line);
}

// `host`: the loop, which may have read a stream before the soft decoder took it over.
void ExplainSoftSilence(const SoftSession& soft, const DecodeHost& host, std::FILE* err) {
    if (soft.Characters() > soft.SquelchedCharacters() || host.WroteText()) return;
    char line[200];
    std::snprintf(line, sizeof line,
                  "nothing printed: the soft decoder found no sure Morse at %.1f Hz (%lld "
                  "characters read from noise)",
                  soft.PitchHz(), static_cast<long long>(soft.Characters()));
    Fail(err, line);
}

}  // namespace

int RunDecodeTool(const std::vector<std::string>& args, const DecodeStreams& streams) {
    DecodeOptions options;
    if (auto error = ParseDecodeOptions(args, options)) {
        Fail(streams.err, *error);
        return kExitFailure;
    }
    if (options.help) {
        std::fputs(DecodeUsage().c_str(), streams.out);
        return kExitOk;
    }
    if (options.version) {
        std::fprintf(streams.out, "dahlo-decode %s\n", DAHLO_VERSION);
        return kExitOk;
    }

    if (options.iqPath || options.sdrArgs || options.liveIq) return RunIqSkim(options, streams);
    if (options.skim) return RunSkim(options, streams);

    ReceiverControls controls;
    PresetRequest request;
    request.warmStart = !options.coldStart;
    if (options.settingsFile) {
        if (auto error = ApplySettingsFile(*options.settingsFile, controls, streams.err)) {
            Fail(streams.err, "option --settings: " + *error);
            return kExitFailure;
        }
        // A settings file names every control.
        request.centreBin = controls.centreBin;
        request.filterWidth = controls.filterWidth;
        request.threshold = controls.threshold;
        request.burstLpm = 0;
        request.afcGiven = true;
    }
    if (options.filterWidth) controls.filterWidth = *options.filterWidth;
    if (options.centreBin) controls.centreBin = *options.centreBin;
    if (options.burstLpm) controls.integrationLength = IntegrationLengthFor(*options.burstLpm);
    if (options.threshold) controls.threshold = *options.threshold;
    if (options.autoThreshold) controls.autoThreshold = *options.autoThreshold;
    if (options.afc) controls.afc = *options.afc;
    if (options.afcSpeed) controls.afcSpeed = *options.afcSpeed;
    if (options.autoGoToMax) controls.autoGoToMax = *options.autoGoToMax;
    if (options.afc) request.afcGiven = true;
    if (options.charset) {
        controls.charset = *options.charset;
        controls.userCharsetFile = options.charsetFile;
    }
    // When a settings file gave the speed, keep its integration length as it is.
    if (options.burstLpm || (request.burstLpm && *request.burstLpm == 0)) {
        request.burstLpm = options.burstLpm.value_or(ShownBurstSpeed(controls.integrationLength));
    }
    if (options.centreBin) request.centreBin = options.centreBin;
    if (options.filterWidth) request.filterWidth = options.filterWidth;
    if (options.threshold) request.threshold = options.threshold;
    if (controls.autoThreshold) request.threshold = 0.0;  // nothing to preset

    OutputFormat format;
    format.encoding = options.cp1251 ? TextEncoding::kCp1251 : TextEncoding::kUtf8;
    format.events = options.events;
    FileSink sink(streams.out);
    DecodeHost host(sink, format);
    std::optional<SoftSession> soft;  // the soft decoder, where it reads the input
    const auto softWanted = [&](const PresetPlan& plan) {
        return options.decoder == "soft" ||
               (options.decoder == "auto" && PrefersSoftDecoder(plan, request));
    };
    // A stream's decoder, chosen at the look-ahead's first look.
    const auto chooseSoft = [&](const PresetPlan& plan) -> SoftSession* {
        if (!softWanted(plan)) return nullptr;
        if (options.verbose) Fail(streams.err, DescribeSoftChoice(plan));
        return &soft.emplace(sink, format, plan);
    };

    try {
        // The charset file is checked before any audio is looked at.
        if (controls.charset == kUserDefined) {
            auto charsets = std::make_unique<Charsets>();
            LoadUserCharsetOrThrow(*charsets, controls.userCharsetFile);
        }

        if (options.input == InputKind::kLive) {
            if (!options.coldStart) host.EnableSquelch();
            const int status =
                RunLiveDecode(controls, options.coldStart ? nullptr : &request, host, streams.stop,
                              streams.err, options.verbose, chooseSoft);
            if (!soft) host.Finish();  // else the soft decoder ended the text
            if (status == kExitOk) {
                if (soft) {
                    ExplainSoftSilence(*soft, host, streams.err);
                } else {
                    ExplainSilence(host, streams.err);
                }
            }
            return status;
        }

        std::unique_ptr<SampleSource> source = options.input == InputKind::kStdin
                                                   ? OpenRawStream(streams.in, "standard input")
                                                   : OpenAudioFile(options.path);
        const bool isFile = options.input == InputKind::kFile;
        std::optional<TerminalProgress> bar;
        if (streams.progressBar && isFile && source->Length() > kProgressMinimumSamples) {
            bar.emplace(streams.err);
        }
        ProgressReporter* progress = bar ? &*bar : nullptr;

        std::int64_t samples = 0;
        if (isFile && !options.coldStart) {
            // The look at the file takes about three quarters of the work.
            constexpr double kDecodeStart = 0.75;
            ScaledProgress scaled(progress, 0.0, kDecodeStart);
            const PresetPlan plan =
                PlanPresets(*source, request, controls, progress ? &scaled : nullptr);
            if (!source->Rewind()) throw InputError(source->Name() + ": cannot read it again");
            if (options.verbose) {
                if (bar) bar->Clear();
                Fail(streams.err, "presets: " + DescribeControls(plan, "looked at the file"));
            }
            if (softWanted(plan)) {
                if (options.verbose) Fail(streams.err, DescribeSoftChoice(plan));
                soft.emplace(sink, format, plan);
                samples = soft->Decode(*source, streams.stop, progress, kDecodeStart,
                                       1.0 - kDecodeStart);
                soft->Finish();
            } else {
                host.EnableSquelch();
                samples = DecodePlanned(*source, plan, host, streams.stop, progress, kDecodeStart,
                                        1.0 - kDecodeStart);
            }
        } else if (!isFile && !options.coldStart) {
            // A stream is looked at through a fixed look-ahead as it comes.
            host.EnableSquelch();
            LookAheadDecode decode(request, controls, host);
            decode.chooseSoft = chooseSoft;
            if (options.verbose) {
                decode.onFirstLook = [&](const PresetPlan& plan) {
                    Fail(streams.err,
                         "presets: " + DescribeControls(plan, "looked at the first seconds"));
                };
            }
            BlockReader reader(*source);
            while (streams.stop == nullptr || !streams.stop->load()) {
                const std::size_t got = reader.Next();
                if (got == 0) break;
                decode.Push(reader.Block(), got);
            }
            decode.Finish();
            samples = decode.SamplesRead();
        } else {
            if (options.verbose) {
                PresetPlan given;
                given.controls = controls;
                Fail(streams.err, "controls: " + DescribeControls(given, "no look"));
            }
            samples = DecodeSource(*source, controls, host, streams.stop, progress);
        }
        if (bar) bar->Clear();
        if (!soft) host.Finish();  // else the soft decoder ended the text
        if (samples == 0) {
            Fail(streams.err, source->Name() + ": no audio samples in the input");
            return kExitFailure;
        }
        if (const std::string damage = source->Damage(); !damage.empty()) {
            Fail(streams.err, damage);
            if (!sink.Ok()) {
                Fail(streams.err, std::string("cannot write the output: ") + std::strerror(errno));
                return kExitFailure;
            }
            return kExitPartial;
        }
        if (soft) {
            ExplainSoftSilence(*soft, host, streams.err);
        } else {
            ExplainSilence(host, streams.err);
        }
    } catch (const InputError& e) {
        host.Finish();
        Fail(streams.err, e.what());
        return kExitFailure;
    }
    if (!sink.Ok()) {
        Fail(streams.err, std::string("cannot write the output: ") + std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace dahlo
