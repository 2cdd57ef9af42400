#include "capture/capture.h"

namespace dahlo {

std::string_view OpenErrorText(int result) {
    switch (result) {
        case kMmBadDeviceId:
            return "  Specified device identifier is out of range";
        case kMmAllocated:
            return "  Specified resource is already allocated";
        case kMmNoDriver:
            return "  No device driver is present";
        case kMmNoMem:
            return "  Unable to allocate or lock memory";
        case kWaveBadFormat:
            return "  Attempted to open with an unsupported waveform-audio format\n";
        default:
            return " Unrecognized ERROR ";
    }
}

namespace {

// A failure after the open: the device is closed and forgotten before the user is told, so that
// nothing the message box's own event loop runs can reach it again.
void FailOpened(CaptureRing& ring, SoundInput& device, FatalReporter& reporter,
                std::string_view text) {
    ring.CaptureStopping.store(true);
    device.Close();
    ring.device = nullptr;
    reporter.ReportFatal(text, kErrorCaption);
}

}  // namespace

bool OpenCapture(CaptureRing& ring, SoundInput& device, BlockReadyPoster& poster,
                 FatalReporter& reporter, const std::function<void()>& beforeFirstBuffer) {
    ring.device = nullptr;
    if (device.GetNumDevs() < 1) {
        ring.CaptureStopping.store(true);
        reporter.ReportFatal(kNoDeviceText, kErrorCaption);
        return false;
    }

    ring.poster = &poster;
    const int opened = device.Open(&CaptureCallback, reinterpret_cast<std::uintptr_t>(&ring));
    if (opened != kMmNoError) {
        ring.CaptureStopping.store(true);
        reporter.ReportFatal(OpenErrorText(opened), kOpenErrorCaption);
        return false;
    }
    ring.device = &device;

    if (beforeFirstBuffer) beforeFirstBuffer();

    for (int i = 0; i < kBufferCount; ++i) {
        ring.FillHeader(i);
        if (device.PrepareHeader(ring.headers[i]) != kMmNoError) {
            FailOpened(ring, device, reporter, kPrepareErrorText);
            return false;
        }
        if (device.AddBuffer(ring.headers[i]) != kMmNoError) {
            FailOpened(ring, device, reporter, kAddBufferErrorText);
            return false;
        }
        ring.TailIndex = (ring.TailIndex + 1) % kBufferCount;
        ring.FreeBuffers.fetch_add(1);
    }

    if (device.Start() != kMmNoError) {
        FailOpened(ring, device, reporter, kStartErrorText);
        return false;
    }
    return true;
}

void CaptureCallback(SoundInput* /*device*/, unsigned message, std::uintptr_t instance,
                     std::uintptr_t /*param1*/, std::uintptr_t /*param2*/) {
    auto* ring = reinterpret_cast<CaptureRing*>(instance);
    if (ring->CaptureStopping.load()) return;
    if (message != kMmWimData) return;
    ring->WaitingBlocks.fetch_add(1);
    ring->FreeBuffers.fetch_sub(1);
    ring->poster->PostBlockReady();
}

bool HandBackBuffer(CaptureRing& ring, FatalReporter& reporter) {
    ring.FreeBuffers.fetch_add(1);
    const int tail = ring.TailIndex;
    ring.FillHeader(tail);
    std::string_view failure;
    if (ring.device == nullptr || ring.device->PrepareHeader(ring.headers[tail]) != kMmNoError) {
        failure = kPrepareErrorText;
    } else if (ring.device->AddBuffer(ring.headers[tail]) != kMmNoError) {
        failure = kAddBufferErrorText;
    }
    if (!failure.empty()) {
        // Fatal: no further device call and no further block once the user has been told.
        ring.CaptureStopping.store(true);
        if (ring.device != nullptr) ring.device->Close();
        ring.device = nullptr;
        reporter.ReportFatal(failure, kErrorCaption);
        return false;
    }
    ring.TailIndex = (tail + 1) % kBufferCount;
    return true;
}

bool StopCapture(CaptureRing& ring) {
    if (ring.CaptureStopping.exchange(true)) return false;
    if (ring.device != nullptr) {
        ring.device->Stop();
        ring.device->Reset();
        ring.device->Close();
        ring.device = nullptr;
    }
    return true;
}

}  // namespace dahlo
