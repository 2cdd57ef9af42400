#include "capture/pulse_input.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace dahlo {

namespace {

constexpr std::uint32_t kCaptureRate = 11025;
constexpr unsigned long kFragmentFrames = 512;  // 46 ms: the reader wakes about 22 times a second

pa_sample_spec CaptureSpec() {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = kCaptureRate;
    spec.channels = 1;
    return spec;
}

// Connects a record stream; null and `error` set when the server refuses.
pa_simple* Connect(int& error) {
    const pa_sample_spec spec = CaptureSpec();
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(kFragmentFrames * sizeof(std::int16_t));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    return pa_simple_new(nullptr, "Dahlo", PA_STREAM_RECORD, nullptr, "Receiver audio", &spec,
                         nullptr, &attr, &error);
}

}  // namespace

int MmResultFromPulseError(int pulseError) {
    switch (pulseError) {
        case PA_OK:
            return kMmNoError;
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_NOENTITY:
            return kMmNoDriver;
        case PA_ERR_BUSY:
            return kMmAllocated;
        case PA_ERR_NOTSUPPORTED:
        case PA_ERR_INVALID:
            return kWaveBadFormat;
        default:
            return kMmError;
    }
}

PulseInput::~PulseInput() {
    if (stream_ != nullptr) Close();
}

bool PulseInput::ServerAvailable() {
    int error = 0;
    pa_simple* probe = Connect(error);
    if (probe == nullptr) return false;
    pa_simple_free(probe);
    return true;
}

int PulseInput::GetNumDevs() { return ServerAvailable() ? 1 : 0; }

int PulseInput::Open(SoundInputCallback callback, std::uintptr_t instance) {
    if (stream_ != nullptr) return kMmAllocated;
    int error = 0;
    stream_ = Connect(error);
    if (stream_ == nullptr) return MmResultFromPulseError(error);
    buffers_.ResetCounters();
    buffers_.SetCallback(this, callback, instance);
    buffers_.Announce(kMmWimOpen);
    return kMmNoError;
}

int PulseInput::PrepareHeader(WaveHeader& header) { return QueuedBuffers::Prepare(header); }

int PulseInput::UnprepareHeader(WaveHeader& header) { return QueuedBuffers::Unprepare(header); }

int PulseInput::AddBuffer(WaveHeader& header) {
    if (stream_ == nullptr) return kMmInvalidHandle;
    return buffers_.Add(header);
}

int PulseInput::Start() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_.load()) return kMmNoError;
    // Audio that queued up in the server between the open and now is not wanted.
    int error = 0;
    pa_simple_flush(stream_, &error);
    running_.store(true);
    reader_ = std::thread(&PulseInput::ReadLoop, this);
    return kMmNoError;
}

void PulseInput::StopReader() {
    running_.store(false);
    // The reader is asleep in the connection for at most one fragment.
    if (reader_.joinable()) reader_.join();
}

int PulseInput::Stop() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    StopReader();
    buffers_.HandBackPartial();
    return kMmNoError;
}

int PulseInput::Reset() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    StopReader();
    buffers_.Release(true);
    return kMmNoError;
}

int PulseInput::Close() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    StopReader();
    buffers_.Release(false);
    buffers_.Announce(kMmWimClose);
    pa_simple_free(stream_);
    stream_ = nullptr;
    buffers_.SetCallback(nullptr, nullptr, 0);
    return kMmNoError;
}

void PulseInput::ReadLoop() {
    std::int16_t fragment[kFragmentFrames];
    while (running_.load(std::memory_order_relaxed)) {
        int error = 0;
        if (pa_simple_read(stream_, fragment, sizeof fragment, &error) < 0) {
            // The server went away: recording ends, as when a device is unplugged.
            running_.store(false);
            return;
        }
        buffers_.Fill(fragment, kFragmentFrames);
    }
}

}  // namespace dahlo
