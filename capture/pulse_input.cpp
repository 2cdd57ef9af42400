#include "dsp/sample_rate.h"
#include "capture/pulse_input.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <cstdio>

namespace dahlo {

namespace {

using namespace std::chrono_literals;

constexpr unsigned long kFragmentFrames = 512;  // 46 ms: the server sends about 22 times a second

constexpr pa_usec_t kTickUsec = 500 * PA_USEC_PER_MSEC;  // how often a lost server is tried
constexpr auto kOpenTimeout = 4s;
constexpr auto kAttemptTimeout = 2s;  // a server that accepts but does not answer is tried again
constexpr auto kReopenFor = 10s;

pa_sample_spec CaptureSpec() {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = kSampleRateHz;
    spec.channels = 1;
    return spec;
}

timeval TickFromNow() {
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kTickUsec);
    return when;
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
    if (mainloop_ != nullptr) Close();
}

bool PulseInput::ServerAvailable() {
    PulseInput probe;
    if (probe.Open(nullptr, 0) != kMmNoError) return false;
    probe.Close();
    return true;
}

int PulseInput::GetNumDevs() { return ServerAvailable() ? 1 : 0; }

int PulseInput::Open(SoundInputCallback callback, std::uintptr_t instance) {
    if (mainloop_ != nullptr) return kMmAllocated;
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) return kMmNoMem;
    buffers_.ResetCounters();
    buffers_.SetCallback(this, callback, instance);
    opening_ = true;
    openDone_ = false;
    openError_ = PA_OK;
    openDeadline_ = Clock::now() + kOpenTimeout;
    recording_ = quiet_ = streamUp_ = recovering_ = gaveUp_ = false;

    // Nothing runs on the event thread yet, so this thread may set it up without the lock.
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    const timeval first = TickFromNow();
    tick_ = api->time_new(api, &first, &OnTick, this);
    Connect();
    int error = PA_ERR_INTERNAL;
    if (pa_threaded_mainloop_start(mainloop_) >= 0) {
        pa_threaded_mainloop_lock(mainloop_);
        while (!openDone_) pa_threaded_mainloop_wait(mainloop_);
        opening_ = false;
        error = openError_;
        pa_threaded_mainloop_unlock(mainloop_);
    }
    if (error != PA_OK) {
        ShutDown();
        buffers_.SetCallback(nullptr, nullptr, 0);
        return MmResultFromPulseError(error);
    }
    buffers_.Announce(kMmWimOpen);
    return kMmNoError;
}

int PulseInput::PrepareHeader(WaveHeader& header) { return buffers_.Prepare(header); }

int PulseInput::UnprepareHeader(WaveHeader& header) { return QueuedBuffers::Unprepare(header); }

int PulseInput::AddBuffer(WaveHeader& header) {
    if (mainloop_ == nullptr) return kMmInvalidHandle;
    return buffers_.Add(header);
}

int PulseInput::Start() {
    if (mainloop_ == nullptr) return kMmInvalidHandle;
    pa_threaded_mainloop_lock(mainloop_);
    const bool failed = gaveUp_;
    if (!failed) {
        recording_ = true;
        quiet_ = false;
        Uncork();
    }
    pa_threaded_mainloop_unlock(mainloop_);
    return failed ? kMmError : kMmNoError;
}

int PulseInput::Stop() {
    if (mainloop_ == nullptr) return kMmInvalidHandle;
    // The event thread holds the lock only while handling an event, never while waiting for the
    // server; once this returns it no longer touches the buffers.
    pa_threaded_mainloop_lock(mainloop_);
    recording_ = false;
    quiet_ = true;
    if (stream_ != nullptr && streamUp_) {
        if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
    pa_threaded_mainloop_unlock(mainloop_);
    buffers_.HandBackPartial();
    return kMmNoError;
}

int PulseInput::Reset() {
    if (mainloop_ == nullptr) return kMmInvalidHandle;
    pa_threaded_mainloop_lock(mainloop_);
    recording_ = false;
    quiet_ = true;
    pa_threaded_mainloop_unlock(mainloop_);
    buffers_.Release(true);
    return kMmNoError;
}

int PulseInput::Close() {
    if (mainloop_ == nullptr) return kMmInvalidHandle;
    ShutDown();
    buffers_.Release(false);
    buffers_.Announce(kMmWimClose);
    buffers_.SetCallback(nullptr, nullptr, 0);
    return kMmNoError;
}

void PulseInput::ShutDown() {
    // Stopping the event thread only wakes it from its poll: no answer of the server is awaited.
    pa_threaded_mainloop_stop(mainloop_);
    // The thread has ended; its objects are this thread's now.
    Disconnect();
    if (tick_ != nullptr) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
        api->time_free(tick_);
        tick_ = nullptr;
    }
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    recording_ = streamUp_ = recovering_ = false;
    quiet_ = true;
}

