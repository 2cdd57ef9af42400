#include "cli/iq_skim.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/skim_main.h"
#include "dsp/main_filter.h"
#include "iq/channelizer.h"
#include "iq/iq_source.h"
#if defined(DAHLO_HAVE_PULSE_IQ)
#include "iq/pulse_iq_source.h"
#endif
#include "iq/soapy_source.h"
#include "rig/rig_dial.h"
#include "skimmer/skimmer.h"
#include "spots/spot_server.h"

namespace dahlo {

namespace {

// Input samples per channelizer call: 85 ms at 192 kHz, so that merged lines come promptly.
constexpr std::size_t kChunkSamples = 16384;
// A call one sub-band spotted is not spotted by another within this distance: a station near the
// edge of two sub-bands' shares may be opened by both, and 1 kHz is what one skimmer's own
// rules take for drift.
constexpr double kSameStationKhz = 1.0;
constexpr double kForgetClosedEveryS = 60.0;

void Fail(std::FILE* err, const std::string& line) {
    std::fprintf(err, "dahlo-decode: %s\n", line.c_str());
}

// What one sub-band's skimmer said, in order, each with the block it was said in.
struct Said {
    std::int64_t block = 0;
    std::string line;  // a whole line, without its end
    std::optional<Spot> spot;
};

class SubbandOutput final : public OutputSink, public SpotListener {
  public:
    // `spotLines`: the skimmer also writes a line for each spot; the merge writes its own.
    explicit SubbandOutput(bool spotLines) : spotLines_(spotLines) {}

    void Write(std::string_view bytes) override {
        partial_.append(bytes);
        for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            if (skipLine_) {
                skipLine_ = false;
            } else {
                said.push_back({block, partial_.substr(0, end), std::nullopt});
            }
            partial_.erase(0, end + 1);
        }
    }
    void Flush() override {}
    void OnSpot(const Spot& spot) override {
        said.push_back({block, {}, spot});
        skipLine_ = spotLines_;
    }

    std::int64_t block = 0;  // the block the skimmer runs now
    std::vector<Said> said;  // since the last merge

  private:
    bool spotLines_;
    bool skipLine_ = false;
    std::string partial_;
};

// Merges the sub-bands' output into one stream in a fixed order (block, then sub-band), whatever
// the threads did: the same input gives the same output. Pitches become RF frequencies, channel
// numbers become numbers of the whole band, and a call is spotted once across sub-bands.
class Merger {
  public:
    Merger(const iq::SubbandPlan& plan, double centreHz, SkimOptions::Output output,
           OutputSink& sink, SpotServer* server, double respotSeconds)
        : plan_(plan),
          centreHz_(centreHz),
          output_(output),
          sink_(sink),
          server_(server),
          respotSeconds_(respotSeconds) {}

    // The band's centre from now on (a rig retuned); what was merged before keeps its RF.
    void SetCentreHz(double hz) { centreHz_ = hz; }

    // Forgets the band numbers of `subband`'s channels that are no longer `open`. Call it right
    // after a Merge: a closed channel's last line is merged by then, and its number (never
    // reused by the sub-band) is not asked for again. Keeps a skimmer running for days from
    // holding a number for every channel it ever opened.
    void ForgetClosed(int subband, const std::vector<StationView>& open) {
        std::erase_if(channels_, [&](const auto& entry) {
            return entry.first.first == subband &&
                   std::none_of(open.begin(), open.end(), [&](const StationView& view) {
                       return view.channel == entry.first.second;
                   });
        });
    }

    void Merge(std::vector<std::unique_ptr<SubbandOutput>>& outputs) {
        struct At {
            std::int64_t block;
            int subband;
            Said* said;
        };
        std::vector<At> order;
        for (std::size_t k = 0; k < outputs.size(); ++k) {
            for (Said& s : outputs[k]->said) order.push_back({s.block, static_cast<int>(k), &s});
        }
        if (order.empty()) return;
        std::stable_sort(order.begin(), order.end(), [](const At& a, const At& b) {
            return a.block != b.block ? a.block < b.block : a.subband < b.subband;
        });
        for (const At& at : order) {
            if (at.said->spot) {
                WriteSpot(at.subband, *at.said->spot);
            } else if (output_ == SkimOptions::Output::kText) {
                WriteLine(TextLine(at.subband, at.said->line));
            } else {
                WriteLine(EventLine(at.subband, at.said->line));
            }
        }
        for (auto& o : outputs) o->said.clear();
        sink_.Flush();
    }

