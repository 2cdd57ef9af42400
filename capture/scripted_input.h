#pragma once
// A sound input that plays a script, for tests and demonstrations: any call can be made to fail
// with a chosen result, every call is recorded, and blocks of given samples are delivered on the
// input's own thread, at a steady pace or in bursts, in the order the buffers were added. Reset
// hands every queued buffer back unfilled, as a real driver does.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/sound_input.h"

namespace dahlo {

class ScriptedInput final : public SoundInput {
  public:
    enum class Call : std::uint8_t {
        kGetNumDevs,
        kOpen,
        kPrepareHeader,
        kUnprepareHeader,
        kAddBuffer,
        kStart,
        kStop,
        kReset,
        kClose,
    };
    struct CallRecord {
        Call call;
        int result;
        const WaveHeader* header;  // for the header calls, else null
    };

    // `samples` is the sound delivered from Start on, 2048 per block; silence after its end.
    explicit ScriptedInput(std::vector<std::int16_t> samples = {});
    ~ScriptedInput() override;
    ScriptedInput(const ScriptedInput&) = delete;
    ScriptedInput& operator=(const ScriptedInput&) = delete;

    // --- the script ---
    void SetNumDevs(int count);
    // The `occurrence`-th call (from 1) of `call` returns `result` and does nothing else.
    void FailCall(Call call, int result, int occurrence = 1);
    // While started, one block every `perBlock` on the input's thread; zero: only on request.
    void SetPace(std::chrono::microseconds perBlock);
    // After `blocks` blocks (filled or lost) nothing more arrives, as if the source fell silent.
    void SetBlockLimit(int blocks);
    // Delivers `blocks` blocks now, back to back on the input's thread, and returns once they are
    // announced. A block with no queued buffer is lost (counted as dropped). Returns the number of
    // buffers filled; 0 unless started.
    int DeliverBurst(int blocks);

    // --- what happened ---
    std::vector<CallRecord> Calls() const;
    int CountOf(Call call) const;
    int QueuedBuffers() const;
    int DeliveredBlocks() const;
    int DroppedBlocks() const;
    bool IsOpen() const;

    // --- SoundInput ---
    int GetNumDevs() override;
    int Open(SoundInputCallback callback, std::uintptr_t instance) override;
    int PrepareHeader(WaveHeader& header) override;
    int UnprepareHeader(WaveHeader& header) override;
    int AddBuffer(WaveHeader& header) override;
    int Start() override;
    int Stop() override;
    int Reset() override;
    int Close() override;

  private:
    struct Failure {
        Call call;
        int result;
        int occurrence;
    };

    // Records the call; returns the scripted failure result, or kMmNoError to go ahead.
    int Enter(Call call, const WaveHeader* header);
    void Record(Call call, int result, const WaveHeader* header);
    void Run();
    // One block on the input's thread; false when it was lost for want of a buffer.
    bool DeliverOne();

    const std::vector<std::int16_t> samples_;

    // Held for the whole of one delivery, so that Stop, Reset and Close never overlap one.
    std::mutex deliveryMutex_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable burstDone_;
    std::vector<CallRecord> calls_;
    std::vector<Failure> failures_;
    std::deque<WaveHeader*> queue_;
    int numDevs_ = 1;
    bool open_ = false;
    bool started_ = false;
    bool quit_ = false;
    std::chrono::microseconds pace_{0};
    int burstRequested_ = 0;
    int burstFilled_ = 0;
    bool burstActive_ = false;
    std::size_t nextSample_ = 0;
    int delivered_ = 0;
    int dropped_ = 0;
    int blockLimit_ = -1;  // none
    SoundInputCallback callback_ = nullptr;
    std::uintptr_t instance_ = 0;

    std::thread thread_;  // last: started once everything it uses exists
};

}  // namespace dahlo
