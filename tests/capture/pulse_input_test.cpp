// The sound server input without a server: its error mapping and the calls refused before a
// stream is open. (With a server: the live window and the server-fault tests.)

#include <gtest/gtest.h>
#include <pulse/def.h>

#include <array>
#include <cstdint>

#include "capture/pulse_input.h"

namespace dahlo {
namespace {

TEST(PulseInput, ErrorsMapToTheSoundInputResults) {
    EXPECT_EQ(MmResultFromPulseError(PA_OK), kMmNoError);
    EXPECT_EQ(MmResultFromPulseError(PA_ERR_CONNECTIONREFUSED), kMmNoDriver);
    EXPECT_EQ(MmResultFromPulseError(PA_ERR_NOENTITY), kMmNoDriver);
    EXPECT_EQ(MmResultFromPulseError(PA_ERR_BUSY), kMmAllocated);
    EXPECT_EQ(MmResultFromPulseError(PA_ERR_NOTSUPPORTED), kWaveBadFormat);
    EXPECT_EQ(MmResultFromPulseError(PA_ERR_INVALID), kWaveBadFormat);
    EXPECT_EQ(MmResultFromPulseError(PA_ERR_TIMEOUT), kMmError);
}

TEST(PulseInput, CallsBeforeOpenAreRefused) {
    PulseInput input;
    std::array<std::int16_t, 4> storage{};
    WaveHeader header{storage.data(), 8, 0, 0};
    EXPECT_EQ(input.PrepareHeader(header), kMmNoError);
    EXPECT_EQ(input.AddBuffer(header), kMmInvalidHandle);
    EXPECT_EQ(input.Start(), kMmInvalidHandle);
    EXPECT_EQ(input.Stop(), kMmInvalidHandle);
    EXPECT_EQ(input.Reset(), kMmInvalidHandle);
    EXPECT_EQ(input.Close(), kMmInvalidHandle);
    EXPECT_EQ(input.UnprepareHeader(header), kMmNoError);
}

}  // namespace
}  // namespace dahlo