  private:
    struct Spotted {
        std::string call;
        double freqKhz;
        double seconds;
    };

    void WriteLine(const std::string& line) {
        sink_.Write(line);
        sink_.Write("\n");
    }

    double RfKhz(int subband, double pitchHz) const {
        return (centreHz_ + plan_.OffsetHz(subband, pitchHz)) / 1000.0;
    }

    int BandChannel(int subband, int channel) {
        const auto [it, added] = channels_.try_emplace({subband, channel}, nextChannel_);
        if (added) ++nextChannel_;
        return it->second;
    }

    // "1152 Hz  35 WPM  +39 dB  TEST ..." -> "7021.35 kHz  35 WPM  +39 dB  TEST ...".
    std::string TextLine(int subband, const std::string& line) const {
        double pitchHz = 0.0;
        const std::size_t unit = line.find(" Hz");
        if (unit == std::string::npos || std::sscanf(line.c_str(), "%lf", &pitchHz) != 1) {
            return line;
        }
        char head[48];
        std::snprintf(head, sizeof head, "%10.2f kHz", RfKhz(subband, pitchHz));
        return head + line.substr(unit + 3);
    }

    // The band's channel number for "ch", and "rf_khz" after "freq_hz".
    std::string EventLine(int subband, std::string line) {
        static constexpr std::string_view kChannel = "\"ch\":";
        static constexpr std::string_view kPitch = "\"freq_hz\":";
        if (const std::size_t at = line.find(kChannel); at != std::string::npos) {
            const std::size_t from = at + kChannel.size();
            char* end = nullptr;
            const long local = std::strtol(line.c_str() + from, &end, 10);
            const std::size_t to = static_cast<std::size_t>(end - line.c_str());
            line.replace(from, to - from,
                         std::to_string(BandChannel(subband, static_cast<int>(local))));
        }
        if (const std::size_t at = line.find(kPitch); at != std::string::npos) {
            const std::size_t from = at + kPitch.size();
            char* end = nullptr;
            const double pitchHz = std::strtod(line.c_str() + from, &end);
            char rf[48];
            std::snprintf(rf, sizeof rf, ",\"rf_khz\":%.2f", RfKhz(subband, pitchHz));
            line.insert(static_cast<std::size_t>(end - line.c_str()), rf);
        }
        return line;
    }

    void WriteSpot(int subband, Spot spot) {
        std::erase_if(spotted_, [&](const Spotted& s) {
            return spot.inputSeconds - s.seconds >= respotSeconds_;
        });
        for (const Spotted& s : spotted_) {
            if (s.call == spot.call && std::abs(s.freqKhz - spot.freqKhz) <= kSameStationKhz)
                return;
        }
        spotted_.push_back({spot.call, spot.freqKhz, spot.inputSeconds});
        spot.channel = BandChannel(subband, spot.channel);
        if (server_ != nullptr) server_->OnSpot(spot);
        if (output_ == SkimOptions::Output::kSpots) WriteLine(FormatDxSpot(spot));
        if (output_ == SkimOptions::Output::kEvents) WriteLine(FormatSpotJson(spot));
    }

