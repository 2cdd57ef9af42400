#include "cli/live_decode.h"

#include <chrono>
#include <memory>
#include <utility>

#include "capture/capture.h"
#include "receiver/block_pump.h"
#include "cli/decode_main.h"
#include "decode/stream_presets.h"

#ifdef DAHLO_HAVE_LIVE_INPUT
#include "capture/live_input.h"
#include "capture/waking_poster.h"
#endif

namespace dahlo {

#ifdef DAHLO_HAVE_LIVE_INPUT

namespace {

// Takes the filled capture buffers in capture order and hands each back to the driver, as the
// block pump does, for a program that keeps the samples itself.
class CaptureTaker {
  public:
    CaptureTaker(CaptureRing& ring, FatalReporter& reporter) : ring_(ring), reporter_(reporter) {}

    template <typename Use>
    void TakeWaiting(Use&& use) {
        while (ring_.WaitingBlocks.load() != 0 && !ring_.CaptureStopping.load()) {
            if (ring_.device != nullptr)
                ring_.device->UnprepareHeader(ring_.headers[ring_.HeadIndex]);
            ring_.WaitingBlocks.fetch_sub(1);
            use(ring_.Block(ring_.HeadIndex));
            ring_.HeadIndex = (ring_.HeadIndex + 1) % kBufferCount;
            if (!HandBackBuffer(ring_, reporter_)) return;
        }
    }

  private:
    CaptureRing& ring_;
    FatalReporter& reporter_;
};

}  // namespace

bool LiveInputAvailable() {
    return true;
}

int RunLiveDecode(const ReceiverControls& controls, const PresetRequest* presets, DecodeHost& host,
                  const std::atomic<bool>* stop, std::FILE* err, bool verbose,
                  std::function<SoftSession*(const PresetPlan&)> chooseSoft) {
    auto ring = std::make_unique<CaptureRing>();
    auto pump = std::make_unique<BlockPump>(*ring, host);
    ReceiverControls live = controls;
    live.warmStartDot = 0;
    ApplyControls(live, *pump);
    std::unique_ptr<LookAheadDecode> lookAhead;
    if (presets != nullptr) {
        lookAhead = std::make_unique<LookAheadDecode>(*presets, controls, host);
        lookAhead->chooseSoft = std::move(chooseSoft);
        if (verbose) {
            lookAhead->onFirstLook = [err](const PresetPlan& plan) {
                std::fprintf(err, "dahlo-decode: presets: %s\n",
                             DescribeControls(plan, "looked at the first seconds").c_str());
            };
        }
    }

    const std::unique_ptr<SoundInput> device = MakeLiveSoundInput();
    WakingPoster poster;
    if (!OpenCapture(*ring, *device, poster, host, [&pump] { pump->PrepareForCapture(); })) {
        std::fprintf(err, "dahlo-decode: --live: cannot record from the sound input: %s\n",
                     host.FatalText().c_str());
        return kExitFailure;
    }
    CaptureTaker taker(*ring, host);
    if (!lookAhead) host.Watch(&pump->Main());
    while (stop == nullptr || !stop->load()) {
        if (lookAhead) {
            taker.TakeWaiting(
                [&](const std::int16_t* block) { lookAhead->Push(block, kBlockSamples); });
        } else {
            pump->ProcessWaitingBlocks();
        }
        if (!host.FatalText().empty()) break;
        poster.Wait(std::chrono::milliseconds(100));  // also how often Ctrl-C is looked at
    }
    StopCapture(*ring);
    if (lookAhead) lookAhead->Finish();
    host.Watch(nullptr);
    if (!host.FatalText().empty()) {
        std::fprintf(err, "dahlo-decode: --live: the sound input failed: %s\n",
                     host.FatalText().c_str());
        return kExitFailure;
    }
    return kExitOk;
}

#else

bool LiveInputAvailable() {
    return false;
}

int RunLiveDecode(const ReceiverControls&, const PresetRequest*, DecodeHost&,
                  const std::atomic<bool>*, std::FILE* err, bool,
                  std::function<SoftSession*(const PresetPlan&)>) {
    std::fprintf(err, "dahlo-decode: option --live: this build has no sound input\n");
    return kExitFailure;
}

#endif

}  // namespace dahlo
