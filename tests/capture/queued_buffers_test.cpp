// The buffer queue shared by the live inputs: order, the hand-back of full and partial buffers,
// audio dropped when nothing is queued, the release at a stop, and an input lost for good.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "capture/queued_buffers.h"

namespace dahlo {
namespace {

struct Announced {
    unsigned message;
    WaveHeader* header;
};

void Record(SoundInput*, unsigned message, std::uintptr_t instance, std::uintptr_t param1,
            std::uintptr_t) {
    auto* log = reinterpret_cast<std::vector<Announced>*>(instance);
    log->push_back({message, reinterpret_cast<WaveHeader*>(param1)});
}

class QueuedBuffersTest : public ::testing::Test {
  protected:
    QueuedBuffersTest() {
        buffers.SetCallback(nullptr, &Record, reinterpret_cast<std::uintptr_t>(&log));
        for (int i = 0; i < 3; ++i) {
            headers[i] = WaveHeader{storage[i].data(), 8, 0, 0};  // four samples each
            EXPECT_EQ(buffers.Prepare(headers[i]), kMmNoError);
        }
    }
    std::vector<std::int16_t> Samples(int first, int count) {
        std::vector<std::int16_t> s(count);
        for (int i = 0; i < count; ++i) s[i] = static_cast<std::int16_t>(first + i);
        return s;
    }

    QueuedBuffers buffers;
    std::vector<Announced> log;
    std::array<std::array<std::int16_t, 4>, 3> storage{};
    std::array<WaveHeader, 3> headers{};
};

TEST_F(QueuedBuffersTest, FillsInOrderAndHandsBackEachFullBuffer) {
    ASSERT_EQ(buffers.Add(headers[0]), kMmNoError);
    ASSERT_EQ(buffers.Add(headers[1]), kMmNoError);
    EXPECT_EQ(buffers.Add(headers[1]), kWaveStillPlaying);
    const auto audio = Samples(10, 6);
    buffers.Fill(audio.data(), 6);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, kMmWimData);
    EXPECT_EQ(log[0].header, &headers[0]);
    EXPECT_EQ(headers[0].bytesRecorded, 8u);
    EXPECT_TRUE(headers[0].flags & kHeaderDone);
    EXPECT_FALSE(headers[0].flags & kHeaderInQueue);
    EXPECT_EQ(storage[0], (std::array<std::int16_t, 4>{10, 11, 12, 13}));
    EXPECT_EQ(storage[1][0], 14);
    EXPECT_EQ(storage[1][1], 15);
    // A buffer still in the queue cannot be unprepared.
    EXPECT_EQ(QueuedBuffers::Unprepare(headers[1]), kWaveStillPlaying);
    EXPECT_EQ(QueuedBuffers::Unprepare(headers[0]), kMmNoError);
    EXPECT_EQ(buffers.DroppedSamples(), 0u);
}

TEST_F(QueuedBuffersTest, AudioWithNowhereToGoIsDroppedAndCounted) {
    const auto audio = Samples(0, 5);
    buffers.Fill(audio.data(), 5);  // nothing queued
    buffers.Fill(audio.data(), 3);
    EXPECT_EQ(buffers.DroppedSamples(), 8u);
    EXPECT_EQ(buffers.Overruns(), 1u);  // one stretch of loss
    ASSERT_EQ(buffers.Add(headers[0]), kMmNoError);
    buffers.Fill(audio.data(), 5);  // fills it, then loses one sample again
    EXPECT_EQ(log.size(), 1u);
    EXPECT_EQ(buffers.DroppedSamples(), 9u);
    EXPECT_EQ(buffers.Overruns(), 2u);
}

TEST_F(QueuedBuffersTest, StopHandsBackAPartialBufferResetReturnsTheRestUnfilled) {
    ASSERT_EQ(buffers.Add(headers[0]), kMmNoError);
    ASSERT_EQ(buffers.Add(headers[1]), kMmNoError);
    ASSERT_EQ(buffers.Add(headers[2]), kMmNoError);
    const auto audio = Samples(0, 2);
    buffers.Fill(audio.data(), 2);
    buffers.HandBackPartial();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].header, &headers[0]);
    EXPECT_EQ(headers[0].bytesRecorded, 4u);

    buffers.Release(true);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].header, &headers[1]);
    EXPECT_EQ(log[2].header, &headers[2]);
    EXPECT_EQ(headers[2].bytesRecorded, 0u);
}

TEST_F(QueuedBuffersTest, CloseReleasesWithoutAnnouncing) {
    ASSERT_EQ(buffers.Add(headers[0]), kMmNoError);
    buffers.Release(false);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(headers[0].flags & kHeaderDone);
    EXPECT_EQ(QueuedBuffers::Unprepare(headers[0]), kMmNoError);
    // An unprepared buffer cannot be queued.
    EXPECT_EQ(buffers.Add(headers[0]), kWaveUnprepared);
}

TEST_F(QueuedBuffersTest, ALostInputHandsEveryBufferBackSilentAndRefusesMore) {
    ASSERT_EQ(buffers.Add(headers[0]), kMmNoError);
    ASSERT_EQ(buffers.Add(headers[1]), kMmNoError);
    storage[1] = {7, 7, 7, 7};  // stale audio of an earlier round
    const auto audio = Samples(1, 2);
    buffers.Fill(audio.data(), 2);

    buffers.Fail();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].message, kMmWimData);
    EXPECT_EQ(log[0].header, &headers[0]);  // the one being filled first, then the queue
    EXPECT_EQ(log[1].header, &headers[1]);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(headers[i].bytesRecorded, 0u);
        EXPECT_EQ(storage[i], (std::array<std::int16_t, 4>{}));
        EXPECT_TRUE(headers[i].flags & kHeaderDone);
        EXPECT_FALSE(headers[i].flags & kHeaderInQueue);
    }
    // The loop's hand-back must fail, at either call.
    EXPECT_NE(buffers.Prepare(headers[2]), kMmNoError);
    EXPECT_NE(buffers.Add(headers[2]), kMmNoError);
    EXPECT_TRUE(buffers.Failed());

    // A new open starts afresh.
    buffers.ResetCounters();
    EXPECT_EQ(buffers.Prepare(headers[0]), kMmNoError);
    EXPECT_EQ(buffers.Add(headers[0]), kMmNoError);
}

}  // namespace
}  // namespace dahlo
