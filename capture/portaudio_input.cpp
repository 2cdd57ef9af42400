#include "dsp/sample_rate.h"
#include "capture/portaudio_input.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace dahlo {

namespace {


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

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kCallTimeout = 1500ms;   // how long the window thread waits for a PortAudio call
constexpr auto kWatchInterval = 500ms;  // how often the stream is looked at, and a lost one tried
constexpr auto kReopenFor = 10s;

int ResultOf(PaError error) {
    const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
    return MmResultFromPaError(error,
                               error == paUnanticipatedHostError && host ? host->errorCode : 0);
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

// Shared by the window thread, the worker and PortAudio's callback thread. It outlives the input
// when a call is left behind, so nothing left running ever reaches freed memory.
struct PortAudioInput::Session {
    // The callback's and the worker's only way to the buffers; null once the window thread has
    // taken them back, and from then on the ring is never touched from here.
    std::mutex gate;
    QueuedBuffers* buffers = nullptr;

    std::mutex mutex;  // guards the command fields
    std::condition_variable wake;
    std::condition_variable done;
    Command command = Command::kNone;
    bool commandDone = false;
    int commandResult = kMmNoError;
    bool leftBehind = false;

    // The worker's alone.
    PaStream* stream = nullptr;
    PaStreamParameters input{};
    enum class State { kIdle, kRunning, kLost, kFailed } state = State::kIdle;
    Clock::time_point lostAt{};
};

PortAudioInput::~PortAudioInput() {
    if (session_ != nullptr) Close();
    // With a call left behind PortAudio is busy for good; terminating it would wait as well.
    if (initialized_ && !leftBehind_) Pa_Terminate();
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
    if (leftBehind_ || !EnsureInitialized()) return 0;
    if (Pa_GetDeviceCount() <= 0 || Pa_GetDefaultInputDevice() == paNoDevice) return 0;
    int inputs = 0;
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxInputChannels > 0) ++inputs;
    }
    return inputs;
}

int PortAudioInput::Open(SoundInputCallback callback, std::uintptr_t instance) {
    if (session_ != nullptr) return kMmAllocated;
    if (leftBehind_ || !EnsureInitialized()) return kMmNoDriver;
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

    auto session = std::make_shared<Session>();
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
            error = Pa_OpenStream(&stream, &input, nullptr, kSampleRateHz,
                                  paFramesPerBufferUnspecified, paNoFlag, &StreamCallback,
                                  session.get());
        }
        if (error == paNoError) {
            deviceName_ = info != nullptr ? info->name : "";
            const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
            streamRate_ = streamInfo != nullptr ? streamInfo->sampleRate : kSampleRateHz;
            buffers_.ResetCounters();
            buffers_.SetCallback(this, callback, instance);
            session->buffers = &buffers_;
            session->stream = stream;
            session->input = input;
            session_ = session;
            // From here on PortAudio is called from the worker only.
            worker_ = std::thread(&PortAudioInput::Work, session);
            buffers_.Announce(kMmWimOpen);
            return kMmNoError;
        }
        const int result = ResultOf(error);
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
    if (session_ == nullptr) return kMmInvalidHandle;
    return buffers_.Add(header);
}

int PortAudioInput::Start() {
    if (session_ == nullptr) return kMmInvalidHandle;
    if (leftBehind_) return kMmError;
    return Run(Command::kStart);
}

int PortAudioInput::Stop() {
    if (session_ == nullptr) return kMmInvalidHandle;
    if (!leftBehind_) Run(Command::kStop);
    std::lock_guard<std::mutex> gate(session_->gate);
    buffers_.HandBackPartial();
    return kMmNoError;
}

int PortAudioInput::Reset() {
    if (session_ == nullptr) return kMmInvalidHandle;
    if (!leftBehind_) Run(Command::kStop);
    std::lock_guard<std::mutex> gate(session_->gate);
    buffers_.Release(true);
    return kMmNoError;
}

int PortAudioInput::Close() {
    if (session_ == nullptr) return kMmInvalidHandle;
    if (!leftBehind_) {
        Run(Command::kClose);
        if (worker_.joinable()) worker_.join();  // it has left its loop: not left behind
    }
    {
        std::lock_guard<std::mutex> gate(session_->gate);
        session_->buffers = nullptr;
    }
    buffers_.Release(false);
    buffers_.Announce(kMmWimClose);
    buffers_.SetCallback(nullptr, nullptr, 0);
    session_.reset();
    return kMmNoError;
}

