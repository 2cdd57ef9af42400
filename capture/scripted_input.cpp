#include "capture/scripted_input.h"

#include <algorithm>

namespace dahlo {

namespace {
constexpr std::size_t kScriptBlockSamples = 2048;
}

ScriptedInput::ScriptedInput(std::vector<std::int16_t> samples) : samples_(std::move(samples)) {
    thread_ = std::thread([this] { Run(); });
}

ScriptedInput::~ScriptedInput() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ScriptedInput::SetNumDevs(int count) {
    std::lock_guard lock(mutex_);
    numDevs_ = count;
}

void ScriptedInput::FailCall(Call call, int result, int occurrence) {
    std::lock_guard lock(mutex_);
    failures_.push_back({call, result, occurrence});
}

void ScriptedInput::SetPace(std::chrono::microseconds perBlock) {
    {
        std::lock_guard lock(mutex_);
        pace_ = perBlock;
    }
    wake_.notify_all();
}

void ScriptedInput::SetBlockLimit(int blocks) {
    std::lock_guard lock(mutex_);
    blockLimit_ = blocks;
}

int ScriptedInput::DeliverBurst(int blocks) {
    std::unique_lock lock(mutex_);
    if (!started_ || blocks <= 0) return 0;
    burstDone_.wait(lock, [this] { return !burstActive_; });
    burstActive_ = true;
    burstRequested_ = blocks;
    burstFilled_ = 0;
    wake_.notify_all();
    burstDone_.wait(lock, [this] { return burstRequested_ == 0; });
    burstActive_ = false;
    const int filled = burstFilled_;
    burstDone_.notify_all();
    return filled;
}

std::vector<ScriptedInput::CallRecord> ScriptedInput::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int ScriptedInput::CountOf(Call call) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                          [call](const CallRecord& r) { return r.call == call; }));
}

int ScriptedInput::QueuedBuffers() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(queue_.size());
}

int ScriptedInput::DeliveredBlocks() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

int ScriptedInput::DroppedBlocks() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

bool ScriptedInput::IsOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void ScriptedInput::Record(Call call, int result, const WaveHeader* header) {
    calls_.push_back({call, result, header});
}

int ScriptedInput::Enter(Call call, const WaveHeader* header) {
    const int index =
        static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                       [call](const CallRecord& r) { return r.call == call; })) +
        1;
    int result = kMmNoError;
    for (const Failure& f : failures_) {
        if (f.call == call && f.occurrence == index) result = f.result;
    }
    Record(call, result, header);
    return result;
}

int ScriptedInput::GetNumDevs() {
    std::lock_guard lock(mutex_);
    Record(Call::kGetNumDevs, numDevs_, nullptr);
    return numDevs_;
}

int ScriptedInput::Open(SoundInputCallback callback, std::uintptr_t instance) {
    {
        std::lock_guard lock(mutex_);
        const int result = Enter(Call::kOpen, nullptr);
        if (result != kMmNoError) return result;
        if (open_) return kMmAllocated;
        open_ = true;
        callback_ = callback;
        instance_ = instance;
    }
    callback(this, kMmWimOpen, instance, 0, 0);
    return kMmNoError;
}

int ScriptedInput::PrepareHeader(WaveHeader& header) {
    std::lock_guard lock(mutex_);
    const int result = Enter(Call::kPrepareHeader, &header);
    if (result != kMmNoError) return result;
    header.flags |= kHeaderPrepared;
    return kMmNoError;
}

int ScriptedInput::UnprepareHeader(WaveHeader& header) {
    std::lock_guard lock(mutex_);
    const int result = Enter(Call::kUnprepareHeader, &header);
    if (result != kMmNoError) return result;
    if (header.flags & kHeaderInQueue) return kWaveStillPlaying;
    header.flags &= ~kHeaderPrepared;
    return kMmNoError;
}

int ScriptedInput::AddBuffer(WaveHeader& header) {
    std::lock_guard lock(mutex_);
    const int result = Enter(Call::kAddBuffer, &header);
    if (result != kMmNoError) return result;
    if (!open_) return kMmInvalidHandle;
    if (!(header.flags & kHeaderPrepared)) return kWaveUnprepared;
    header.bytesRecorded = 0;
    header.flags = (header.flags & ~kHeaderDone) | kHeaderInQueue;
    queue_.push_back(&header);
    return kMmNoError;
}

