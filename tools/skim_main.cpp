#include "tools/skim_main.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "tools/sample_source.h"
#include "tools/skimmer.h"

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

int SkimLive(Skimmer& skimmer, const DecodeStreams& streams) {
#ifdef DAHLO_HAVE_LIVE_INPUT
    const std::unique_ptr<SoundInput> device = MakeLiveSoundInput();
    WakingPoster poster;
    BlockPump& pump = skimmer.Pump();
    if (!OpenCapture(skimmer.Ring(), *device, poster, skimmer, [] {})) {
        Fail(streams.err, "--live: cannot record from the sound input: " + skimmer.FatalText());
        return kExitFailure;
    }
    while (streams.stop == nullptr || !streams.stop->load()) {
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
    Fail(streams.err, "option --live: this build has no sound input");
    return kExitFailure;
#endif
}

}  // namespace

int RunSkim(const DecodeOptions& options, const DecodeStreams& streams) {
    SkimOptions skim;
    skim.output = options.spots    ? SkimOptions::Output::kSpots
                  : options.events ? SkimOptions::Output::kEvents
                                   : SkimOptions::Output::kText;
    skim.spotter = options.spotter;
    skim.dialKhz = options.dialKhz;
    skim.clockTime = options.input == InputKind::kLive;
    skim.startUtc = options.startUtc ? static_cast<std::time_t>(*options.startUtc)
                                     : std::time(nullptr);
    FileSink sink(streams.out);
    auto skimmer = std::make_unique<Skimmer>(sink, skim);

    int status = kExitOk;
    if (options.input == InputKind::kLive) {
        status = SkimLive(*skimmer, streams);
    } else {
        try {
            std::unique_ptr<SampleSource> source =
                options.input == InputKind::kStdin ? OpenRawStream(streams.in, "standard input")
                                                   : OpenAudioFile(options.path);
            BlockReader reader(*source);
            while (streams.stop == nullptr || !streams.stop->load()) {
                if (reader.Next() == 0) break;
                skimmer->Pump().ProcessBlock(reader.Block());
            }
            skimmer->Finish();
            if (reader.SamplesRead() == 0) {
                Fail(streams.err, source->Name() + ": no audio samples in the input");
                return kExitFailure;
            }
        } catch (const InputError& e) {
            skimmer->Finish();
            Fail(streams.err, e.what());
            return kExitFailure;
        }
    }
    if (!sink.Ok()) {
        Fail(streams.err, std::string("cannot write the output: ") + std::strerror(errno));
        return kExitFailure;
    }
    return status;
}

}  // namespace dahlo
