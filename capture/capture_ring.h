#pragma once
// The sixteen capture buffers, their headers and the two counters shared with the driver's
// callback thread. Everything but the counters and the stop flag belongs to the window thread.

#include <array>
#include <atomic>
#include <cstdint>

#include "capture/sound_input.h"

namespace dahlo {

inline constexpr int kBlockSamples = 2048;  // one block: 185.8 ms at 11025 Hz
inline constexpr int kBlockBytes = kBlockSamples * 2;
inline constexpr int kBufferCount = 16;

// Posts the "block ready" event to the window thread; called on the driver's thread.
class BlockReadyPoster {
public:
    virtual void PostBlockReady() = 0;

protected:
    ~BlockReadyPoster() = default;
};

struct CaptureRing {
    // Block i starts at sample i * 2048 of one contiguous array.
    alignas(64) std::array<std::int16_t, kBufferCount * kBlockSamples> buffers{};
    std::array<WaveHeader, kBufferCount> headers{};
    SoundInput* device = nullptr;  // null while closed
    BlockReadyPoster* poster = nullptr;

    std::atomic<int> WaitingBlocks{0};  // filled by the driver, not yet taken by the loop
    std::atomic<int> FreeBuffers{0};    // queued with the driver, waiting to be filled
    int HeadIndex = 0;                  // the buffer the loop takes next
    int TailIndex = 0;                  // the header the next hand-back fills
    std::atomic<bool> CaptureStopping{false};

    std::int16_t* Block(int index) { return buffers.data() + index * kBlockSamples; }
    const std::int16_t* Block(int index) const { return buffers.data() + index * kBlockSamples; }

    // Header `index` describes buffer `index`: 4096 bytes, flags 0.
    void FillHeader(int index) {
        headers[index] = WaveHeader{Block(index), kBlockBytes, 0, 0};
    }
};

}  // namespace dahlo