void PulseInput::Connect() {
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Dahlo");
    attemptAt_ = Clock::now();
    linkDead_ = false;
    if (context_ == nullptr) {
        ConnectionLost(PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(context_, &OnContextState, this);
    // When reopening, no autospawn: starting a server would hold up the event thread.
    const pa_context_flags_t flags = opening_ ? PA_CONTEXT_NOFLAGS : PA_CONTEXT_NOAUTOSPAWN;
    if (pa_context_connect(context_, nullptr, flags, nullptr) < 0) {
        ConnectionLost(pa_context_errno(context_));
    }
}

void PulseInput::Disconnect() {
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    streamUp_ = false;
}

void PulseInput::OnContextState(pa_context* context, void* self) {
    auto* input = static_cast<PulseInput*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            const pa_sample_spec spec = CaptureSpec();
            input->stream_ = pa_stream_new(context, "Receiver audio", &spec, nullptr);
            if (input->stream_ == nullptr) {
                input->ConnectionLost(pa_context_errno(context));
                return;
            }
            pa_stream_set_state_callback(input->stream_, &OnStreamState, self);
            pa_stream_set_read_callback(input->stream_, &OnStreamRead, self);
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<std::uint32_t>(-1);
            attr.fragsize = static_cast<std::uint32_t>(kFragmentFrames * sizeof(std::int16_t));
            attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
            // Until Start, nothing is recorded (and nothing piles up in the server).
            const auto flags = static_cast<pa_stream_flags_t>(
                PA_STREAM_ADJUST_LATENCY | (input->recording_ ? 0 : PA_STREAM_START_CORKED));
            if (pa_stream_connect_record(input->stream_, nullptr, &attr, flags) < 0) {
                input->ConnectionLost(pa_context_errno(context));
            }
            return;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            input->ConnectionLost(pa_context_errno(context));
            return;
        default:
            return;
    }
}

void PulseInput::OnStreamState(pa_stream* stream, void* self) {
    auto* input = static_cast<PulseInput*>(self);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            input->StreamUp();
            return;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            input->ConnectionLost(pa_context_errno(pa_stream_get_context(stream)));
            return;
        default:
            return;
    }
}

void PulseInput::OnStreamRead(pa_stream* stream, std::size_t /*bytes*/, void* self) {
    auto* input = static_cast<PulseInput*>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
        if (input->recording_ && !input->quiet_) {
            // A hole in the stream (data null) is recorded as silence.
            input->buffers_.Fill(static_cast<const std::int16_t*>(data),
                                 bytes / sizeof(std::int16_t));
        }
        pa_stream_drop(stream);
    }
}

void PulseInput::OnTick(pa_mainloop_api* api, pa_time_event* event, const timeval* /*when*/,
                        void* self) {
    const timeval next = TickFromNow();
    api->time_restart(event, &next);
    static_cast<PulseInput*>(self)->Supervise();
}

void PulseInput::StreamUp() {
    streamUp_ = true;
    if (opening_) {
        openDone_ = true;
        openError_ = PA_OK;
        pa_threaded_mainloop_signal(mainloop_, 0);
        return;
    }
    if (recovering_) {
        recovering_ = false;
        const double seconds = std::chrono::duration<double>(Clock::now() - lostAt_).count();
        std::fprintf(stderr, "Dahlo: the sound server was gone for %.1f s; recording goes on\n",
                     seconds);
    }
}

void PulseInput::ConnectionLost(int error) {
    // The dead connection is let go on the next tick, outside its own callbacks.
    if (context_ != nullptr) pa_context_set_state_callback(context_, nullptr, nullptr);
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
    }
    streamUp_ = false;
    linkDead_ = true;
    if (opening_) {
        if (!openDone_) {
            openDone_ = true;
            openError_ = error != PA_OK ? error : PA_ERR_CONNECTIONTERMINATED;
        }
        pa_threaded_mainloop_signal(mainloop_, 0);
        return;
    }
    if (!recovering_ && !gaveUp_) {
        recovering_ = true;
        lostAt_ = Clock::now();
    }
}

void PulseInput::Supervise() {
    const Clock::time_point now = Clock::now();
    if (opening_) {
        if (!openDone_ && now >= openDeadline_) {
            openDone_ = true;
            openError_ = PA_ERR_TIMEOUT;
            pa_threaded_mainloop_signal(mainloop_, 0);
        }
        return;
    }
    if (!recovering_ || gaveUp_ || quiet_) return;
    if (now - lostAt_ >= kReopenFor) {
        Disconnect();
        gaveUp_ = true;
        recording_ = false;
        buffers_.Fail();  // the loop's next hand-back reports it
        return;
    }
    if (context_ != nullptr && !linkDead_ && now - attemptAt_ < kAttemptTimeout) return;
    Disconnect();
    Connect();
}

void PulseInput::Uncork() {
    if (stream_ != nullptr && streamUp_) {
        if (pa_operation* op = pa_stream_cork(stream_, 0, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
}

}  // namespace dahlo
