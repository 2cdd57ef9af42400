// The receiver allocates nothing while it processes blocks: not in the filter, the envelope, the
// decoder, the transform or the spectrum stages. Only the speed texts, formed at every fifth
// character, may allocate.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "support/quiet_host.h"
#include "support/morse_synth.h"

// Counts every allocation of this test program.
namespace {
std::atomic<long> allocationCount{0};
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace dahlo {
namespace {

class CountingHost final : public test::QuietHost {
public:
    int characters = 0;
    int speeds = 0;
    void ShowSpeed(double, int) override { ++speeds; }
    void AppendDecodedText(std::uint32_t code, std::string_view) override {
        characters += code != 0;
    }
};

TEST(ReceiverAllocations, NoneWhileProcessingBlocks) {
    auto ring = std::make_unique<CaptureRing>();
    CountingHost host;
    auto receiver = std::make_unique<BlockPump>(*ring, host);
    receiver->Main().autoGoToMax = true;
    receiver->Main().autoThreshold = true;

    // A carrier and silence: every stage runs, AFC and GoToMax included, and no character ends.
    std::vector<std::int16_t> block(kBlockSamples);
    long before = allocationCount.load();
    for (int b = 0; b < 40; ++b) {
        for (int i = 0; i < kBlockSamples; ++i) {
            const double t = static_cast<double>(b * kBlockSamples + i) / kSampleRateHz;
            block[i] = b < 20 ? static_cast<std::int16_t>(std::lround(
                                    8000.0 * std::sin(2 * M_PI * 1000.0 * t)))
                              : 0;
        }
        receiver->ProcessBlock(block.data());
    }
    EXPECT_EQ(allocationCount.load() - before, 0);

    // Keyed Morse: characters, word spaces and speeds come out as values, text as views.
    test::MorseSynthOptions options;
    options.wpm = 25;
    options.signal.pitch_hz = receiver->Main().CentreBin * kHzPerBin;
    const std::vector<std::int16_t> audio =
        test::SynthesizeMorse("cq cq de dl1abc dl1abc k the quick brown fox 0123456789", options);
    before = allocationCount.load();
    for (std::size_t at = 0; at + kBlockSamples <= audio.size(); at += kBlockSamples) {
        receiver->ProcessBlock(audio.data() + at);
    }
    const long allocations = allocationCount.load() - before;
    EXPECT_GT(host.characters, 20);
    EXPECT_GT(host.speeds, 0);
    EXPECT_EQ(allocations, 0);
}

}  // namespace
}  // namespace dahlo
