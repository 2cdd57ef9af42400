#include "tools/live_decode.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "capture/capture.h"
#include "receiver/block_pump.h"
#include "tools/decode_main.h"

#ifdef DAHLO_HAVE_LIVE_INPUT
#include "capture/live_input.h"
#endif

namespace dahlo {

#ifdef DAHLO_HAVE_LIVE_INPUT

namespace {

// Wakes the decoding loop when the driver has filled a buffer.
class WakingPoster : public BlockReadyPoster {
  public:
    void PostBlockReady() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            posted_ = true;
        }
        ready_.notify_one();
    }
    // Returns once a block was announced or `timeout` has passed.
    void Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait_for(lock, timeout, [this] { return posted_; });
        posted_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    bool posted_ = false;
};

}  // namespace

bool LiveInputAvailable() {
    return true;
}

int RunLiveDecode(const ReceiverControls& controls, DecodeHost& host, const std::atomic<bool>* stop,
                  std::FILE* err) {
    auto ring = std::make_unique<CaptureRing>();
    auto pump = std::make_unique<BlockPump>(*ring, host);
    ReceiverControls live = controls;
    live.warmStartDot = 0;  // a stream cannot be looked at beforehand
    ApplyControls(live, *pump);

    const std::unique_ptr<SoundInput> device = MakeLiveSoundInput();
    WakingPoster poster;
    if (!OpenCapture(*ring, *device, poster, host, [&pump] { pump->PrepareForCapture(); })) {
        std::fprintf(err, "dahlo-decode: --live: cannot record from the sound input: %s\n",
                     host.FatalText().c_str());
        return kExitFailure;
    }
    while (stop == nullptr || !stop->load()) {
        pump->ProcessWaitingBlocks();
        if (!host.FatalText().empty()) break;
        poster.Wait(std::chrono::milliseconds(100));  // also how often Ctrl-C is looked at
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
    std::fprintf(err, "dahlo-decode: option --live: this build has no sound input\n");
    return kExitFailure;
}

#endif

}  // namespace dahlo
