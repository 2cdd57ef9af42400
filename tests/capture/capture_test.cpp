// The capture set-up, callback and stop, driven through a scripted input into a real receiver.

#include "capture/capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include "capture/scripted_input.h"
#include "capture_harness.h"
#include "receiver/block_pump.h"
#include "support/morse_synth.h"

namespace dahlo {
namespace {

using Call = ScriptedInput::Call;
using namespace std::chrono_literals;

struct Rig {
    explicit Rig(std::vector<std::int16_t> samples = {}) : input(std::move(samples)) {
        host.loop = &loop;
        host.receiver = &receiver;
    }
    bool Open() { return OpenCapture(ring, input, loop, host, [&] { receiver.PrepareForCapture(); }); }

    int HeaderIndex(const WaveHeader* header) const {
        return static_cast<int>(header - ring.headers.data());
    }
    // Indices of the headers passed to `call`, in call order.
    std::vector<int> HeadersOf(Call call) const {
        std::vector<int> indices;
        for (const auto& record : input.Calls()) {
            if (record.call == call) indices.push_back(HeaderIndex(record.header));
        }
        return indices;
    }
    std::vector<Call> CallKinds() const {
        std::vector<Call> kinds;
        for (const auto& record : input.Calls()) kinds.push_back(record.call);
        return kinds;
    }
    bool Drain() {
        return loop.RunUntil(
            receiver,
            [this] { return ring.WaitingBlocks.load() == 0 && !receiver.ProcessingActive; },
            5s);
    }