int ScriptedInput::Start() {
    {
        std::lock_guard lock(mutex_);
        const int result = Enter(Call::kStart, nullptr);
        if (result != kMmNoError) return result;
        if (!open_) return kMmInvalidHandle;
        started_ = true;
    }
    wake_.notify_all();
    return kMmNoError;
}

int ScriptedInput::Stop() {
    std::lock_guard delivery(deliveryMutex_);
    std::lock_guard lock(mutex_);
    const int result = Enter(Call::kStop, nullptr);
    if (result != kMmNoError) return result;
    started_ = false;
    return kMmNoError;
}

int ScriptedInput::Reset() {
    std::lock_guard delivery(deliveryMutex_);
    std::deque<WaveHeader*> handedBack;
    SoundInputCallback callback;
    std::uintptr_t instance;
    {
        std::lock_guard lock(mutex_);
        const int result = Enter(Call::kReset, nullptr);
        if (result != kMmNoError) return result;
        started_ = false;
        handedBack.swap(queue_);
        callback = callback_;
        instance = instance_;
    }
    for (WaveHeader* header : handedBack) {
        header->bytesRecorded = 0;
        header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
        callback(this, kMmWimData, instance, reinterpret_cast<std::uintptr_t>(header), 0);
    }
    return kMmNoError;
}

int ScriptedInput::Close() {
    std::lock_guard delivery(deliveryMutex_);
    SoundInputCallback callback;
    std::uintptr_t instance;
    {
        std::lock_guard lock(mutex_);
        const int result = Enter(Call::kClose, nullptr);
        if (result != kMmNoError) return result;
        if (!open_) return kMmInvalidHandle;
        for (WaveHeader* header : queue_) {
            header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
        }
        queue_.clear();
        open_ = false;
        started_ = false;
        callback = callback_;
        instance = instance_;
        callback_ = nullptr;
    }
    callback(this, kMmWimClose, instance, 0, 0);
    return kMmNoError;
}

bool ScriptedInput::DeliverOne() {
    std::lock_guard delivery(deliveryMutex_);
    WaveHeader* header = nullptr;
    SoundInputCallback callback;
    std::uintptr_t instance;
    std::size_t from;
    {
        std::lock_guard lock(mutex_);
        if (!started_) return false;
        if (blockLimit_ >= 0 && delivered_ + dropped_ >= blockLimit_) return false;
        from = nextSample_;
        nextSample_ += kScriptBlockSamples;
        if (queue_.empty()) {
            ++dropped_;
            return false;
        }
        header = queue_.front();
        queue_.pop_front();
        callback = callback_;
        instance = instance_;
    }
    const std::size_t count = std::min<std::size_t>(header->bufferLength / 2, kScriptBlockSamples);
    for (std::size_t i = 0; i < count; ++i) {
        header->data[i] = from + i < samples_.size() ? samples_[from + i] : std::int16_t{0};
    }
    header->bytesRecorded = static_cast<std::uint32_t>(count * 2);
    header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
    {
        std::lock_guard lock(mutex_);
        ++delivered_;
    }
    callback(this, kMmWimData, instance, reinterpret_cast<std::uintptr_t>(header), 0);
    return true;
}

void ScriptedInput::Run() {
    std::unique_lock lock(mutex_);
    auto nextTick = std::chrono::steady_clock::now();
    while (!quit_) {
        if (burstRequested_ > 0) {
            const int blocks = burstRequested_;
            lock.unlock();
            int filled = 0;
            for (int i = 0; i < blocks; ++i) filled += DeliverOne() ? 1 : 0;
            lock.lock();
            burstFilled_ = filled;
            burstRequested_ = 0;
            burstDone_.notify_all();
            continue;
        }
        if (started_ && pace_.count() > 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextTick) {
                nextTick = now + pace_;
                lock.unlock();
                DeliverOne();
                lock.lock();
                continue;
            }
            wake_.wait_until(lock, nextTick);
        } else {
            wake_.wait(lock);
            nextTick = std::chrono::steady_clock::now() + pace_;
        }
    }
}

}  // namespace dahlo
