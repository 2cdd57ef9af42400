#pragma once
// The buffer queue of a live sound input: buffers added on the window thread are filled in order
// on the audio thread and handed back, full, through the input's callback. When no buffer is
// queued the audio of that moment is dropped, never waited for, and counted. When the input is
// gone for good, every queued buffer is handed back empty and every later prepare or add fails,
// so that the loop's next hand-back reports the failure.

#include <atomic>
#include <cstdint>

#include "capture/header_queue.h"
#include "capture/sound_input.h"

namespace dahlo {

class QueuedBuffers {
  public:
    // Where full buffers are announced (kMmWimData, param1 the header).
    void SetCallback(SoundInput* device, SoundInputCallback callback, std::uintptr_t instance);
    void Announce(unsigned message) const;

    // Window thread. Both fail once the input has failed.
    int Prepare(WaveHeader& header) const;
    int Add(WaveHeader& header);
    static int Unprepare(WaveHeader& header);

    // Audio thread: copies `frames` samples (silence when `input` is null) into the queued
    // buffers, handing back each one that is full.
    void Fill(const std::int16_t* input, unsigned long frames);

    // With the audio thread stopped: hands back a partly filled buffer with what it holds.
    void HandBackPartial();
    // With the audio thread stopped: every queued buffer goes back, announced (unfilled) or not.
    void Release(bool announce);

    // Audio thread (or with it stopped): the input is lost for good. The buffer being filled and
    // every queued one go back, silent and with nothing recorded, as on a reset.
    void Fail();
    bool Failed() const { return failed_.load(); }

    // Before an open: zero counts, no failure.
    void ResetCounters();
    std::uint64_t DroppedSamples() const { return droppedSamples_.load(); }
    std::uint64_t Overruns() const { return overruns_.load(); }

  private:
    void HandBack(WaveHeader* header) const;

    SoundInput* device_ = nullptr;
    SoundInputCallback callback_ = nullptr;
    std::uintptr_t instance_ = 0;
    HeaderQueue<32> queue_;
    WaveHeader* current_ = nullptr;  // being filled; the audio thread's while it runs
    bool dropping_ = false;          // the audio thread's
    std::atomic<std::uint64_t> droppedSamples_{0};
    std::atomic<std::uint64_t> overruns_{0};
    std::atomic<bool> failed_{false};
};

}  // namespace dahlo
