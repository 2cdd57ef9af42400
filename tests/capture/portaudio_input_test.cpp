// The PortAudio input's parts that need no sound device: its error mapping and its refusals
// before a stream is open.

#include "capture/portaudio_input.h"

#include <gtest/gtest.h>
#include <portaudio.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace dahlo {
namespace {

TEST(PortAudioInput, ErrorsMapToTheSoundInputResults) {
    EXPECT_EQ(MmResultFromPaError(paNoError, 0), kMmNoError);
    EXPECT_EQ(MmResultFromPaError(paDeviceUnavailable, 0), kMmAllocated);
    EXPECT_EQ(MmResultFromPaError(paInvalidDevice, 0), kMmBadDeviceId);
    EXPECT_EQ(MmResultFromPaError(paInvalidSampleRate, 0), kWaveBadFormat);
    EXPECT_EQ(MmResultFromPaError(paSampleFormatNotSupported, 0), kWaveBadFormat);
    EXPECT_EQ(MmResultFromPaError(paInvalidChannelCount, 0), kWaveBadFormat);
    EXPECT_EQ(MmResultFromPaError(paInsufficientMemory, 0), kMmNoMem);
    EXPECT_EQ(MmResultFromPaError(paUnanticipatedHostError, -EBUSY), kMmAllocated);
    EXPECT_EQ(MmResultFromPaError(paUnanticipatedHostError, -EIO), kMmError);
    EXPECT_EQ(MmResultFromPaError(paTimedOut, 0), kMmError);
    EXPECT_EQ(MmResultFromPaError(paInternalError, 0), kMmError);
}

TEST(PortAudioInput, HeaderCallsFollowTheQueueRulesWithoutAStream) {
    PortAudioInput input;
    std::array<std::int16_t, 2048> samples{};
    WaveHeader header{samples.data(), 4096, 0, 0};
    WaveHeader empty{};

    EXPECT_NE(input.PrepareHeader(empty), kMmNoError);
    EXPECT_EQ(input.PrepareHeader(header), kMmNoError);
    EXPECT_TRUE(header.flags & kHeaderPrepared);
    EXPECT_EQ(input.AddBuffer(header), kMmInvalidHandle);  // nothing open
    EXPECT_FALSE(header.flags & kHeaderInQueue);
    EXPECT_EQ(input.UnprepareHeader(header), kMmNoError);
    EXPECT_FALSE(header.flags & kHeaderPrepared);

    header.flags = kHeaderPrepared | kHeaderInQueue;
    EXPECT_EQ(input.UnprepareHeader(header), kWaveStillPlaying);

    EXPECT_EQ(input.Start(), kMmInvalidHandle);
    EXPECT_EQ(input.Stop(), kMmInvalidHandle);
    EXPECT_EQ(input.Reset(), kMmInvalidHandle);
    EXPECT_EQ(input.Close(), kMmInvalidHandle);
    EXPECT_EQ(input.DroppedSamples(), 0u);
}

}  // namespace
}  // namespace dahlo