int PortAudioInput::Run(Command command) {
    Session& session = *session_;
    std::unique_lock<std::mutex> lock(session.mutex);
    session.command = command;
    session.commandDone = false;
    session.wake.notify_all();
    if (session.done.wait_for(lock, kCallTimeout, [&] { return session.commandDone; })) {
        return session.commandResult;
    }
    lock.unlock();
    LeaveBehind();
    return kMmError;
}

void PortAudioInput::LeaveBehind() {
    Session& session = *session_;
    {
        std::lock_guard<std::mutex> lock(session.mutex);
        session.leftBehind = true;
    }
    {
        // Waits for a callback in progress; afterwards neither it nor the worker reaches the
        // buffers again.
        std::lock_guard<std::mutex> gate(session.gate);
        session.buffers = nullptr;
    }
    // The worker keeps the session alive and ends when (if ever) its call returns.
    worker_.detach();
    leftBehind_ = true;
    std::fprintf(stderr, "Dahlo: the sound input did not stop in time; left behind\n");
}

void PortAudioInput::Work(std::shared_ptr<Session> session) {
    Session& s = *session;
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!s.leftBehind) {
        s.wake.wait_for(lock, kWatchInterval,
                        [&] { return s.command != Command::kNone || s.leftBehind; });
        if (s.leftBehind) return;
        const Command command = s.command;
        s.command = Command::kNone;
        lock.unlock();
        int result = kMmNoError;
        if (command != Command::kNone) {
            result = Execute(s, command);
        } else {
            Watch(s);
        }
        lock.lock();
        if (command != Command::kNone) {
            s.commandResult = result;
            s.commandDone = true;
            s.done.notify_all();
            if (command == Command::kClose) return;
        }
    }
}

int PortAudioInput::Execute(Session& s, Command command) {
    switch (command) {
        case Command::kStart: {
            if (s.state == Session::State::kRunning) return kMmNoError;
            if (s.state == Session::State::kFailed || s.stream == nullptr) return kMmError;
            const PaError error = Pa_StartStream(s.stream);
            if (error != paNoError) return ResultOf(error);
            s.state = Session::State::kRunning;
            return kMmNoError;
        }
        case Command::kStop:
        case Command::kClose:
            if (s.stream != nullptr && Pa_IsStreamStopped(s.stream) == 0) {
                Pa_AbortStream(s.stream);  // returns once the callback has finished for good
            }
            if (s.state != Session::State::kFailed) s.state = Session::State::kIdle;
            if (command == Command::kClose && s.stream != nullptr) {
                Pa_CloseStream(s.stream);
                s.stream = nullptr;
            }
            return kMmNoError;
        case Command::kNone:
            break;
    }
    return kMmNoError;
}

void PortAudioInput::Watch(Session& s) {
    const Clock::time_point now = Clock::now();
    if (s.state == Session::State::kRunning && Pa_IsStreamActive(s.stream) != 1) {
        // The stream ended by itself: its device or sound server went away.
        s.state = Session::State::kLost;
        s.lostAt = now;
    }
    if (s.state != Session::State::kLost) return;
    if (s.stream != nullptr) {
        Pa_CloseStream(s.stream);
        s.stream = nullptr;
    }
    if (now - s.lostAt >= kReopenFor) {
        s.state = Session::State::kFailed;
        // The callback has ended with its stream, so the worker may act as the consumer.
        std::lock_guard<std::mutex> gate(s.gate);
        if (s.buffers != nullptr) s.buffers->Fail();  // the loop's next hand-back reports it
        return;
    }
    PaStream* stream = nullptr;
    PaError error;
    {
        StderrSilenced quiet;
        error = Pa_OpenStream(&stream, &s.input, nullptr, kSampleRateHz,
                              paFramesPerBufferUnspecified, paNoFlag, &StreamCallback, &s);
        if (error == paNoError) {
            error = Pa_StartStream(stream);
            if (error != paNoError) Pa_CloseStream(stream);
        }
    }
    if (error != paNoError) return;
    s.stream = stream;
    s.state = Session::State::kRunning;
    std::fprintf(stderr, "Dahlo: the sound input was gone for %.1f s; recording goes on\n",
                 std::chrono::duration<double>(Clock::now() - s.lostAt).count());
}

int PortAudioInput::StreamCallback(const void* input, void* /*output*/, unsigned long frames,
                                   const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                   unsigned long /*statusFlags*/, void* session) {
    auto* s = static_cast<Session*>(session);
    // Contended only while the window thread takes the buffers back, for as long as one Fill.
    std::lock_guard<std::mutex> gate(s->gate);
    if (s->buffers == nullptr) return paAbort;
    s->buffers->Fill(static_cast<const std::int16_t*>(input), frames);
    return paContinue;
}

}  // namespace dahlo
