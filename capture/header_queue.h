#pragma once
// A fixed-capacity single-producer single-consumer queue of buffer headers: the window thread
// adds headers in order, the audio thread takes them in the same order. Neither side ever waits
// or allocates.

#include <array>
#include <atomic>
#include <cstddef>

#include "capture/sound_input.h"

namespace dahlo {

template <std::size_t Capacity>
class HeaderQueue {
    static_assert(Capacity >= 2 && (Capacity & (Capacity - 1)) == 0, "a power of two");

  public:
    // Producer side. False when full.
    bool Push(WaveHeader* header) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
        slots_[tail & (Capacity - 1)] = header;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side. Null when empty.
    WaveHeader* Pop() {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return nullptr;
        WaveHeader* header = slots_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return header;
    }

    // Approximate from either side; exact when the other side is idle.
    std::size_t Size() const {
        return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
    }

  private:
    std::array<WaveHeader*, Capacity> slots_{};
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace dahlo
