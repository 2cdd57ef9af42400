#pragma once
// What the block pump needs from the program around it: the window implements it with widgets,
// dahlo-decode with text on standard output. Called at character ends, word spaces, speed
// changes, every 128th sample and once per block, never on every sample.

#include <cstdint>
#include <string_view>

#include "capture/capture.h"
#include "receiver/channel.h"

namespace dahlo {

class ReceiverHost : public FatalReporter {
  public:
    // A character, word space, speed or retune of a channel. For a character or a word space
    // `cp1251` is the text the selected charset gives for it, in Windows-1251 bytes; empty
    // otherwise.
    virtual void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) = 0;
    // The number of capture buffers queued with the driver, when it has changed.
    virtual void ShowFreeBuffers(int freeBuffers) = 0;
    virtual void PaintScope() = 0;
    virtual void PaintSpectrum() = 0;
    // Handles every event pending now, then returns. Any handler may run in here.
    virtual void PumpMessages() = 0;
    // The block of `samples` (kBlockSamples, the first at index `blockStart`) has been run
    // through every channel, whether or not others wait; the pump's channels may be added,
    // changed or removed here.
    virtual void OnBlockDone(const std::int16_t* /*samples*/, std::int64_t /*blockStart*/) {}

  protected:
    ~ReceiverHost() = default;
};

}  // namespace dahlo
