#pragma once
// The block pump: takes the captured blocks from the ring in capture order, computes the shared
// spectrum once per block and runs every channel over the samples, keeping the loop's fixed
// points (steering after the first sample of a block, a level entry every 128th sample, painting
// and event pumping only while no block waits, the buffer hand-back). One per input; tests and
// tools make as many as they like.

#include <array>
#include <cstdint>
#include <vector>

#include "capture/capture_ring.h"
#include "dsp/fft.h"
#include "dsp/spectrum.h"
#include "morse/charset.h"
#include "receiver/channel.h"
#include "receiver/receiver_host.h"

namespace dahlo {

inline constexpr int kLevelHistorySize = 1024;
inline constexpr int kLevelInterval = 128;  // samples per level entry

// The envelope of the main channel at every 128th sample, for the scope.
struct LevelHistory {
    std::array<double, kLevelHistorySize> values{};
    int newest = 0;
    void Clear() {
        values.fill(0.0);
        newest = 0;
    }
};

class BlockPump final : private ChannelEventSink {
  public:
    // Starts with one channel, id 0: the main channel the window shows.
    BlockPump(CaptureRing& ring, ReceiverHost& host);
    BlockPump(const BlockPump&) = delete;
    BlockPump& operator=(const BlockPump&) = delete;

    CaptureRing& ring;
    ReceiverHost& host;
    SpectrumState spectrum;
    FftWorkspace fftWork;
    LevelHistory levels;
    Charsets charsets;  // turns every channel's code words into text
    // channels[0] is the main channel (the scope shows it); a skimmer may run with none at
    // times. References stay valid only until channels change.
    std::vector<Channel> channels;

    int LevelTick = 0;          // samples since the last level entry, 0..127
    int ShownFreeBuffers = 99;  // the free-buffer count last shown
    bool ProcessingActive = false;
    std::int64_t SamplesDone = 0;  // samples run since the start, the index of the next one

    Channel& Main() { return channels.front(); }
    const Channel& Main() const { return channels.front(); }

    // Before the first buffer is queued: the main filter row selected and the peak hold cleared.
    void PrepareForCapture();

    // Works through every block waiting in the ring, in capture order.
    void ProcessWaitingBlocks();
    // Runs the 2048 samples of one block through every channel.
    void ProcessBlock(const std::int16_t* samples);

  private:
    void OnChannelEvent(const ChannelEvent& event) override;
};

}  // namespace dahlo
