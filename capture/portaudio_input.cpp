#include "capture/portaudio_input.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace dahlo {

namespace {

constexpr double kCaptureRate = 11025.0;

// PortAudio's ALSA and JACK back ends describe every device they probe on stderr; the program
// has no console output, so that chatter is hidden while PortAudio looks around.
class StderrSilenced {
  public:
    StderrSilenced() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~StderrSilenced() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }
    StderrSilenced(const StderrSilenced&) = delete;
    StderrSilenced& operator=(const StderrSilenced&) = delete;

  private:
    int saved_ = -1;
};

bool IsFormatResult(int result) {
    return result == kWaveBadFormat;
}

}  // namespace

int MmResultFromPaError(int paError, long hostErrorCode) {
    switch (paError) {
        case paNoError:
            return kMmNoError;
        case paDeviceUnavailable:
            return kMmAllocated;
        case paInvalidDevice:
            return kMmBadDeviceId;
        case paInvalidSampleRate:
        case paSampleFormatNotSupported:
        case paInvalidChannelCount:
            return kWaveBadFormat;
        case paInsufficientMemory:
            return kMmNoMem;
        case paUnanticipatedHostError:
            // ALSA says "busy" this way when another program holds the device exclusively.
            return hostErrorCode == -EBUSY ? kMmAllocated : kMmError;
        default:
            return kMmError;
    }
}

PortAudioInput::~PortAudioInput() {
    if (stream_ != nullptr) Close();
    if (initialized_) Pa_Terminate();
}

bool PortAudioInput::EnsureInitialized() {
    if (initialized_) return true;
    if (initFailed_) return false;
    PaError error;
    {
        StderrSilenced quiet;
        error = Pa_Initialize();
    }
    initialized_ = error == paNoError;
    initFailed_ = !initialized_;
    return initialized_;
}

int PortAudioInput::GetNumDevs() {
    if (!EnsureInitialized()) return 0;
    if (Pa_GetDeviceCount() <= 0 || Pa_GetDefaultInputDevice() == paNoDevice) return 0;
    int inputs = 0;
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxInputChannels > 0) ++inputs;
    }
    return inputs;
}

int PortAudioInput::Open(SoundInputCallback callback, std::uintptr_t instance) {
    if (stream_ != nullptr) return kMmAllocated;
    if (!EnsureInitialized()) return kMmNoDriver;
    if (Pa_GetDeviceCount() <= 0) return kMmNoDriver;
    const PaDeviceIndex preferred = Pa_GetDefaultInputDevice();
    if (preferred == paNoDevice) return kMmBadDeviceId;

    // The preferred device first; should it refuse the format, the sound server's own devices,
    // which resample to any rate.
    std::vector<PaDeviceIndex> candidates{preferred};
    for (const char* name : {"pulse", "default"}) {
        for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info != nullptr && info->maxInputChannels > 0 &&
                std::strcmp(info->name, name) == 0 &&
                std::find(candidates.begin(), candidates.end(), i) == candidates.end()) {
                candidates.push_back(i);
            }
        }
    }

    int firstResult = kMmError;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(candidates[c]);
        PaStreamParameters input{};
        input.device = candidates[c];
        input.channelCount = 1;
        input.sampleFormat = paInt16;
        input.suggestedLatency = info != nullptr ? info->defaultHighInputLatency : 0.1;
        PaStream* stream = nullptr;
        PaError error;
        {
            StderrSilenced quiet;
            error = Pa_OpenStream(&stream, &input, nullptr, kCaptureRate,
                                  paFramesPerBufferUnspecified, paNoFlag, &StreamCallback, this);
        }
        if (error == paNoError) {
            stream_ = stream;
            callback_ = callback;
            instance_ = instance;
            deviceName_ = info != nullptr ? info->name : "";
            const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
            streamRate_ = streamInfo != nullptr ? streamInfo->sampleRate : kCaptureRate;
            droppedSamples_.store(0);
            overruns_.store(0);
            dropping_ = false;
            callback_(this, kMmWimOpen, instance_, 0, 0);
            return kMmNoError;
        }
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        const int result = MmResultFromPaError(
            error, error == paUnanticipatedHostError && host ? host->errorCode : 0);
        if (c == 0) firstResult = result;
        if (!IsFormatResult(result)) break;
    }
    return firstResult;
}

int PortAudioInput::PrepareHeader(WaveHeader& header) {
    if (header.data == nullptr || header.bufferLength < 2) return kMmError;
    header.flags |= kHeaderPrepared;
    return kMmNoError;
}

int PortAudioInput::UnprepareHeader(WaveHeader& header) {
    if (header.flags & kHeaderInQueue) return kWaveStillPlaying;
    header.flags &= ~kHeaderPrepared;
    return kMmNoError;
}

int PortAudioInput::AddBuffer(WaveHeader& header) {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (!(header.flags & kHeaderPrepared)) return kWaveUnprepared;
    if (header.flags & kHeaderInQueue) return kWaveStillPlaying;
    header.bytesRecorded = 0;
    header.flags = (header.flags & ~kHeaderDone) | kHeaderInQueue;
    if (!queue_.Push(&header)) {
        header.flags &= ~kHeaderInQueue;
        return kMmNoMem;
    }
    return kMmNoError;
}

int PortAudioInput::Start() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_) return kMmNoError;
    const PaError error = Pa_StartStream(stream_);
    if (error != paNoError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        return MmResultFromPaError(error,
                                   error == paUnanticipatedHostError && host ? host->errorCode : 0);
    }
    running_ = true;
    return kMmNoError;
}

int PortAudioInput::Stop() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_) {
        Pa_StopStream(stream_);  // returns once the callback has finished for good
        running_ = false;
    }
    if (current_ != nullptr && current_->bytesRecorded > 0) {
        WaveHeader* partial = current_;
        current_ = nullptr;
        HandBack(partial);
    }
    return kMmNoError;
}

int PortAudioInput::Reset() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_) {
        Pa_AbortStream(stream_);
        running_ = false;
    }
    ReleaseQueued(true);
    return kMmNoError;
}

int PortAudioInput::Close() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_) {
        Pa_AbortStream(stream_);
        running_ = false;
    }
    ReleaseQueued(false);
    callback_(this, kMmWimClose, instance_, 0, 0);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    callback_ = nullptr;
    return kMmNoError;
}

void PortAudioInput::ReleaseQueued(bool announce) {
    // The stream is stopped here, so this thread may act as the consumer.
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

void PortAudioInput::HandBack(WaveHeader* header) {
    header->flags = (header->flags & ~kHeaderInQueue) | kHeaderDone;
    callback_(this, kMmWimData, instance_, reinterpret_cast<std::uintptr_t>(header), 0);
}

int PortAudioInput::StreamCallback(const void* input, void* /*output*/, unsigned long frames,
                                   const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                   unsigned long /*statusFlags*/, void* self) {
    static_cast<PortAudioInput*>(self)->OnAudio(static_cast<const std::int16_t*>(input), frames);
    return paContinue;
}

void PortAudioInput::OnAudio(const std::int16_t* input, unsigned long frames) {
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

}  // namespace dahlo
