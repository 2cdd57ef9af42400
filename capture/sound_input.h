#pragma once
// A sound input with the semantics of a queued-buffer capture driver: buffers are prepared and
// added to a queue, the driver fills them in the order they were added and announces each filled
// buffer through a callback on its own thread; a reset hands every queued buffer back unfilled.
// An input lost for good does the same, and fails every later prepare or add.
// The live backends are the sound server's own API and PortAudio; tests use a scripted one.

#include <cstdint>

namespace dahlo {

// Callback messages.
inline constexpr unsigned kMmWimOpen = 0x3BE;
inline constexpr unsigned kMmWimClose = 0x3BF;
inline constexpr unsigned kMmWimData = 0x3C0;  // a buffer is full

// Results of the driver calls (the numbers capture errors are reported by).
enum MmResult : int {
    kMmNoError = 0,
    kMmError = 1,
    kMmBadDeviceId = 2,
    kMmAllocated = 4,
    kMmInvalidHandle = 5,
    kMmNoDriver = 6,
    kMmNoMem = 7,
    kWaveBadFormat = 32,
    kWaveStillPlaying = 33,
    kWaveUnprepared = 34,
};

// Header flags.
inline constexpr std::uint32_t kHeaderDone = 0x01;
inline constexpr std::uint32_t kHeaderPrepared = 0x02;
inline constexpr std::uint32_t kHeaderInQueue = 0x10;

struct WaveHeader {
    std::int16_t* data = nullptr;
    std::uint32_t bufferLength = 0;   // bytes
    std::uint32_t bytesRecorded = 0;  // set by the driver
    std::uint32_t flags = 0;
};

class SoundInput;

// Runs on the driver's thread. `instance` is the value given to Open; for kMmWimData, `param1`
// is the address of the filled WaveHeader.
using SoundInputCallback = void (*)(SoundInput* device, unsigned message, std::uintptr_t instance,
                                    std::uintptr_t param1, std::uintptr_t param2);

// One capture device: the system's preferred input at 11025 Hz, 16-bit, mono.
class SoundInput {
public:
    virtual ~SoundInput() = default;
    virtual int GetNumDevs() = 0;
    virtual int Open(SoundInputCallback callback, std::uintptr_t instance) = 0;
    virtual int PrepareHeader(WaveHeader& header) = 0;
    virtual int UnprepareHeader(WaveHeader& header) = 0;
    virtual int AddBuffer(WaveHeader& header) = 0;
    virtual int Start() = 0;
    virtual int Stop() = 0;
    virtual int Reset() = 0;  // hands every queued buffer back, unfilled
    virtual int Close() = 0;
};

}  // namespace dahlo
