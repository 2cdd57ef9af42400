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
            deviceName_ = info != nullptr ? info->name : "";
            const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
            streamRate_ = streamInfo != nullptr ? streamInfo->sampleRate : kCaptureRate;
            buffers_.ResetCounters();
            buffers_.SetCallback(this, callback, instance);
            buffers_.Announce(kMmWimOpen);
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

int PortAudioInput::PrepareHeader(WaveHeader& header) { return buffers_.Prepare(header); }

int PortAudioInput::UnprepareHeader(WaveHeader& header) {
    return QueuedBuffers::Unprepare(header);
}

int PortAudioInput::AddBuffer(WaveHeader& header) {
    if (stream_ == nullptr) return kMmInvalidHandle;
    return buffers_.Add(header);
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
    buffers_.HandBackPartial();
    return kMmNoError;
}

int PortAudioInput::Reset() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_) {
        Pa_AbortStream(stream_);
        running_ = false;
    }
    buffers_.Release(true);
    return kMmNoError;
}

int PortAudioInput::Close() {
    if (stream_ == nullptr) return kMmInvalidHandle;
    if (running_) {
        Pa_AbortStream(stream_);
        running_ = false;
    }
    buffers_.Release(false);
    buffers_.Announce(kMmWimClose);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    buffers_.SetCallback(nullptr, nullptr, 0);
    return kMmNoError;
}

int PortAudioInput::StreamCallback(const void* input, void* /*output*/, unsigned long frames,
                                   const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                   unsigned long /*statusFlags*/, void* self) {
    static_cast<PortAudioInput*>(self)->buffers_.Fill(static_cast<const std::int16_t*>(input),
                                                      frames);
    return paContinue;
}

}  // namespace dahlo
