#include "receiver/block_pump.h"

#include <algorithm>

namespace dahlo {

BlockPump::BlockPump(CaptureRing& captureRing, ReceiverHost& receiverHost)
    : ring(captureRing), host(receiverHost) {
    channels.emplace_back(0);
}

void BlockPump::PrepareForCapture() {
    if (!channels.empty()) Main().SelectFilterCoefficients();
    spectrum.PeakHold.fill(0.0);
}

void BlockPump::OnChannelEvent(const ChannelEvent& event) {
    if (event.kind == ChannelEvent::kCharacter || event.kind == ChannelEvent::kWordSpace) {
        host.OnChannelEvent(event, charsets.CodeToText(event.code));
    } else {
        host.OnChannelEvent(event, {});
    }
}

void BlockPump::ProcessBlock(const std::int16_t* samples) {
    const std::int64_t blockStart = SamplesDone;
    int i = 0;
    while (i < kBlockSamples) {
        // Run every channel up to the next fixed point: the end of the first sample, the next
        // level entry, the end of the block. Handlers run by the event pump in between may retune.
        int end = std::min(kBlockSamples, i + (kLevelInterval - LevelTick));
        if (i == 0) end = 1;
        for (Channel& channel : channels) {
            channel.Process(samples + i, end - i, blockStart + i, *this);
        }
        LevelTick += end - i;
        SamplesDone = blockStart + end;

        if (LevelTick >= kLevelInterval) {
            LevelTick = 0;
            levels.newest = (levels.newest + 1) % kLevelHistorySize;
            levels.values[levels.newest] = channels.empty() ? 0.0 : Main().lastEnvelope;
            if (ring.WaitingBlocks.load() < 1) {
                host.PaintScope();
                host.PumpMessages();
            }
        }

        if (i == 0) {
            MixedRadixFft(fftWork, kFftLength, samples, spectrum.SpectrumRe.data(),
                          spectrum.SpectrumIm.data());
            for (Channel& channel : channels) channel.SteerAtBlockStart(spectrum, blockStart, *this);
            SmoothSpectrum(spectrum);
            for (Channel& channel : channels) channel.LookAtTone(spectrum, blockStart);
            if (ring.WaitingBlocks.load() < 1) {
                host.PaintSpectrum();
                host.PumpMessages();
            }
        }
        i = end;
    }
    host.OnBlockDone(samples, blockStart);
}

void BlockPump::ProcessWaitingBlocks() {
    if (ProcessingActive || ring.CaptureStopping.load()) return;
    ProcessingActive = true;
    while (ring.WaitingBlocks.load() != 0) {
        const int free = ring.FreeBuffers.load();
        if (free != ShownFreeBuffers) {
            host.ShowFreeBuffers(free);
            ShownFreeBuffers = free;
        }
        if (ring.device != nullptr) ring.device->UnprepareHeader(ring.headers[ring.HeadIndex]);
        ring.WaitingBlocks.fetch_sub(1);

        ProcessBlock(ring.Block(ring.HeadIndex));

        ring.HeadIndex = (ring.HeadIndex + 1) % kBufferCount;
        if (ring.CaptureStopping.load()) continue;
        if (!HandBackBuffer(ring, host)) break;  // fatal: the user has been told
    }
    ProcessingActive = false;
}


}  // namespace dahlo
