#pragma once
// A window thread in miniature for capture tests: a host that records what the loop shows and
// reports, and an event queue that delivers "block ready" to the processing loop the way the
// window's message dispatch does, including from inside the loop's own message pump.

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "receiver/receiver_host.h"

namespace dahlo::test {

class BlockEventLoop final : public BlockReadyPoster {
  public:
    void PostBlockReady() override {
        {
            std::lock_guard lock(mutex_);
            ++pending_;
            ++posted_;
        }
        posted_cv_.notify_all();
    }

    int Posted() const {
        std::lock_guard lock(mutex_);
        return posted_;
    }

    // Handles the posts pending now, each with one call of the loop.
    void DispatchPending(BlockPump& receiver) {
        int count;
        {
            std::lock_guard lock(mutex_);
            count = pending_;
            pending_ = 0;
        }
        for (int i = 0; i < count; ++i) receiver.ProcessWaitingBlocks();
    }

    // Runs the loop's dispatch until `done()` holds or `timeout` passes; true when it held.
    bool RunUntil(BlockPump& receiver, const std::function<bool()>& done,
                  std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            {
                std::unique_lock lock(mutex_);
                if (!posted_cv_.wait_until(lock, deadline, [this] { return pending_ > 0; })) {
                    return done();
                }
            }
            DispatchPending(receiver);
        }
        return true;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable posted_cv_;
    int pending_ = 0;
    int posted_ = 0;
};

class RecordingHost final : public ReceiverHost {
  public:
    struct Fatal {
        std::string text;
        std::string caption;
    };

    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override {
        if (event.kind == ChannelEvent::kCharacter || event.kind == ChannelEvent::kWordSpace) {
            text.append(cp1251);
        }
    }
    void ShowFreeBuffers(int free) override { freeBuffers = free; }
    void PaintScope() override { ++scopePaints; }
    void PaintSpectrum() override { ++spectrumPaints; }
    void PumpMessages() override {
        ++pumps;
        if (onPump) onPump();
        if (loop != nullptr && receiver != nullptr) loop->DispatchPending(*receiver);
    }
    void ReportFatal(std::string_view message, std::string_view caption) override {
        fatals.push_back({std::string(message), std::string(caption)});
    }

    // Set to dispatch pending posts from inside the pump, as the window does.
    BlockEventLoop* loop = nullptr;
    BlockPump* receiver = nullptr;
    std::function<void()> onPump;

    int freeBuffers = -1;  // the count last shown
    std::string text;
    std::vector<Fatal> fatals;
    int scopePaints = 0;
    int spectrumPaints = 0;
    int pumps = 0;
};

}  // namespace dahlo::test
