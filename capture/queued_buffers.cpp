#include "capture/queued_buffers.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace dahlo {

void QueuedBuffers::SetCallback(SoundInput* device, SoundInputCallback callback,
                                std::uintptr_t instance) {
    device_ = device;
    callback_ = callback;
    instance_ = instance;
}

void QueuedBuffers::Announce(unsigned message) const {
    if (callback_ != nullptr) callback_(device_, message, instance_, 0, 0);
}

int QueuedBuffers::Prepare(WaveHeader& header) const {
    if (failed_.load() || header.data == nullptr || header.bufferLength < 2) return kMmError;
    header.flags |= kHeaderPrepared;
    return kMmNoError;
}

int QueuedBuffers::Unprepare(WaveHeader& header) {
    if (header.flags & kHeaderInQueue) return kWaveStillPlaying;
    header.flags &= ~kHeaderPrepared;
    return kMmNoError;
}

int QueuedBuffers::Add(WaveHeader& header) {
    if (failed_.load()) return kMmError;
    if (!(header.flags & kHeaderPrepared)) return kWaveUnprepared;
    if (header.flags & kHeaderInQueue) return kWaveStillPlaying;
    header.bytesRecorded = 0;
    header.flags = (header.flags & ~kHeaderDone) | kHeaderInQueue;
    if (!queue_.Push(&header)) {
        header.flags &= ~kHeaderInQueue;
        return kMmNoMem;
    }
    // Against Fail on the audio thread: either it drains this buffer and announces it, or this
    // add sees the failure; never a buffer stranded in the queue of a dead input.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (failed_.load(std::memory_order_relaxed)) return kMmError;
    return kMmNoError;
}

void QueuedBuffers::Fill(const std::int16_t* input, unsigned long frames) {
    unsigned long done = 0;
    while (done < frames) {
        if (current_ == nullptr) {
            current_ = queue_.Pop();
            if (current_ == nullptr) {
                // Nowhere to record: this audio is lost, as with a driver whose queue ran dry.
                droppedSamples_.fetch_add(frames - done, std::memory_order_relaxed);
                if (!dropping_) overruns_.fetch_add(1, std::memory_order_relaxed);
                dropping_ = true;
                return;
            }
            dropping_ = false;
            current_->bytesRecorded = 0;
        }
        const unsigned long capacity = current_->bufferLength / 2;
        const unsigned long filled = current_->bytesRecorded / 2;
        const unsigned long count = std::min(capacity - filled, frames - done);
        if (input != nullptr) {
            std::memcpy(current_->data + filled, input + done, count * sizeof(std::int16_t));
        } else {
            std::memset(current_->data + filled, 0, count * sizeof(std::int16_t));
        }
        current_->bytesRecorded += static_cast<std::uint32_t>(count * 2);
        done += count;
        if (filled + count == capacity) {
            WaveHeader* full = current_;
            current_ = nullptr;
            HandBack(full);
        }
    }
}

void QueuedBuffers::HandBackPartial() {
    if (current_ != nullptr && current_->bytesRecorded > 0) {
        WaveHeader* partial = current_;
        current_ = nullptr;
        HandBack(partial);
    }
}

void QueuedBuffers::Release(bool announce) {
    // The audio thread is stopped here, so this thread may act as the consumer.
    if (current_ != nullptr) {
        WaveHeader* partial = current_;
        current_ = nullptr;
        if (announce) {
            HandBack(partial);
        } else {
            partial->flags = (partial->flags & ~kHeaderInQueue) | kHeaderDone;
        }
    }
    while (WaveHeader* header = queue_.Pop()) {
        header->bytesRecorded = 0;
        if (announce) {
            HandBack(header);
        } else {
            header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
        }
    }
}

void QueuedBuffers::Fail() {
    failed_.store(true, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    WaveHeader* header = current_;
    current_ = nullptr;
    if (header == nullptr) header = queue_.Pop();
    while (header != nullptr) {
        // The loop reads the whole block whatever was recorded; old audio must not come again.
        std::memset(header->data, 0, header->bufferLength);
        header->bytesRecorded = 0;
        HandBack(header);
        header = queue_.Pop();
    }
}

void QueuedBuffers::ResetCounters() {
    droppedSamples_.store(0);
    overruns_.store(0);
    failed_.store(false);
    dropping_ = false;
}

void QueuedBuffers::HandBack(WaveHeader* header) const {
    header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
    if (callback_ != nullptr) {
        callback_(device_, kMmWimData, instance_, reinterpret_cast<std::uintptr_t>(header), 0);
    }
}

}  // namespace dahlo
