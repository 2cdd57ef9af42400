#pragma once
// The live sound input through the PulseAudio (or PipeWire) sound server's own client API: a
// record stream at 11025 Hz, 16-bit, mono, from the server's default source, read by a thread of
// ours that sleeps in the server connection until a fragment has arrived. The server resamples.
// Through ALSA's pulse plugin the same audio costs several times the CPU, since that path polls.

#include <atomic>
#include <cstdint>
#include <thread>

#include "capture/queued_buffers.h"
#include "capture/sound_input.h"

struct pa_simple;

namespace dahlo {

class PulseInput final : public SoundInput {
  public:
    PulseInput() = default;
    ~PulseInput() override;
    PulseInput(const PulseInput&) = delete;
    PulseInput& operator=(const PulseInput&) = delete;

    // Whether a sound server answers.
    static bool ServerAvailable();

    // 1 when a sound server answers, else 0.
    int GetNumDevs() override;
    int Open(SoundInputCallback callback, std::uintptr_t instance) override;
    int PrepareHeader(WaveHeader& header) override;
    int UnprepareHeader(WaveHeader& header) override;
    int AddBuffer(WaveHeader& header) override;
    int Start() override;
    // Stops recording; a partly filled buffer is handed back with what it holds.
    int Stop() override;
    // Stops recording and hands back every queued buffer.
    int Reset() override;
    // Queued buffers are released without an announcement; then kMmWimClose.
    int Close() override;

    std::uint64_t DroppedSamples() const { return buffers_.DroppedSamples(); }
    std::uint64_t Overruns() const { return buffers_.Overruns(); }

  private:
    void StopReader();
    void ReadLoop();

    pa_simple* stream_ = nullptr;
    std::thread reader_;
    std::atomic<bool> running_{false};
    QueuedBuffers buffers_;
};

// The sound-input result for a PulseAudio error code.
int MmResultFromPulseError(int pulseError);

}  // namespace dahlo
