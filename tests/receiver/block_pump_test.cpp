// The block loop: order of the stages, what happens while blocks wait, re-entry from the event
// pump, stopping, and the hand-back of buffers to the sound input.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "dsp/number_format.h"
#include "receiver/block_pump.h"
#include "receiver/panel_text.h"
#include "support/quiet_host.h"

namespace dahlo {
namespace {

struct HostCall {
    std::string what;
    int waiting;  // WaitingBlocks at the time of the call
};

class RecordingHost : public test::QuietHost {
public:
    explicit RecordingHost(CaptureRing& ring) : ring_(ring) {}
    std::vector<HostCall> calls;
    std::vector<int> freeBuffers;
    std::string text;
    std::vector<std::pair<std::string, std::string>> fatals;
    std::function<void()> onPump;

    void ShowFreeBuffers(int free) override { freeBuffers.push_back(free); }
    void AppendDecodedText(std::uint32_t, std::string_view t) override { text += t; }
    void PaintScope() override { Record("scope"); }
    void PaintSpectrum() override { Record("spectrum"); }
    void PumpMessages() override {
        Record("pump");
        if (onPump) onPump();
    }
    void ReportFatal(std::string_view t, std::string_view caption) override {
        fatals.emplace_back(std::string(t), std::string(caption));
    }
    int Count(const std::string& what) const {
        int n = 0;
        for (const auto& c : calls) n += c.what == what;
        return n;
    }

private:
    void Record(const char* what) { calls.push_back({what, ring_.WaitingBlocks.load()}); }
    CaptureRing& ring_;
};

// A sound input that records the calls the loop makes and can refuse one of them.
class FakeInput : public SoundInput {
public:
    std::vector<std::string> calls;
    std::vector<const std::int16_t*> added;
    int failPrepare = kMmNoError;
    int failAdd = kMmNoError;

    int GetNumDevs() override { return 1; }
    int Open(SoundInputCallback, std::uintptr_t) override { return Log("open"); }
    int PrepareHeader(WaveHeader&) override {
        Log("prepare");
        return failPrepare;
    }
    int UnprepareHeader(WaveHeader& h) override {
        unprepared.push_back(h.data);
        return Log("unprepare");
    }
    int AddBuffer(WaveHeader& h) override {
        Log("add");
        if (failAdd != kMmNoError) return failAdd;
        added.push_back(h.data);
        return kMmNoError;
    }
    int Start() override { return Log("start"); }
    int Stop() override { return Log("stop"); }
    int Reset() override { return Log("reset"); }
    int Close() override { return Log("close"); }
    std::vector<const std::int16_t*> unprepared;

private:
    int Log(const char* what) {
        calls.emplace_back(what);
        return kMmNoError;
    }
};

class LoopTest : public ::testing::Test {
protected:
    LoopTest() : host(ring), receiver(ring, host) {
        ring.device = &input;
        ring.FreeBuffers = kBufferCount;
        for (int i = 0; i < kBufferCount; ++i) ring.FillHeader(i);
    }

    // The driver filled `count` buffers.
    void Fill(int count) {
        ring.WaitingBlocks += count;
        ring.FreeBuffers -= count;
    }

    void FillBlockWithTone(int index, double amplitude, double hz) {
        std::int16_t* block = ring.Block(index);
        for (int i = 0; i < kBlockSamples; ++i)
            block[i] = static_cast<std::int16_t>(
                std::lround(amplitude * std::sin(2 * M_PI * hz * i / kSampleRateHz)));
    }