    const iq::SubbandPlan& plan_;
    double centreHz_;
    SkimOptions::Output output_;
    OutputSink& sink_;
    SpotServer* server_;
    double respotSeconds_;
    std::map<std::pair<int, int>, int> channels_;
    int nextChannel_ = 1;
    std::vector<Spotted> spotted_;
};

struct CloseFile {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};

// Opens the input the options name; throws iq::IqError with one line. `rigGivesCentre`: the
// band's RF centre comes from the rig, so the input need not say it.
std::unique_ptr<iq::IqSource> OpenSource(const DecodeOptions& options, const DecodeStreams& streams,
                                         std::unique_ptr<std::FILE, CloseFile>& ownedFile,
                                         bool rigGivesCentre) {
    std::optional<double> centreHz;
    if (options.centreKhz) centreHz = *options.centreKhz * 1000.0;
    std::unique_ptr<iq::IqSource> source;
    if (options.sdrArgs) {
        iq::SoapyOptions soapy;
        soapy.args = *options.sdrArgs;
        soapy.rateHz = options.rateHz.value_or(0.0);
        soapy.centreHz = centreHz.value_or(0.0);
        soapy.gainDb = options.gainDb;
        if (options.sdrBufferS) soapy.queueSeconds = *options.sdrBufferS;
        return iq::OpenSoapyIq(soapy);
    }
    if (options.liveIq) {
#if defined(DAHLO_HAVE_PULSE_IQ)
        return iq::OpenPulseIq(options.rateHz.value_or(0.0), centreHz);
#else
        throw iq::IqError("--live-iq: this dahlo-decode is built without the PulseAudio client");
#endif
    }
    const std::string& path = *options.iqPath;
    if (options.iqFormat) {
        const std::optional<iq::IqFormat> format = iq::ParseIqFormat(*options.iqFormat);
        std::FILE* stream = streams.in;
        if (path != "-") {
            ownedFile.reset(std::fopen(path.c_str(), "rb"));
            if (!ownedFile) throw iq::IqError(path + ": " + std::strerror(errno));
            stream = ownedFile.get();
        }
        source = iq::OpenRawIq(stream, path == "-" ? "standard input" : path, *format,
                               options.rateHz.value_or(0.0), centreHz);
    } else {
        source = iq::OpenIqFile(path, centreHz);
        if (options.rateHz && *options.rateHz != source->RateHz()) {
            char why[160];
            std::snprintf(why, sizeof why,
                          ": its sample rate is %.0f Hz, not %.0f Hz (leave --rate out for a file)",
                          source->RateHz(), *options.rateHz);
            throw iq::IqError(path + why);
        }
    }
    if (!source->CentreHz() && !rigGivesCentre) {
        throw iq::IqError(source->Name() +
                          ": does not say the RF frequency of its centre; give --centre KHZ");
    }
    return source;
}

}  // namespace

