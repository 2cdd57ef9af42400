#include "cli/skim_main.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "rig/rig_dial.h"
#include "recording/sample_source.h"
#include "skimmer/skimmer.h"
#include "spots/spot_server.h"

#ifdef DAHLO_HAVE_LIVE_INPUT
#include "capture/capture.h"
#include "capture/live_input.h"
#include "capture/waking_poster.h"
#endif

namespace dahlo {

namespace {

void Fail(std::FILE* err, const std::string& line) {
    std::fprintf(err, "dahlo-decode: %s\n", line.c_str());
}

// Hands the rig's latest dial to the skimmer; called on the skimmer's thread between blocks.
class DialFollower {
  public:
    explicit DialFollower(const RigDial* rig) : rig_(rig) {}
    void Update(Skimmer& skimmer) {
        if (rig_ == nullptr) return;
        const double khz = rig_->DialKhz();
        if (khz == lastKhz_) return;
        skimmer.SetDialKhz(khz);
        lastKhz_ = khz;
    }

  private:
    const RigDial* rig_;
    double lastKhz_ = -1.0;
};

int SkimLive(Skimmer& skimmer, DialFollower& dial, const DecodeStreams& streams) {
#ifdef DAHLO_HAVE_LIVE_INPUT
    const std::unique_ptr<SoundInput> device = MakeLiveSoundInput();
    WakingPoster poster;
    BlockPump& pump = skimmer.Pump();
    if (!OpenCapture(skimmer.Ring(), *device, poster, skimmer, [] {})) {
        Fail(streams.err, "--live: cannot record from the sound input: " + skimmer.FatalText());
        return kExitFailure;
    }
    while (streams.stop == nullptr || !streams.stop->load()) {
        dial.Update(skimmer);
        pump.ProcessWaitingBlocks();
        if (!skimmer.FatalText().empty()) break;
        poster.Wait(std::chrono::milliseconds(100));  // also how often Ctrl-C is looked at
    }
    StopCapture(skimmer.Ring());
    skimmer.Finish();
    if (!skimmer.FatalText().empty()) {
        Fail(streams.err, "--live: the sound input failed: " + skimmer.FatalText());
        return kExitFailure;
    }
    return kExitOk;
#else
    (void)skimmer;
    (void)dial;
    Fail(streams.err, "option --live: this build has no sound input");
    return kExitFailure;
#endif
}

}  // namespace

SkimOptions SkimOptionsFrom(const DecodeOptions& options) {
    SkimOptions skim;
    skim.output = options.spots    ? SkimOptions::Output::kSpots
                  : options.events ? SkimOptions::Output::kEvents
                                   : SkimOptions::Output::kText;
    skim.spotter = options.spotter;
    skim.startUtc = options.startUtc ? static_cast<std::time_t>(*options.startUtc)
                                     : std::time(nullptr);
    if (options.respotMinutes) skim.respotMinutes = *options.respotMinutes;
    return skim;
}

bool LoadKnownCalls(const DecodeOptions& options, std::optional<KnownCalls>& known,
                    SkimOptions& skim, std::FILE* err) {
    if (!options.knownCallsFile) return true;
    try {
        known = KnownCalls::Load(*options.knownCallsFile);
    } catch (const std::runtime_error& e) {
        Fail(err, e.what());
        return false;
    }
    skim.knownCalls = &*known;
    return true;
}

std::unique_ptr<RigDial> OpenRig(const DecodeOptions& options) {
    if (options.rigAddress.empty() && !options.rigModel) return nullptr;
    RigConfig config;
    config.address = options.rigAddress;
    config.model = options.rigModel.value_or(0);
    config.device = options.rigDevice.value_or("");
    return std::make_unique<RigDial>(config);
}

int RunSkim(const DecodeOptions& options, const DecodeStreams& streams) {
    SkimOptions skim = SkimOptionsFrom(options);
    skim.dialKhz = options.dialKhz;
    skim.clockTime = options.input == InputKind::kLive;
    std::optional<KnownCalls> known;
    if (!LoadKnownCalls(options, known, skim, streams.err)) return kExitFailure;
    FileSink sink(streams.out);

    std::unique_ptr<SampleSource> source;
    if (options.input != InputKind::kLive) {
        try {
            source = options.input == InputKind::kStdin
                         ? OpenRawStream(streams.in, "standard input")
                         : OpenAudioFile(options.path);
        } catch (const InputError& e) {
            Fail(streams.err, e.what());
            return kExitFailure;
        }
    }

    // The rig and the spot port are opened before any audio is read, so that a rig that does
    // not answer or a port in use ends the run before it starts.
    std::unique_ptr<RigDial> rig;
    std::unique_ptr<SpotServer> server;
    try {
        rig = OpenRig(options);
        if (rig) {
            skim.dialKhz = rig->DialKhz();
            std::fprintf(streams.err, "dahlo-decode: the rig at %s: dial %.1f kHz\n",
                         rig->Name().c_str(), skim.dialKhz);
        }
        if (options.spotPort) {
            server = std::make_unique<SpotServer>(options.listenAddress.value_or("127.0.0.1"),
                                                  *options.spotPort, options.spotter);
            std::fprintf(streams.err, "dahlo-decode: spots for loggers on %s port %d (telnet)\n",
                         server->Address().c_str(), server->Port());
        }
    } catch (const RigError& e) {
        Fail(streams.err, e.what());
        return kExitFailure;
    } catch (const SpotServerError& e) {
        Fail(streams.err, e.what());
        return kExitFailure;
    }
    std::fflush(streams.err);
    DialFollower dial(rig.get());
    if (rig) rig->Start(streams.err);

    auto skimmer = std::make_unique<Skimmer>(sink, skim);
    if (server) skimmer->AddSpotListener(*server);
    // The server goes before the skimmer that speaks to it; what it was handed still goes out.
    struct StopServer {
        std::unique_ptr<SpotServer>& server;
        ~StopServer() {
            if (server) server->Stop();
        }
    } stopServer{server};

    int status = kExitOk;
    if (options.input == InputKind::kLive) {
        status = SkimLive(*skimmer, dial, streams);
    } else {
        try {
            BlockReader reader(*source);
            while (streams.stop == nullptr || !streams.stop->load()) {
                if (reader.Next() == 0) break;
                dial.Update(*skimmer);
                skimmer->Pump().ProcessBlock(reader.Block());
            }
            skimmer->Finish();
            if (reader.SamplesRead() == 0) {
                Fail(streams.err, source->Name() + ": no audio samples in the input");
                return kExitFailure;
            }
        } catch (const InputError& e) {
            skimmer->Finish();
            // Ctrl-C interrupts a read from standard input: that is the end asked for.
            if (streams.stop == nullptr || !streams.stop->load()) {
                Fail(streams.err, e.what());
                return kExitFailure;
            }
        }
    }
    if (!sink.Ok()) {
        Fail(streams.err, std::string("cannot write the output: ") + std::strerror(errno));
        return kExitFailure;
    }
    return status;
}

}  // namespace dahlo
