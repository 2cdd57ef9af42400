// The whole sample loop on arbitrary audio with arbitrary settings. The first bytes choose the
// settings, the rest are 16-bit samples run block by block through a receiver with a host that
// does nothing. After every block: no NaN or infinity in the envelope, the levels, the spectrum
// or the decoder's values, the centre in 30..450, the key count within the integration length.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "receiver/panel_text.h"
#include "receiver/receiver_host.h"
#include "fuzz/fuzz_check.h"

namespace {

class NullHost final : public dahlo::ReceiverHost {
  public:
    void OnChannelEvent(const dahlo::ChannelEvent&, std::string_view text) override {
        FUZZ_CHECK(text.size() <= dahlo::kMaxCodeText);
    }
    void ShowFreeBuffers(int) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view, std::string_view) override { std::abort(); }
};

bool Finite(double v) {
    return std::isfinite(v);
}

// Burst-filter menu speeds in LPM.
constexpr int kBurstSpeeds[] = {50, 100, 150, 200, 300, 400, 500, 600, 800, 1000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dahlo;
    constexpr std::size_t kHeader = 8;
    if (size < kHeader) return 0;
    static auto ring = std::make_unique<CaptureRing>();  // large; the loop only reads counters
    NullHost host;
    auto pump = std::make_unique<BlockPump>(*ring, host);
    Channel* rx = &pump->Main();

    rx->SetFilterWidth(data[0] % 4);
    rx->SetCentreBin((data[1] | (data[2] << 8)) % 600 - 50);  // also outside 30..450
    // Either a menu speed or any integration length a settings file may hold.
    if (data[3] & 0x80) {
        rx->ApplyIntegrationLength(static_cast<int>(data[3] & 0x7f) * 23 - 100);
    } else {
        rx->SetBurstSpeed(kBurstSpeeds[data[3] % 10]);
    }
    rx->DetectorThreshold = data[4] / 255.0 * (data[4] & 1 ? 0.001 : 2.0);
    rx->autoThreshold = data[5] & 1;
    rx->afcOn = data[5] & 2;
    rx->autoGoToMax = data[5] & 4;
    // dahlo-decode's and the skimmer's own: marks under the sender's level taken back, AFC only
    // on a tone.
    rx->markLevelFraction = data[5] & 8 ? 0.5 : 0.0;
    rx->afcNeedsTone = data[5] & 16;
    rx->AfcSpeed = data[6] % (kAfcSpeedMax + 1);
    if (data[7] & 1) rx->decoder.WarmStart(data[7] * 13);

    std::vector<std::int16_t> block(kBlockSamples);
    const std::size_t samples = (size - kHeader) / 2;
    for (std::size_t at = 0; at < samples || at == 0; at += kBlockSamples) {
        std::fill(block.begin(), block.end(), 0);
        const std::size_t n = std::min<std::size_t>(kBlockSamples, samples - at);
        std::memcpy(block.data(), data + kHeader + 2 * at, 2 * n);
        // Short inputs are repeated so that even a few bytes make a whole block of signal.
        for (std::size_t i = n; n > 0 && i < kBlockSamples; ++i) block[i] = block[i % n];
        pump->ProcessBlock(block.data());

        const auto& st = *rx;
        FUZZ_CHECK(st.CentreBin >= kFirstBin && st.CentreBin <= kLastBin);
        FUZZ_CHECK(Finite(st.LongAverage) && st.LongAverage >= 0.0);
        FUZZ_CHECK(Finite(st.DetectorThreshold));
        FUZZ_CHECK(rx->Keying().KeyCount >= 0 && rx->Keying().KeyCount <= st.CwFilterTreshold);
        FUZZ_CHECK(rx->Keying().KeyState == 0 || rx->Keying().KeyState == 1);
        FUZZ_CHECK(Finite(rx->Burst().BurstSum));
        FUZZ_CHECK(st.MarkLevels().levelCount >= 0 &&
                   st.MarkLevels().levelCount <= Channel::kMarkLevelMemory);
        for (double v : pump->levels.values) FUZZ_CHECK(Finite(v) && v >= 0.0);
        for (int b = kFirstBin; b <= kLastBin; ++b) {
            FUZZ_CHECK(Finite(pump->spectrum.SmoothedMagnitude[b]));
            FUZZ_CHECK(Finite(pump->spectrum.PeakHold[b]));
        }
        const auto& d = rx->decoder;
        FUZZ_CHECK(d.DotLength >= 0 && d.MarkLength >= 0 && d.SpaceLength >= 0);
        FUZZ_CHECK(Finite(d.SilenceDots));
        FUZZ_CHECK(Finite(d.Wpm()) || d.DotLength == 0);
        FUZZ_CHECK(!LpmText(d).empty() && !WpmText(d).empty());
        if (at + kBlockSamples >= samples) break;
    }
    return 0;
}
