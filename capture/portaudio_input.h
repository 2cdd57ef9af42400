#pragma once
// The live sound input: the system's default capture device through PortAudio, 11025 Hz, 16-bit,
// mono, with a callback stream. Added buffers wait in a lock-free queue and are filled in order
// on PortAudio's thread; each full one is announced with kMmWimData from there. When no buffer is
// queued the audio of that moment is dropped, never waited for, and counted.
//
// After the open, every PortAudio call runs on a worker thread of the input's own: some host
// APIs wait without end inside a stop when their sound server stalls (ALSA's pulse plugin does),
// so the window thread waits for each call a bounded time and, should it not return, takes the
// buffers back and leaves that call behind. The worker also watches the stream: when it ends by
// itself (the device or server went away), the default input is reopened every half second for
// ten seconds; if that fails, every queued buffer is handed back empty and the next hand-back
// fails.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "capture/queued_buffers.h"
#include "capture/sound_input.h"

struct PaStreamCallbackTimeInfo;

namespace dahlo {

class PortAudioInput final : public SoundInput {
  public:
    PortAudioInput() = default;
    ~PortAudioInput() override;
    PortAudioInput(const PortAudioInput&) = delete;
    PortAudioInput& operator=(const PortAudioInput&) = delete;

    // 0 when there is no capture device at all (or PortAudio cannot start), else the number of
    // capture devices.
    int GetNumDevs() override;
    int Open(SoundInputCallback callback, std::uintptr_t instance) override;
    int PrepareHeader(WaveHeader& header) override;
    int UnprepareHeader(WaveHeader& header) override;
    int AddBuffer(WaveHeader& header) override;
    int Start() override;
    // Stops recording; a partly filled buffer is handed back with what it holds. Stop, Reset and
    // Close each return within about 1.5 s whatever the device does.
    int Stop() override;
    // Stops recording and hands back every queued buffer (bytesRecorded 0 unless partly filled).
    int Reset() override;
    // Queued buffers are released without an announcement; then kMmWimClose.
    int Close() override;

    // Audio lost because no buffer was queued: samples, whole blocks' worth of 2048 samples, and
    // the number of separate times the queue ran dry.
    std::uint64_t DroppedSamples() const { return buffers_.DroppedSamples(); }
    std::uint64_t DroppedBlocks() const { return buffers_.DroppedSamples() / 2048; }
    std::uint64_t Overruns() const { return buffers_.Overruns(); }

    // Of the open stream: the device's name and the rate PortAudio settled on.
    const std::string& DeviceName() const { return deviceName_; }
    double StreamSampleRate() const { return streamRate_; }

  private:
    struct Session;
    enum class Command { kNone, kStart, kStop, kClose };

    static int StreamCallback(const void* input, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo* timeInfo, unsigned long statusFlags,
                              void* session);
    static void Work(std::shared_ptr<Session> session);
    static int Execute(Session& session, Command command);
    static void Watch(Session& session);
    bool EnsureInitialized();
    // Runs `command` on the worker; gives up on it (and on PortAudio) after a bounded wait.
    int Run(Command command);
    void LeaveBehind();

    bool initialized_ = false;
    bool initFailed_ = false;
    bool leftBehind_ = false;  // a PortAudio call never returned: PortAudio is not called again
    std::shared_ptr<Session> session_;  // non-null while open
    std::thread worker_;
    std::string deviceName_;
    double streamRate_ = 0.0;

    QueuedBuffers buffers_;
};

// The sound-input result for a PortAudio error code (and, for a host error, its host code).
int MmResultFromPaError(int paError, long hostErrorCode);

}  // namespace dahlo