    CaptureRing ring;
    test::RecordingHost host;
    BlockPump receiver{ring, host};
    test::BlockEventLoop loop;
    ScriptedInput input;  // last: its thread stops before the rest goes
};

// The sequence 0, 1, ..., 15, 0, 1, ... of `count` header indices.
std::vector<int> RingOrder(int count) {
    std::vector<int> order;
    for (int i = 0; i < count; ++i) order.push_back(i % kBufferCount);
    return order;
}

// ---------------------------------------------------------------------------------------------
// Set-up

TEST(OpenCapture, NoInputDeviceShowsOneMessageAndOpensNothing) {
    Rig rig;
    rig.input.SetNumDevs(0);
    EXPECT_FALSE(rig.Open());
    ASSERT_EQ(rig.host.fatals.size(), 1u);
    EXPECT_EQ(rig.host.fatals[0].text, "No sound input device");
    EXPECT_EQ(rig.host.fatals[0].caption, "Error");
    EXPECT_EQ(rig.CallKinds(), std::vector<Call>{Call::kGetNumDevs});
    EXPECT_EQ(rig.ring.device, nullptr);
    EXPECT_FALSE(StopCapture(rig.ring));
    EXPECT_EQ(rig.input.Calls().size(), 1u);
}

TEST(OpenCapture, OpenFailureTextFollowsTheResult) {
    const std::vector<std::pair<int, std::string>> cases = {
        {kMmBadDeviceId, "  Specified device identifier is out of range"},
        {kMmAllocated, "  Specified resource is already allocated"},
        {kMmNoDriver, "  No device driver is present"},
        {kMmNoMem, "  Unable to allocate or lock memory"},
        {kWaveBadFormat, "  Attempted to open with an unsupported waveform-audio format\n"},
        {kMmError, " Unrecognized ERROR "},
        {kMmInvalidHandle, " Unrecognized ERROR "},
        {-1, " Unrecognized ERROR "},
    };
    for (const auto& [result, text] : cases) {
        SCOPED_TRACE(result);
        Rig rig;
        rig.input.FailCall(Call::kOpen, result);
        EXPECT_FALSE(rig.Open());
        ASSERT_EQ(rig.host.fatals.size(), 1u);
        EXPECT_EQ(rig.host.fatals[0].text, text);
        EXPECT_EQ(rig.host.fatals[0].caption, "Dahlo - Device Open Error");
        EXPECT_EQ(rig.CallKinds(), (std::vector<Call>{Call::kGetNumDevs, Call::kOpen}));
        EXPECT_EQ(rig.ring.device, nullptr);
        EXPECT_FALSE(StopCapture(rig.ring));
        EXPECT_EQ(rig.input.Calls().size(), 2u);
    }
}

TEST(OpenCapture, SetupFailureClosesTheDeviceAndTouchesItNoMore) {
    struct Case {
        Call call;
        int occurrence;
        std::string text;
        int addsBefore;  // buffers queued before the failure
    };
    const std::vector<Case> cases = {
        {Call::kPrepareHeader, 1, "  Error in Prepare Header! ", 0},
        {Call::kPrepareHeader, 9, "  Error in Prepare Header! ", 8},
        {Call::kAddBuffer, 1, "  Error in AddBuffer! ", 0},
        {Call::kAddBuffer, 16, "  Error in AddBuffer! ", 15},
        {Call::kStart, 1, "  Error in Start! \n", 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " at " + std::to_string(c.occurrence));
        Rig rig;
        rig.input.FailCall(c.call, kMmError, c.occurrence);
        EXPECT_FALSE(rig.Open());
        ASSERT_EQ(rig.host.fatals.size(), 1u);
        EXPECT_EQ(rig.host.fatals[0].text, c.text);
        EXPECT_EQ(rig.host.fatals[0].caption, "Error");

        const auto calls = rig.input.Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls.back().call, Call::kClose);
        EXPECT_EQ(calls[calls.size() - 2].call, c.call);
        EXPECT_EQ(calls[calls.size() - 2].result, kMmError);
        EXPECT_EQ(rig.input.CountOf(Call::kClose), 1);
        EXPECT_EQ(rig.input.CountOf(Call::kAddBuffer) - (c.call == Call::kAddBuffer ? 1 : 0),
                  c.addsBefore);
        EXPECT_EQ(rig.ring.device, nullptr);
        EXPECT_FALSE(rig.input.IsOpen());

        // Nothing afterwards reaches the device or the loop.
        EXPECT_FALSE(StopCapture(rig.ring));
        EXPECT_EQ(rig.input.DeliverBurst(3), 0);
        rig.receiver.ProcessWaitingBlocks();
        EXPECT_EQ(rig.input.Calls().size(), calls.size());
        EXPECT_EQ(rig.loop.Posted(), 0);
        EXPECT_EQ(rig.host.fatals.size(), 1u);
    }
}

TEST(OpenCapture, SuccessQueuesSixteenBuffersInOrderThenStarts) {
    Rig rig;
    rig.receiver.spectrum.PeakHold.fill(1.0);
    rig.receiver.Main().CentreBin = 1000;  // out of range: the filter selection brings it back
    ASSERT_TRUE(rig.Open());

    EXPECT_TRUE(rig.host.fatals.empty());
    EXPECT_EQ(rig.ring.FreeBuffers.load(), 16);
    EXPECT_EQ(rig.ring.WaitingBlocks.load(), 0);
    EXPECT_EQ(rig.ring.HeadIndex, 0);
    EXPECT_EQ(rig.ring.TailIndex, 0);
    EXPECT_EQ(rig.ring.device, &rig.input);
    EXPECT_FALSE(rig.ring.CaptureStopping.load());
    EXPECT_EQ(rig.loop.Posted(), 0);  // the open notification is not a block
    EXPECT_EQ(rig.receiver.Main().CentreBin, 450);
    EXPECT_TRUE(std::all_of(rig.receiver.spectrum.PeakHold.begin(),
                            rig.receiver.spectrum.PeakHold.end(),
                            [](double v) { return v == 0.0; }));

    std::vector<Call> expected{Call::kGetNumDevs, Call::kOpen};
    for (int i = 0; i < kBufferCount; ++i) {
        expected.push_back(Call::kPrepareHeader);
        expected.push_back(Call::kAddBuffer);
    }
    expected.push_back(Call::kStart);
    EXPECT_EQ(rig.CallKinds(), expected);
    EXPECT_EQ(rig.HeadersOf(Call::kAddBuffer), RingOrder(16));
    for (int i = 0; i < kBufferCount; ++i) {
        EXPECT_EQ(rig.ring.headers[i].data, rig.ring.Block(i));
        EXPECT_EQ(rig.ring.headers[i].bufferLength, 4096u);
    }
    EXPECT_EQ(rig.input.QueuedBuffers(), 16);
}

// ---------------------------------------------------------------------------------------------
// Callback

TEST(CaptureCallback, CountsFilledBuffersOnlyAndNothingOnceStopping) {
    CaptureRing ring;
    test::BlockEventLoop loop;
    ring.poster = &loop;
    ring.FreeBuffers = 16;
    const auto instance = reinterpret_cast<std::uintptr_t>(&ring);

    CaptureCallback(nullptr, kMmWimOpen, instance, 0, 0);
    CaptureCallback(nullptr, kMmWimClose, instance, 0, 0);
    EXPECT_EQ(ring.WaitingBlocks.load(), 0);
    EXPECT_EQ(ring.FreeBuffers.load(), 16);
    EXPECT_EQ(loop.Posted(), 0);

    CaptureCallback(nullptr, kMmWimData, instance, 0, 0);
    CaptureCallback(nullptr, kMmWimData, instance, 0, 0);
    EXPECT_EQ(ring.WaitingBlocks.load(), 2);
    EXPECT_EQ(ring.FreeBuffers.load(), 14);
    EXPECT_EQ(loop.Posted(), 2);

    ring.CaptureStopping = true;
    CaptureCallback(nullptr, kMmWimData, instance, 0, 0);
    EXPECT_EQ(ring.WaitingBlocks.load(), 2);
    EXPECT_EQ(ring.FreeBuffers.load(), 14);
    EXPECT_EQ(loop.Posted(), 2);
}

// ---------------------------------------------------------------------------------------------
// Blocks flowing through the loop

TEST(CaptureFlow, BurstsWhileTheLoopIsBusyKeepTheCountersBalanced) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    const std::vector<int> bursts = {3, 1, 6, 2, 15, 4, 1, 9};
    std::size_t next = 0;
    std::vector<int> sums;  // waiting + free + the block in hand, right after each burst
    rig.host.onPump = [&] {
        if (next >= bursts.size()) return;
        const int filled = rig.input.DeliverBurst(bursts[next++]);
        EXPECT_GT(filled, 0);
        sums.push_back(rig.ring.WaitingBlocks.load() + rig.ring.FreeBuffers.load() + 1);
    };
    ASSERT_EQ(rig.input.DeliverBurst(1), 1);
    EXPECT_EQ(rig.ring.WaitingBlocks.load() + rig.ring.FreeBuffers.load(), 16);
    ASSERT_TRUE(rig.loop.RunUntil(
        rig.receiver,
        [&] {
            return next == bursts.size() && rig.ring.WaitingBlocks.load() == 0 &&
                   !rig.receiver.ProcessingActive;
        },
        10s));