    CaptureRing ring;
    FakeInput input;
    RecordingHost host;
    BlockPump receiver;
};

TEST_F(LoopTest, OneBlockGivesSixteenLevelEntriesAndOneSpectrumPass) {
    FillBlockWithTone(0, 8000, 996);
    Fill(1);
    receiver.ProcessWaitingBlocks();

    EXPECT_EQ(host.Count("scope"), 16);
    EXPECT_EQ(host.Count("spectrum"), 1);
    EXPECT_EQ(host.Count("pump"), 17);
    EXPECT_EQ(receiver.levels.newest, 16);
    // The spectrum pass follows sample 0: it comes before the first scope paint (sample 127).
    ASSERT_GE(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].what, "spectrum");
    EXPECT_EQ(host.calls[1].what, "pump");
    // Level entries fall on samples 127, 255, ... and hold the envelope: non-zero for a tone.
    EXPECT_GT(receiver.levels.values[16], 0.0);
    EXPECT_EQ(receiver.levels.values[0], 0.0);
    EXPECT_EQ(ring.WaitingBlocks, 0);
    EXPECT_EQ(ring.FreeBuffers, kBufferCount);
    EXPECT_FALSE(receiver.ProcessingActive);
}

TEST_F(LoopTest, SeveralWaitingBlocksAreWorkedOffInOrderAndDrawnOnlyInTheLast) {
    // The driver was started on all sixteen buffers; five came back filled.
    Fill(5);
    receiver.ProcessWaitingBlocks();

    ASSERT_EQ(input.unprepared.size(), 5u);
    ASSERT_EQ(input.added.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(input.unprepared[i], ring.Block(i)) << i;
        EXPECT_EQ(input.added[i], ring.Block(i)) << i;
    }
    EXPECT_EQ(ring.HeadIndex, 5);
    EXPECT_EQ(ring.TailIndex, 5);
    EXPECT_EQ(receiver.levels.newest, 5 * 16);
    // Drawing and pumping only while no further block waits, that is during the last block.
    EXPECT_EQ(host.Count("scope"), 16);
    EXPECT_EQ(host.Count("spectrum"), 1);
    for (const auto& c : host.calls) EXPECT_EQ(c.waiting, 0) << c.what;
    // The free-buffer count is shown at the first block (it starts at 99) and when it changes:
    // 11, 12, 13, 14, 15, growing by each hand-back.
    EXPECT_EQ(host.freeBuffers, (std::vector<int>{11, 12, 13, 14, 15}));
}

TEST_F(LoopTest, FreeBufferPanelIsWrittenOnlyWhenTheCountChanges) {
    Fill(1);
    receiver.ProcessWaitingBlocks();
    Fill(1);
    receiver.ProcessWaitingBlocks();
    EXPECT_EQ(host.freeBuffers, std::vector<int>{15});
}

TEST_F(LoopTest, BlockAnnouncedFromInsideThePumpIsProcessedOnceByTheRunningLoop) {
    int nested = 0;
    host.onPump = [&] {
        if (nested++ == 0) {
            Fill(1);                           // the driver filled another buffer
            receiver.ProcessWaitingBlocks();   // its announcement, dispatched by the pump
        }
    };
    Fill(1);
    receiver.ProcessWaitingBlocks();
    EXPECT_EQ(input.unprepared.size(), 2u);
    EXPECT_EQ(input.added.size(), 2u);
    EXPECT_EQ(receiver.levels.newest, 32);
    EXPECT_EQ(ring.WaitingBlocks, 0);
}

TEST_F(LoopTest, NothingIsTouchedOnceCaptureIsStopping) {
    Fill(3);
    ring.CaptureStopping = true;
    receiver.ProcessWaitingBlocks();
    EXPECT_TRUE(input.calls.empty());
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(host.freeBuffers.empty());
    EXPECT_EQ(ring.WaitingBlocks, 3);
}

TEST_F(LoopTest, StopDuringABlockFinishesTheCountedBlocksAndHandsNothingBack) {
    host.onPump = [&] {
        if (!ring.CaptureStopping) {
            Fill(1);  // counted before the stop began
            ring.CaptureStopping = true;
        }
    };
    Fill(1);
    receiver.ProcessWaitingBlocks();
    // Both counted blocks are worked through; none is handed back.
    EXPECT_EQ(receiver.levels.newest, 32);
    EXPECT_EQ(input.unprepared.size(), 2u);
    EXPECT_TRUE(input.added.empty());
    EXPECT_EQ(ring.WaitingBlocks, 0);
    EXPECT_FALSE(receiver.ProcessingActive);
}

TEST_F(LoopTest, RefusedPrepareIsFatalAndEndsTheLoop) {
    input.failPrepare = kMmError;
    Fill(3);
    receiver.ProcessWaitingBlocks();
    ASSERT_EQ(host.fatals.size(), 1u);
    EXPECT_EQ(host.fatals[0].first, "  Error in Prepare Header! ");
    EXPECT_EQ(host.fatals[0].second, "Error");
    EXPECT_EQ(input.calls.back(), "close");
    EXPECT_EQ(ring.device, nullptr);
    EXPECT_TRUE(input.added.empty());
    EXPECT_EQ(input.unprepared.size(), 1u);  // no further block once it failed
    // Later announcements find the program ending.
    receiver.ProcessWaitingBlocks();
    EXPECT_EQ(host.fatals.size(), 1u);
}

TEST_F(LoopTest, RefusedAddBufferIsFatal) {
    input.failAdd = kWaveStillPlaying;
    Fill(1);
    receiver.ProcessWaitingBlocks();
    ASSERT_EQ(host.fatals.size(), 1u);
    EXPECT_EQ(host.fatals[0].first, "  Error in AddBuffer! ");
    EXPECT_EQ(host.fatals[0].second, "Error");
    EXPECT_EQ(ring.device, nullptr);
}

TEST_F(LoopTest, AutomaticThresholdFollowsTheLongAverageOnlyWhileOn) {
    for (int i = 0; i < 4; ++i) FillBlockWithTone(i, 4000, 996);
    receiver.Main().DetectorThreshold = 0.37;
    Fill(2);
    receiver.ProcessWaitingBlocks();
    EXPECT_EQ(receiver.Main().DetectorThreshold, 0.37);
    EXPECT_GT(receiver.Main().LongAverage, 0.0);

    receiver.Main().autoThreshold = true;
    Fill(2);
    receiver.ProcessWaitingBlocks();
    EXPECT_DOUBLE_EQ(receiver.Main().DetectorThreshold, 0.6 * receiver.Main().LongAverage);

    // Switching it off freezes the last value.
    receiver.Main().autoThreshold = false;
    const double frozen = receiver.Main().DetectorThreshold;
    Fill(1);
    receiver.ProcessWaitingBlocks();
    EXPECT_EQ(receiver.Main().DetectorThreshold, frozen);
    EXPECT_EQ(ThresholdText(false, receiver.Main().DetectorThreshold), Format0_000(frozen));
}

TEST_F(LoopTest, AutoGoToMaxFiresAfterSilenceOnlyWhenOn) {
    // At start the silence count stands at 10 dot lengths, above the limit of 8.
    Fill(1);
    receiver.ProcessWaitingBlocks();
    EXPECT_GT(receiver.Main().decoder.SilenceDots, 8.0);

    receiver.Main().autoGoToMax = true;
    Fill(1);
    receiver.ProcessWaitingBlocks();
    // GoToMax cleared the count after sample 0; the rest of the block's silence adds 2047 / D.
    EXPECT_LT(receiver.Main().decoder.SilenceDots, 1.0);
    EXPECT_GT(receiver.Main().decoder.SilenceDots, 0.0);
}

TEST(ReceiverTexts, PanelsAndCaptions) {
    CaptureRing ring;
    RecordingHost host(ring);
    BlockPump receiver(ring, host);
    EXPECT_EQ(ThresholdText(false, receiver.Main().DetectorThreshold), "0.100");
    EXPECT_EQ(ThresholdText(true, 0.1), "Auto");
    EXPECT_EQ(BurstSpeedCaption(receiver.Main().CwFilterTreshold), "Burst Filter (200 LPM)");

    receiver.Main().SetBurstSpeed(300);
    EXPECT_EQ(receiver.Main().CwFilterTreshold, 117);
    EXPECT_EQ(receiver.Main().Burst().BurstWindow, 39);
    EXPECT_EQ(BurstSpeedCaption(receiver.Main().CwFilterTreshold), "Burst Filter (299 LPM)");
    EXPECT_EQ(BurstSpeedPanelText(receiver.Main().CwFilterTreshold), "BF: 299");

    // An integration length below 1 (an edited settings file) falls back to the default.
    receiver.Main().ApplyIntegrationLength(0);
    EXPECT_EQ(receiver.Main().CwFilterTreshold, 175);
    EXPECT_EQ(BurstSpeedPanelText(receiver.Main().CwFilterTreshold), "BF: 200");
    receiver.Main().ApplyIntegrationLength(-40);
    EXPECT_EQ(receiver.Main().CwFilterTreshold, 175);

    // Out-of-range centres are brought into the table.
    receiver.Main().SetCentreBin(7);
    EXPECT_EQ(receiver.Main().CentreBin, 30);
    receiver.Main().SetCentreBin(4000);
    EXPECT_EQ(receiver.Main().CentreBin, 450);

    receiver.Main().SetFilterWidth(7);
    EXPECT_EQ(receiver.Main().FilterWidth, 2);
    EXPECT_STREQ(FilterWidthPanel(receiver.Main().FilterWidth), "V.Wide");

    EXPECT_EQ(FreeBuffersText(15), "FrB: 15");
    EXPECT_EQ(FrequencyText(185), "0996 Hz");
    EXPECT_EQ(FrequencyText(30), "0161 Hz");
    EXPECT_EQ(FrequencyText(450), "2422 Hz");
}

TEST(NumberFormat, PicturePatterns) {
    EXPECT_EQ(Format0_000(0.1), "0.100");
    EXPECT_EQ(Format0_000(25.0 / 49.0), "0.510");
    EXPECT_EQ(Format0_000(0.5), "0.500");
    EXPECT_EQ(Format0_000(0.0005), "0.001");  // halves away from zero
    EXPECT_EQ(Format0_000(-0.5), "-0.500");
    EXPECT_EQ(Format0_000(-0.0001), "0.000");
    EXPECT_EQ(Format0_000(12.3456), "12.346");
    EXPECT_EQ(Format0000(995.91), "0996");
    EXPECT_EQ(Format0000(2422.48), "2422");
    EXPECT_EQ(Format0000(12345.5), "12346");
    EXPECT_EQ(FormatHashes0(20.045), "20.0");
    EXPECT_EQ(FormatHashes0(20.04), "20.0");
    EXPECT_EQ(FormatHashes0(0.52), ".5");
    EXPECT_EQ(FormatHashes0(0.04), ".0");
    EXPECT_EQ(FormatHashes0(0.96), "1.0");
    EXPECT_EQ(FormatHashes0(1234.56), "1234.6");
    EXPECT_EQ(FormatHashes0(99.95), "100.0");
}

}  // namespace
}  // namespace dahlo
