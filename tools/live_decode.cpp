#include "tools/live_decode.h"

#include <chrono>
#include <memory>
#include <thread>

#include "capture/capture.h"
#include "dsp/receiver.h"
#include "tools/decode_main.h"

#ifdef DAHLO_HAVE_PORTAUDIO
#include "capture/portaudio_input.h"
#endif

namespace dahlo {

#ifdef DAHLO_HAVE_PORTAUDIO

namespace {

// The loop polls the ring's counter, so the driver's thread has nothing to wake.
class NoPoster : public BlockReadyPoster {
  public:
    void PostBlockReady() override {}
};

}  // namespace

bool LiveInputAvailable() {
    return true;
}

int RunLiveDecode(const ReceiverControls& controls, DecodeHost& host, const std::atomic<bool>* stop,
                  std::FILE* err) {
    auto ring = std::make_unique<CaptureRing>();
    auto receiver = std::make_unique<Receiver>(*ring, host);
    host.Attach(*receiver);
    ReceiverControls live = controls;
    live.warmStartDot = 0;  // a stream cannot be looked at beforehand
    ApplyControls(live, *receiver);

    PortAudioInput device;
    NoPoster poster;
    if (!OpenCapture(*ring, *receiver, device, poster, host)) {
        std::fprintf(err, "dahlo-decode: --live: cannot record from the sound input: %s\n",
                     host.FatalText().c_str());
        return kExitFailure;
    }
    while (stop == nullptr || !stop->load()) {
        receiver->ProcessWaitingBlocks();
        if (!host.FatalText().empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    StopCapture(*ring);
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

int RunLiveDecode(const ReceiverControls&, DecodeHost&, const std::atomic<bool>*, std::FILE* err) {
    std::fprintf(err, "dahlo-decode: option --live: this build has no sound input (PortAudio)\n");
    return kExitFailure;
}

#endif

}  // namespace dahlo