int RunIqSkim(const DecodeOptions& options, const DecodeStreams& streams) {
    SkimOptions skim = SkimOptionsFrom(options);
    skim.clockTime = options.sdrArgs.has_value() || options.liveIq;
    std::optional<KnownCalls> known;
    if (!LoadKnownCalls(options, known, skim, streams.err)) return kExitFailure;

    std::unique_ptr<std::FILE, CloseFile> ownedFile;
    std::unique_ptr<iq::IqSource> source;
    std::unique_ptr<RigDial> rig;
    std::unique_ptr<SpotServer> server;
    try {
        // The rig first, as the audio skimmer does: one that does not answer ends the run
        // before the input is touched.
        rig = OpenRig(options);
        if (rig) {
            std::fprintf(streams.err, "dahlo-decode: the rig at %s: dial %.1f kHz, the band's centre\n",
                         rig->Name().c_str(), rig->DialKhz());
            std::fflush(streams.err);
        }
        source = OpenSource(options, streams, ownedFile, rig != nullptr);
        if (options.spotPort) {
            server = std::make_unique<SpotServer>(options.listenAddress.value_or("127.0.0.1"),
                                                  *options.spotPort, options.spotter);
            std::fprintf(streams.err, "dahlo-decode: spots for loggers on %s port %d (telnet)\n",
                         server->Address().c_str(), server->Port());
            std::fflush(streams.err);
        }
    } catch (const iq::IqError& e) {
        Fail(streams.err, e.what());
        return kExitFailure;
    } catch (const RigError& e) {
        Fail(streams.err, e.what());
        return kExitFailure;
    } catch (const SpotServerError& e) {
        Fail(streams.err, e.what());
        return kExitFailure;
    }
    struct StopServer {
        std::unique_ptr<SpotServer>& server;
        ~StopServer() {
            if (server) server->Stop();
        }
    } stopServer{server};

    // With a rig, the band is centred on its dial (an IQ output of the radio, or an SDR on its
    // IF) and follows it.
    double centreHz = rig ? rig->DialKhz() * 1000.0 : *source->CentreHz();
    if (rig) rig->Start(streams.err);
    const iq::SubbandPlan plan = iq::PlanSubbands(source->RateHz());
    // Each sub-band opens channels only on the RF it owns (within half a spacing of its middle).
    skim.ownedLowHz = iq::kAudioCentreHz - plan.spacingHz / 2;
    skim.ownedHighHz = iq::kAudioCentreHz + plan.spacingHz / 2;
    std::vector<std::unique_ptr<SubbandOutput>> outputs;
    std::vector<std::unique_ptr<Skimmer>> skimmers;
    for (int k = 0; k < plan.count; ++k) {
        skim.dialKhz = (centreHz + plan.OffsetHz(k, 0.0)) / 1000.0;  // RF = dial + pitch
        outputs.push_back(
            std::make_unique<SubbandOutput>(skim.output != SkimOptions::Output::kText));
        skimmers.push_back(std::make_unique<Skimmer>(*outputs.back(), skim));
        skimmers.back()->AddSpotListener(*outputs.back());
    }
    FileSink sink(streams.out);
    Merger merger(plan, centreHz, skim.output, sink, server.get(), 60.0 * skim.respotMinutes);

    const int threads = options.threads.value_or(
        std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
    iq::Channelizer channelizer(
        source->RateHz(),
        [&](int subband, const std::int16_t* block, std::int64_t blockIndex) {
            outputs[static_cast<std::size_t>(subband)]->block = blockIndex;
            skimmers[static_cast<std::size_t>(subband)]->Pump().ProcessBlock(block);
        },
        {iq::kDefaultAudioGainDb, threads});

    const bool live = options.sdrArgs.has_value() || options.liveIq;
    std::vector<std::complex<float>> chunk(kChunkSamples);
    std::int64_t samples = 0;
    // Closed channels' band numbers are let go about once a minute of input.
    const auto forgetEvery = static_cast<std::int64_t>(kForgetClosedEveryS * source->RateHz());
    std::int64_t nextForget = forgetEvery;
    bool stopping = false;
    for (;;) {
        if (!stopping && streams.stop != nullptr && streams.stop->load()) {
            if (!live) break;
            source->Stop();  // what the device queued still comes
            stopping = true;
        }
        const std::size_t n = source->Read(chunk.data(), chunk.size());
        if (n == 0) {
            if (source->Ended()) break;
            continue;
        }
        samples += static_cast<std::int64_t>(n);
        channelizer.Process(chunk.data(), n);
        merger.Merge(outputs);
        if (samples >= nextForget) {
            nextForget = samples + forgetEvery;
            for (int k = 0; k < plan.count; ++k) {
                merger.ForgetClosed(k, skimmers[static_cast<std::size_t>(k)]->Stations());
            }
        }
        if (rig && rig->DialKhz() * 1000.0 != centreHz) {
            centreHz = rig->DialKhz() * 1000.0;
            merger.SetCentreHz(centreHz);
            for (int k = 0; k < plan.count; ++k) {
                skimmers[static_cast<std::size_t>(k)]->SetDialKhz(
                    (centreHz + plan.OffsetHz(k, 0.0)) / 1000.0);
            }
        }
    }
    channelizer.Flush();
    for (auto& skimmer : skimmers) skimmer->Finish();
    merger.Merge(outputs);

    if (!sink.Ok()) {
        Fail(streams.err, std::string("cannot write the output: ") + std::strerror(errno));
        return kExitFailure;
    }
    const std::string damage = source->Damage();
    if (samples == 0 && !stopping) {
        Fail(streams.err,
             damage.empty() ? source->Name() + ": no IQ samples in the input" : damage);
        return kExitFailure;
    }
    if (!damage.empty()) {
        Fail(streams.err, damage);
        return live ? kExitFailure : kExitPartial;  // a lost device is not a recording cut short
    }
    return kExitOk;
}

}  // namespace dahlo
