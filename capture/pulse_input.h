#pragma once
// The live sound input through the PulseAudio (or PipeWire) sound server's own client API: a
// record stream at 11025 Hz, 16-bit, mono, from the server's default source. The server resamples.
// Through ALSA's pulse plugin the same audio costs several times the CPU, since that path polls.
//
// Everything that talks to the server runs on the client library's event thread, which never
// waits for the server: a stalled server cannot hold up a stop, and every wait for an answer has
// a time limit. When the server goes away while recording, the default source is reopened every
// half second for ten seconds and recording goes on into the same buffers; if it does not come
// back, every queued buffer is handed back empty and the next hand-back fails.

#include <atomic>
#include <chrono>
#include <cstdint>

#include "capture/queued_buffers.h"
#include "capture/sound_input.h"

struct pa_context;
struct pa_mainloop_api;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;
struct timeval;

namespace dahlo {

class PulseInput final : public SoundInput {
  public:
    PulseInput() = default;
    ~PulseInput() override;
    PulseInput(const PulseInput&) = delete;
    PulseInput& operator=(const PulseInput&) = delete;

    // Whether a sound server answers with a record stream within a few seconds.
    static bool ServerAvailable();

    // 1 when a sound server answers, else 0.
    int GetNumDevs() override;
    int Open(SoundInputCallback callback, std::uintptr_t instance) override;
    // Both fail once the server is lost for good.
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
    using Clock = std::chrono::steady_clock;

    // Event thread, with the event lock held.
    void Connect();
    void Disconnect();
    void StreamUp();
    void ConnectionLost(int error);
    void Supervise();
    void Uncork();

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnStreamRead(pa_stream* stream, std::size_t bytes, void* self);
    static void OnTick(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when,
                       void* self);

    void ShutDown();

    pa_threaded_mainloop* mainloop_ = nullptr;  // non-null while open
    pa_context* context_ = nullptr;             // null while no connection is up or tried
    pa_stream* stream_ = nullptr;
    pa_time_event* tick_ = nullptr;

    // Guarded by the event lock.
    bool opening_ = false;  // Open waits for the first stream
    bool openDone_ = false;
    int openError_ = 0;
    Clock::time_point openDeadline_{};
    bool recording_ = false;  // started and not stopped: the stream runs uncorked
    bool quiet_ = false;      // stopped or closing: the buffers are the window thread's
    bool streamUp_ = false;
    bool linkDead_ = false;    // the connection under way has failed; let go on the next tick
    bool recovering_ = false;  // the server went away; reopening
    bool gaveUp_ = false;
    Clock::time_point lostAt_{};
    Clock::time_point attemptAt_{};

    QueuedBuffers buffers_;
};

// The sound-input result for a PulseAudio error code.
int MmResultFromPulseError(int pulseError);

}  // namespace dahlo
