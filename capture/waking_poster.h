#pragma once
// A "block ready" poster for a program without an event loop: the driver's thread wakes the
// thread that waits for blocks.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "capture/capture_ring.h"

namespace dahlo {

class WakingPoster final : public BlockReadyPoster {
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

}  // namespace dahlo
