// The receiver finding and following a signal by itself: automatic GoToMax after a silence, and
// AFC during marks, on synthesized audio through the whole loop.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "support/quiet_host.h"
#include "support/morse_synth.h"

namespace dahlo {
namespace {

class TextHost final : public test::QuietHost {
public:
    std::string text;
    void AppendDecodedText(std::uint32_t, std::string_view cp1251) override { text += cp1251; }
};

struct ReceiverRun {
    std::unique_ptr<CaptureRing> ring = std::make_unique<CaptureRing>();
    TextHost host;
    std::unique_ptr<BlockPump> receiver = std::make_unique<BlockPump>(*ring, host);
    std::vector<int> centreByBlock;

    void Feed(const std::vector<std::int16_t>& audio) {
        std::vector<std::int16_t> block(kBlockSamples);
        for (std::size_t at = 0; at + kBlockSamples <= audio.size(); at += kBlockSamples) {
            std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(at), kBlockSamples,
                        block.begin());
            receiver->ProcessBlock(block.data());
            centreByBlock.push_back(receiver->Main().CentreBin);
        }
    }
};

std::string Repeat(std::string_view phrase, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += phrase;
    return out;
}

int NearestBin(double hz) { return static_cast<int>(std::lround(hz / kHzPerBin)); }

TEST(Steering, AutomaticGoToMaxFindsASignalFarFromTheFilter) {
    test::MorseSynthOptions options;
    options.wpm = 20;
    options.signal.pitch_hz = 700.0;
    options.signal.level_dbfs = -12.0;
    options.snr_db = 15.0;
    const std::string sent = Repeat("cq de dl1abc k ", 10);

    ReceiverRun run;
    run.receiver->Main().autoGoToMax = true;
    run.Feed(test::SynthesizeMorse(sent, options));

    // 700 Hz is 296 Hz off the narrow filter at 996 Hz: nothing is heard until GoToMax, which
    // fires once the silence has lasted 8 dot lengths of the start-up dot (about 9.4 s).
    EXPECT_EQ(run.centreByBlock.front(), kDefaultCentreBin);
    EXPECT_NEAR(run.receiver->Main().CentreBin, NearestBin(700.0), 1);
    int firstOnSignal = -1;
    for (std::size_t i = 0; i < run.centreByBlock.size(); ++i) {
        if (std::abs(run.centreByBlock[i] - NearestBin(700.0)) <= 1) {
            firstOnSignal = static_cast<int>(i);
            break;
        }
    }
    ASSERT_GE(firstOnSignal, 0);
    EXPECT_LT(firstOnSignal * kBlockSamples / double{kSampleRateHz}, 12.0);
    // Once there it decodes: the last calls come out right.
    EXPECT_NE(run.host.text.find("cq de dl1abc k cq de dl1abc k"), std::string::npos)
        << run.host.text;
}

TEST(Steering, AfcFollowsASlowDriftAndKeepsDecoding) {
    test::MorseSynthOptions options;
    options.wpm = 20;
    options.signal.pitch_hz = 996.0;
    options.signal.level_dbfs = -12.0;
    options.signal.drift_hz_per_s = 40.0 / 60.0;  // 40 Hz in a minute
    options.snr_db = 15.0;
    const std::string sent = Repeat("the quick brown fox jumps over the lazy dog ", 6);
    const std::vector<std::int16_t> audio = test::SynthesizeMorse(sent, options);
    const double seconds = static_cast<double>(audio.size()) / kSampleRateHz;
    ASSERT_GT(seconds, 60.0);
    const double endHz = 996.0 + options.signal.drift_hz_per_s * seconds;

    ReceiverRun withAfc;  // AFC is on at speed 2 by default
    withAfc.Feed(audio);
    EXPECT_NEAR(withAfc.receiver->Main().CentreBin, NearestBin(endHz), 1);
    const std::string tail = Repeat("the quick brown fox jumps over the lazy dog ", 2);
    EXPECT_NE(withAfc.host.text.find(tail), std::string::npos) << withAfc.host.text;

    // Without AFC the filter stays where it was put.
    ReceiverRun withoutAfc;
    withoutAfc.receiver->Main().afcOn = false;
    withoutAfc.Feed(audio);
    EXPECT_EQ(withoutAfc.receiver->Main().CentreBin, kDefaultCentreBin);
}

TEST(Steering, AfcDoesNotMoveInSilence) {
    // A steady carrier 20 Hz above the centre pulls AFC over while it is keyed down at the
    // start of each block; silence afterwards leaves the filter where it is.
    std::vector<std::int16_t> audio(40 * kBlockSamples, 0);
    const double hz = 1016.0;
    for (std::size_t i = 0; i < 10 * kBlockSamples; ++i)
        audio[i] = static_cast<std::int16_t>(
            std::lround(8000.0 * std::sin(2 * M_PI * hz * static_cast<double>(i) / kSampleRateHz)));
    ReceiverRun run;
    run.Feed(audio);
    EXPECT_NEAR(run.centreByBlock[9], NearestBin(hz), 1);
    EXPECT_EQ(run.centreByBlock.back(), run.centreByBlock[9]);
}

}  // namespace
}  // namespace dahlo