    EXPECT_EQ(sums, std::vector<int>(bursts.size(), 16));
    EXPECT_EQ(rig.input.DroppedBlocks(), 0);
    const int blocks = rig.input.DeliveredBlocks();
    EXPECT_EQ(blocks, 1 + 3 + 1 + 6 + 2 + 15 + 4 + 1 + 9);
    EXPECT_EQ(rig.ring.WaitingBlocks.load(), 0);
    EXPECT_EQ(rig.ring.FreeBuffers.load(), 16);
    EXPECT_EQ(rig.ring.HeadIndex, blocks % kBufferCount);
    EXPECT_EQ(rig.ring.TailIndex, blocks % kBufferCount);
    // Taken and handed back in the order they were filled.
    EXPECT_EQ(rig.HeadersOf(Call::kUnprepareHeader), RingOrder(blocks));
    EXPECT_EQ(rig.HeadersOf(Call::kAddBuffer), RingOrder(16 + blocks));
    EXPECT_EQ(rig.input.QueuedBuffers(), 16);
}

TEST(CaptureFlow, ManyWaitingBlocksAreEachProcessedOnceInCaptureOrder) {
    test::MorseSynthOptions options;
    options.wpm = 20;
    options.signal.pitch_hz = kDefaultCentreBin * kHzPerBin;
    options.snr_db = 20.0;
    std::vector<std::int16_t> audio = test::SynthesizeMorse("PARIS PARIS CQ TEST 73", options);
    const int blocks = static_cast<int>((audio.size() + kBlockSamples - 1) / kBlockSamples);
    audio.resize(static_cast<std::size_t>(blocks) * kBlockSamples, 0);
    ASSERT_GT(blocks, 40);

    // The same audio, block after block, straight through a second receiver.
    CaptureRing referenceRing;
    test::RecordingHost referenceHost;
    BlockPump reference(referenceRing, referenceHost);
    for (int b = 0; b < blocks; ++b) reference.ProcessBlock(audio.data() + b * kBlockSamples);
    std::string decoded = referenceHost.text;
    std::transform(decoded.begin(), decoded.end(), decoded.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    ASSERT_NE(decoded.find("PARIS CQ TEST 73"), std::string::npos) << referenceHost.text;

    Rig rig(audio);
    ASSERT_TRUE(rig.Open());
    int delivered = 0;
    while (delivered < blocks) {
        // Whole queue's worth at a time, so up to sixteen wait at once.
        const int burst = std::min(rig.ring.FreeBuffers.load(), blocks - delivered);
        ASSERT_EQ(rig.input.DeliverBurst(burst), burst);
        delivered += burst;
        EXPECT_EQ(rig.ring.WaitingBlocks.load(), burst);
        ASSERT_TRUE(rig.Drain());
    }

    EXPECT_EQ(rig.host.text, referenceHost.text);
    EXPECT_EQ(rig.receiver.levels.newest, reference.levels.newest);
    EXPECT_EQ(rig.receiver.levels.values, reference.levels.values);
    EXPECT_EQ(rig.receiver.levels.newest, (blocks * 16) % kLevelHistorySize);
    EXPECT_EQ(rig.HeadersOf(Call::kUnprepareHeader), RingOrder(blocks));
    EXPECT_GE(rig.host.freeBuffers, 0);
}

TEST(CaptureFlow, PacedDeliveryAgainstTheRunningLoop) {
    Rig rig;
    rig.input.SetPace(1ms);  // far faster than real time: the loop may fall behind
    rig.input.SetBlockLimit(60);
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(rig.loop.RunUntil(
        rig.receiver,
        [&] {
            return rig.input.DeliveredBlocks() + rig.input.DroppedBlocks() == 60 &&
                   rig.ring.WaitingBlocks.load() == 0 && !rig.receiver.ProcessingActive;
        },
        30s));

    const int delivered = rig.input.DeliveredBlocks();
    EXPECT_GT(delivered, 16);
    EXPECT_EQ(rig.ring.FreeBuffers.load(), 16);
    EXPECT_EQ(rig.input.QueuedBuffers(), 16);
    EXPECT_EQ(rig.HeadersOf(Call::kUnprepareHeader), RingOrder(delivered));
    EXPECT_EQ(rig.receiver.levels.newest, (delivered * 16) % kLevelHistorySize);
    EXPECT_TRUE(StopCapture(rig.ring));
    EXPECT_EQ(rig.ring.device, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Stopping

TEST(StopCapture, StopsResetsClosesOnceAndIgnoresTheReturnedBuffers) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    const std::size_t before = rig.input.Calls().size();
    EXPECT_TRUE(StopCapture(rig.ring));
    const auto kinds = rig.CallKinds();
    EXPECT_EQ(std::vector<Call>(kinds.begin() + static_cast<long>(before), kinds.end()),
              (std::vector<Call>{Call::kStop, Call::kReset, Call::kClose}));
    // Reset handed all sixteen back; none was counted or announced.
    EXPECT_EQ(rig.input.QueuedBuffers(), 0);
    EXPECT_EQ(rig.ring.WaitingBlocks.load(), 0);
    EXPECT_EQ(rig.ring.FreeBuffers.load(), 16);
    EXPECT_EQ(rig.loop.Posted(), 0);
    EXPECT_EQ(rig.ring.device, nullptr);

    EXPECT_FALSE(StopCapture(rig.ring));
    EXPECT_EQ(rig.input.Calls().size(), before + 3);
    EXPECT_EQ(rig.input.CountOf(Call::kClose), 1);
}

TEST(StopCapture, StopFromInsideThePumpFinishesTheCountedBlocksAndHandsNothingBack) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    bool stopped = false;
    rig.host.onPump = [&] {
        if (stopped) return;
        stopped = true;
        // Two more blocks arrive, then the user chooses Exit, all while block 0 is in hand.
        EXPECT_EQ(rig.input.DeliverBurst(2), 2);
        EXPECT_TRUE(StopCapture(rig.ring));
        EXPECT_EQ(rig.receiver.levels.newest, 0);  // first pump: right after sample 0
    };
    ASSERT_EQ(rig.input.DeliverBurst(1), 1);
    ASSERT_TRUE(rig.Drain());

    EXPECT_TRUE(stopped);
    EXPECT_EQ(rig.receiver.levels.newest, 3 * 16);  // three whole blocks
    EXPECT_EQ(rig.ring.HeadIndex, 3);
    EXPECT_EQ(rig.ring.TailIndex, 0);
    EXPECT_EQ(rig.ring.WaitingBlocks.load(), 0);
    EXPECT_EQ(rig.ring.FreeBuffers.load(), 13);  // the 13 returned by Reset were not counted
    EXPECT_EQ(rig.loop.Posted(), 3);
    EXPECT_EQ(rig.input.CountOf(Call::kPrepareHeader), 16);
    EXPECT_EQ(rig.input.CountOf(Call::kAddBuffer), 16);
    EXPECT_EQ(rig.input.Calls().back().call, Call::kClose);
    EXPECT_TRUE(rig.host.fatals.empty());
}

// ---------------------------------------------------------------------------------------------
// Hand-back failures end the program like set-up failures

TEST(HandBack, FailureAfterTheFirstBlockEndsWithOneMessage) {
    const std::vector<std::pair<Call, std::string>> cases = {
        {Call::kPrepareHeader, "  Error in Prepare Header! "},
        {Call::kAddBuffer, "  Error in AddBuffer! "},
    };
    for (const auto& [call, text] : cases) {
        SCOPED_TRACE(text);
        Rig rig;
        rig.input.FailCall(call, kMmNoMem, 17);  // the first hand-back
        ASSERT_TRUE(rig.Open());
        ASSERT_EQ(rig.input.DeliverBurst(2), 2);
        ASSERT_TRUE(rig.loop.RunUntil(
            rig.receiver,
            [&] { return !rig.host.fatals.empty() && !rig.receiver.ProcessingActive; }, 5s));
        rig.loop.DispatchPending(rig.receiver);
        // The second block is never taken: nothing runs after the message.
        EXPECT_EQ(rig.receiver.levels.newest, 16);

        ASSERT_EQ(rig.host.fatals.size(), 1u);
        EXPECT_EQ(rig.host.fatals[0].text, text);
        EXPECT_EQ(rig.host.fatals[0].caption, "Error");
        EXPECT_EQ(rig.host.freeBuffers, 14);
        EXPECT_EQ(rig.input.Calls().back().call, Call::kClose);
        EXPECT_EQ(rig.ring.device, nullptr);
        const std::size_t calls = rig.input.Calls().size();
        EXPECT_EQ(rig.input.DeliverBurst(1), 0);
        rig.receiver.ProcessWaitingBlocks();
        EXPECT_FALSE(StopCapture(rig.ring));
        EXPECT_EQ(rig.input.Calls().size(), calls);
        EXPECT_EQ(rig.host.fatals.size(), 1u);
    }
}

}  // namespace
}  // namespace dahlo
