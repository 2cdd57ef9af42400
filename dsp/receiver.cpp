#include "dsp/receiver.h"

#include <string>

#include "dsp/number_format.h"

namespace dahlo {

namespace {
constexpr double kSampleScale = 1.0 / 16384.0;  // full scale +-2.0
}

Receiver::Receiver(CaptureRing& captureRing, ReceiverHost& receiverHost)
    : ring(captureRing), host(receiverHost) {
    burstFilter.BurstWindow = BurstWindowFor(state.CwFilterTreshold);
    SelectFilterCoefficients();
}

void Receiver::SelectFilterCoefficients() {
    state.CentreBin = ClampCentreBin(state.CentreBin);
    mainFilter.SelectRow(FilterCoefficientTables(state.FilterWidth).Row(state.CentreBin));
}

void Receiver::SetCentreBin(int bin) {
    state.CentreBin = ClampCentreBin(bin);
    SelectFilterCoefficients();
}

void Receiver::SetFilterWidth(int mode) {
    state.FilterWidth = FilterWidthFromMode(mode);
    host.ShowStatus(kPanelFilterWidth, FilterWidthPanel(state.FilterWidth));
    SelectFilterCoefficients();
}

void Receiver::ApplyIntegrationLength(int length) {
    if (length < 1) length = kDefaultIntegrationLength;
    state.CwFilterTreshold = length;
    burstFilter.BurstWindow = BurstWindowFor(length);
    burstFilter.BurstReset = true;
}

void Receiver::SetBurstSpeed(int lpm) {
    ApplyIntegrationLength(IntegrationLengthFor(lpm));
    ShowBurstSpeed();
}

void Receiver::ShowBurstSpeed() { host.ShowStatus(kPanelBurstSpeed, BurstSpeedPanel()); }

void Receiver::ShowThreshold() { host.ShowStatus(kPanelThreshold, ThresholdPanel()); }

std::string Receiver::BurstSpeedCaption() const {
    return "Burst Filter (" + std::to_string(ShownBurstSpeed(state.CwFilterTreshold)) + " LPM)";
}

std::string Receiver::BurstSpeedPanel() const {
    return "BF: " + std::to_string(ShownBurstSpeed(state.CwFilterTreshold));
}

std::string Receiver::ThresholdPanel() const {
    return state.AutoTresholdDown ? std::string("Auto") : Format0_000(state.DetectorThreshold);
}

void Receiver::GoToMaxButtonClick() {
    state.CentreBin = FindGoToMaxBin(spectrum, state.CentreBin);
    SelectFilterCoefficients();
    decoder.SilenceDots = 0.0;
}

void Receiver::RunAfc() {
    state.CentreBin = FindAfcBin(spectrum, state.CentreBin, state.AfcSpeed);
    SelectFilterCoefficients();
}

void Receiver::ProcessBlock(const std::int16_t* samples) {
    for (int i = 0; i < kBlockSamples; ++i) {
        const double x = samples[i] * kSampleScale;
        const double y = mainFilter.MainFilterStep(x);
        const double e = burstFilter.BurstFilterStep(y);
        state.LongAverage = (state.LongAverage * 10000.0 + e) / 10001.0;
        if (state.AutoTresholdDown) state.DetectorThreshold = 0.6 * state.LongAverage;
        const int rawKeyDown = e > state.DetectorThreshold ? 1 : 0;

        const DecodeResult decoded =
            decoder.DecodeSample(rawKeyDown, keying, state.CwFilterTreshold);
        if (decoded.kind != DecodeResult::kNothing) {
            host.AppendDecodedText(decoded.code, charsets.CodeToText(decoded.code));
            if (decoded.showSpeed) {
                host.ShowStatus(kPanelWpm, WpmText(decoder));
                host.ShowStatus(kPanelLpm, LpmText(decoder));
            }
        }

        if (++state.LevelTick >= kLevelInterval) {
            state.LevelTick = 0;
            levels.newest = (levels.newest + 1) % kLevelHistorySize;
            levels.values[levels.newest] = e;
            if (ring.WaitingBlocks.load() < 1) {
                host.PaintScope();
                host.PumpMessages();
            }
        }

        if (i == 0) {
            MixedRadixFft(fftWork, kFftLength, samples, spectrum.SpectrumRe.data(),
                          spectrum.SpectrumIm.data());
            if (rawKeyDown == 1 && state.AfcDown) RunAfc();
            if (decoder.SilenceDots > 8.0 && state.AutoGoToMaxDown) GoToMaxButtonClick();
            SmoothSpectrum(spectrum);
            if (ring.WaitingBlocks.load() < 1) {
                host.PaintSpectrum();
                host.PumpMessages();
            }
        }
    }
}

void Receiver::ProcessWaitingBlocks() {
    if (state.ProcessingActive || ring.CaptureStopping.load()) return;
    state.ProcessingActive = true;
    while (ring.WaitingBlocks.load() != 0) {
        const int free = ring.FreeBuffers.load();
        if (free != state.ShownFreeBuffers) {
            host.ShowStatus(kPanelFreeBuffers, FreeBuffersText(free));
            state.ShownFreeBuffers = free;
        }
        if (ring.device != nullptr) ring.device->UnprepareHeader(ring.headers[ring.HeadIndex]);
        ring.WaitingBlocks.fetch_sub(1);

        ProcessBlock(ring.Block(ring.HeadIndex));

        ring.HeadIndex = (ring.HeadIndex + 1) % kBufferCount;
        if (ring.CaptureStopping.load()) continue;
        HandBackBuffer();
        if (ring.device == nullptr && ring.CaptureStopping.load()) break;  // fatal hand-back
    }
    state.ProcessingActive = false;
}

void Receiver::HandBackBuffer() {
    ring.FreeBuffers.fetch_add(1);
    const int tail = ring.TailIndex;
    ring.FillHeader(tail);
    const char* failure = nullptr;
    if (ring.device == nullptr) {
        failure = "  Error in Prepare Header! ";
    } else if (ring.device->PrepareHeader(ring.headers[tail]) != kMmNoError) {
        failure = "  Error in Prepare Header! ";
    } else if (ring.device->AddBuffer(ring.headers[tail]) != kMmNoError) {
        failure = "  Error in AddBuffer! ";
    }
    if (failure != nullptr) {
        // Fatal: no further device call and no further block once the user has been told.
        ring.CaptureStopping.store(true);
        if (ring.device != nullptr) ring.device->Close();
        ring.device = nullptr;
        host.ReportFatal(failure, "Error");
        return;
    }
    ring.TailIndex = (tail + 1) % kBufferCount;
}

std::string FreeBuffersText(int freeBuffers) { return "FrB: " + std::to_string(freeBuffers); }

std::string FrequencyText(int centreBin) { return Format0000(centreBin * kHzPerBin) + " Hz"; }

}  // namespace dahlo
