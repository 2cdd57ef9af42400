#pragma once
// Opening, running and stopping the sound input: OpenCapture queues the sixteen buffers and
// starts recording, CaptureCallback announces every filled buffer to the window thread, and
// StopCapture shuts the input down exactly once. The block pump takes the announced blocks and
// hands the buffers back.

#include <cstdint>
#include <functional>
#include <string_view>

#include "capture/capture_ring.h"
#include "capture/sound_input.h"

namespace dahlo {

// Hears a fatal failure of the sound input: shows `text` under `caption`, then ends the program.
class FatalReporter {
  public:
    virtual void ReportFatal(std::string_view text, std::string_view caption) = 0;

  protected:
    ~FatalReporter() = default;
};

inline constexpr std::string_view kNoDeviceText = "No sound input device";
inline constexpr std::string_view kErrorCaption = "Error";
inline constexpr std::string_view kOpenErrorCaption = "Dahlo - Device Open Error";
inline constexpr std::string_view kPrepareErrorText = "  Error in Prepare Header! ";
inline constexpr std::string_view kAddBufferErrorText = "  Error in AddBuffer! ";
inline constexpr std::string_view kStartErrorText = "  Error in Start! \n";

// The message for a failed Open, chosen by its result.
std::string_view OpenErrorText(int result);

// Opens `device`, queues the sixteen buffers of `ring` with it and starts recording; filled
// buffers are announced through `poster`. `beforeFirstBuffer` runs once the device is open and
// before any buffer is queued (the receiver readies its filter and spectrum there). On any failure `reporter` hears one message (ReportFatal, which ends
// the program), the device is closed where it was open, the ring's handle is left null and the
// device is not called again. Returns true when recording runs; false means set-up must stop.
bool OpenCapture(CaptureRing& ring, SoundInput& device, BlockReadyPoster& poster,
                 FatalReporter& reporter, const std::function<void()>& beforeFirstBuffer);

// The driver's callback (runs on the driver's thread); `instance` is the address of the ring.
// Counts a filled buffer and posts "block ready"; ignores everything once the stop has begun.
void CaptureCallback(SoundInput* device, unsigned message, std::uintptr_t instance,
                     std::uintptr_t param1, std::uintptr_t param2);

// Hands the buffer at the ring's tail back to the driver (prepare, then add). On failure the
// input is closed and forgotten before `reporter` hears "Error in Prepare Header!" or "Error in
// AddBuffer!", and false is returned; nothing may call the device again.
bool HandBackBuffer(CaptureRing& ring, FatalReporter& reporter);

// Stops, resets and closes the input. Only the first call does anything; it returns whether this
// call was the one that stopped.
bool StopCapture(CaptureRing& ring);

}  // namespace dahlo
