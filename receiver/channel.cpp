#include "receiver/channel.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp/local_median.h"

namespace dahlo {

Channel::Channel(int channelId) : id(channelId) {
    burstFilter_.BurstWindow = BurstWindowFor(CwFilterTreshold);
    SelectFilterCoefficients();
}

void Channel::Reset() {
    LongAverage = 0.0;
    mainFilter_.ClearState();
    secondFilter_.ClearState();
    burstFilter_.BurstReset = true;
    keying_ = KeyingDetector{};
    decoder = MorseDecoder{};
    lastRawKeyDown = 0;
    lastEnvelope = 0.0;
    envelopeTrace.fill(0.0f);
    traceNext = 0;
    traceCountdown_ = kEnvelopeTraceStep;
    markCheck_ = MarkCheck{};
    tone_ = ToneLook{};
}

void Channel::SelectFilterCoefficients() {
    CentreBin = ClampCentreBin(CentreBin);
    const FilterRow& row = FilterCoefficientTables(FilterWidth).Row(CentreBin);
    mainFilter_.SelectRow(row);
    secondFilter_.SelectRow(row);
}

void Channel::SetCentreBin(int bin) {
    CentreBin = ClampCentreBin(bin);
    SelectFilterCoefficients();
}

void Channel::SetFilterWidth(int mode) {
    FilterWidth = FilterWidthFromMode(mode);
    SelectFilterCoefficients();
}

void Channel::ApplyIntegrationLength(int length) {
    if (length < 1) length = kDefaultIntegrationLength;
    CwFilterTreshold = length;
    burstFilter_.BurstWindow = BurstWindowFor(length);
    burstFilter_.BurstReset = true;
}

void Channel::SetBurstSpeed(int lpm) { ApplyIntegrationLength(IntegrationLengthFor(lpm)); }

void Channel::GoToMax(const SpectrumState& spectrum) {
    CentreBin = FindGoToMaxBin(spectrum, CentreBin);
    SelectFilterCoefficients();
    decoder.SilenceDots = 0.0;
}

void Channel::RunAfc(const SpectrumState& spectrum) {
    CentreBin = FindAfcBin(spectrum, CentreBin, AfcSpeed);
    SelectFilterCoefficients();
}

void Channel::SteerAtBlockStart(const SpectrumState& spectrum, std::int64_t sample,
                                ChannelEventSink& sink) {
    const int before = CentreBin;
    if (markLevelFraction > 0.0) {
        markCheck_.blockTone = ToneAtCentre(spectrum, kMarkToneRatio);
        if (decoder.KeyWasDown == 1) markCheck_.tone = markCheck_.tone || markCheck_.blockTone;
    }
    if (lastRawKeyDown == 1 && afcOn && (!afcNeedsTone || ToneAtCentre(spectrum))) {
        RunAfc(spectrum);
    }
    if (decoder.SilenceDots > 8.0 && autoGoToMax) GoToMax(spectrum);
    if (CentreBin != before) {
        ChannelEvent event;
        event.kind = ChannelEvent::kRetune;
        event.channel = id;
        event.sample = sample;
        event.centreBin = CentreBin;
        sink.OnChannelEvent(event);
    }
}

bool Channel::ToneAtCentre(const SpectrumState& spectrum, double ratio) const {
    const int centre = ClampCentreBin(CentreBin);
    const double floor = LocalMedian(spectrum.SmoothedMagnitude, centre);
    double peak = 0.0;
    for (int k = std::max(kFirstBin, centre - 1); k <= std::min(kLastBin, centre + 1); ++k) {
        peak = std::max(peak, spectrum.SmoothedMagnitude[k]);
    }
    return peak > 0.0 && peak >= ratio * floor;
}

void Channel::LookAtTone(const SpectrumState& spectrum, std::int64_t sample) {
    if (!toneEvidence) return;
    tone_.blockBefore = tone_.block;
    tone_.block = ToneInPassband(spectrum, kToneEvidenceRatio);
    if (tone_.block) tone_.lastTone = sample;
    if (decoder.KeyWasDown == 1) tone_.mark = tone_.mark || tone_.block;
}

bool Channel::ToneInPassband(const SpectrumState& spectrum, double ratio) const {
    const int centre = ClampCentreBin(CentreBin);
    const double floor = LocalMedian(spectrum.SmoothedMagnitude, centre);
    if (!(floor > 0.0)) return false;
    const double needed = ratio * floor;
    // The narrow filter passes only its own tone; a neighbour's that its skirt lets through
    // keys it too, but is not its signal. The wider ones take what their passband weighs.
    const int reach = FilterWidth == kNarrow ? kNarrowToneBins : kLocalMedianHalfWidth;
    const int lo = std::max(kFirstBin, centre - reach);
    const int hi = std::min(kLastBin, centre + reach);
    for (int k = lo; k <= hi; ++k) {
        const double magnitude = spectrum.SmoothedMagnitude[k];
        if (magnitude < needed) continue;
        if (FilterWidth == kNarrow || std::abs(k - centre) <= 1) return true;
        const FilterRow& row = FilterCoefficientTables(FilterWidth).Row(centre);
        const double gain =
            std::min(1.0, RowGainAt(row, k * kHzPerBin) / RowGainAt(row, centre * kHzPerBin));
        if (magnitude * gain >= needed) return true;
    }
    return false;
}

DecodeResult Channel::OwnWordSpace(DecodeResult decoded) const {
    if (decoded.kind == DecodeResult::kWordSpace) return {};
    if (decoded.kind != DecodeResult::kNothing || decoder.KeyWasDown != 0) return decoded;
    const std::int64_t tenths = std::clamp(wordSpaceTenths, 25, 250);
    // The space grows by one each sample up to 25 dot lengths, so it meets this once per gap.
    if (decoder.SpaceLength != (tenths * decoder.DotLength) / 10) return decoded;
    decoded.kind = DecodeResult::kWordSpace;
    decoded.code = 0;
    decoded.showSpeed = decoder.CharCount > 4;
    return decoded;
}

void Channel::Process(const std::int16_t* samples, int count, std::int64_t firstSample,
                      ChannelEventSink& sink) {
    for (int i = 0; i < count; ++i) {
        const double x = samples[i] * kSampleScale;
        double y = mainFilter_.MainFilterStep(x);
        if (filterTwice) y = secondFilter_.MainFilterStep(y);
        const double e = burstFilter_.BurstFilterStep(y);
        LongAverage = (LongAverage * 10000.0 + e) / 10001.0;
        if (autoThreshold) DetectorThreshold = 0.6 * LongAverage;
        const int rawKeyDown = e > DetectorThreshold ? 1 : 0;
        lastRawKeyDown = rawKeyDown;
        lastEnvelope = e;
        if (--traceCountdown_ == 0) {
            traceCountdown_ = kEnvelopeTraceStep;
            envelopeTrace[static_cast<std::size_t>(traceNext)] = static_cast<float>(e);
            traceNext = (traceNext + 1) % kEnvelopeTraceSize;
        }

        const bool checking = markLevelFraction > 0.0;
        // The key can only go down at a sample where the raw decision is down, or where the
        // decoder was restarted during a mark (its key up, the integrator's still down).
        if (checking && decoder.KeyWasDown == 0 && (rawKeyDown == 1 || keying_.KeyState == 1)) {
            markCheck_.before = decoder;
        }
        const std::int64_t wasDown = decoder.KeyWasDown;
        DecodeResult decoded = decoder.DecodeSample(rawKeyDown, keying_, CwFilterTreshold);
        if (decoder.KeyWasDown != wasDown) {
            if (keyEdges != nullptr) {
                keyEdges->OnKeyEdge(id, firstSample + i, decoder.KeyWasDown == 1);
            }
            if (decoder.KeyWasDown == 1) {
                if (checking) {
                    markCheck_.down = firstSample + i;
                    markCheck_.peak = e;
                    markCheck_.tone = markCheck_.blockTone;
                }
                tone_.mark = tone_.block || tone_.blockBefore;
            } else {
                if (checking && !KeepMark(firstSample + i, sink)) continue;
                if (toneEvidence) {
                    ++tone_.marks;
                    if (tone_.mark) ++tone_.tonedMarks;
                }
            }
        } else if (checking && decoder.KeyWasDown == 1) {
            markCheck_.peak = std::max(markCheck_.peak, e);
        }
        if (wordSpaceTenths > 0) decoded = OwnWordSpace(decoded);
        Tell(decoded, firstSample + i, sink);
    }
}

void Channel::Tell(DecodeResult decoded, std::int64_t sample, ChannelEventSink& sink) {
    if (decoded.kind == DecodeResult::kNothing) return;
    ChannelEvent event;
    event.kind = decoded.kind == DecodeResult::kCharacter ? ChannelEvent::kCharacter
                                                          : ChannelEvent::kWordSpace;
    event.channel = id;
    event.sample = sample;
    event.code = decoded.code;
    event.centreBin = CentreBin;
    if (event.kind == ChannelEvent::kCharacter && toneEvidence) {
        event.marks = tone_.marks;
        event.tonedMarks = tone_.tonedMarks;
        tone_.marks = 0;
        tone_.tonedMarks = 0;
    }
    sink.OnChannelEvent(event);
    event.marks = 0;
    event.tonedMarks = 0;
    if (decoded.showSpeed) {
        event.kind = ChannelEvent::kSpeed;
        event.code = 0;
        event.wpm = decoder.Wpm();
        event.lpm = decoder.Lpm();
        sink.OnChannelEvent(event);
    }
}

bool Channel::KeepMark(std::int64_t sample, ChannelEventSink& sink) {
    MarkCheck& check = markCheck_;
    if (check.levelCount > 0 && check.down - check.lastCounted > kMarkLevelHoldSamples) {
        check.levelCount = 0;  // the sender's level is too old to go by
    }
    if (check.levelCount >= kMarkLevelsNeeded && !check.tone) {
        std::array<double, kMarkLevelMemory> levels = check.levels;
        const auto middle = levels.begin() + check.levelCount / 2;
        std::nth_element(levels.begin(), middle, levels.begin() + check.levelCount);
        if (check.peak < markLevelFraction * *middle) {
            // As if the key had stayed up from the sample it went down at: the space before the
            // mark goes on, and whatever it ends is told at its own sample.
            decoder = check.before;
            KeyingDetector up;
            for (std::int64_t at = check.down; at <= sample; ++at) {
                DecodeResult decoded = decoder.DecodeSample(0, up, CwFilterTreshold);
                if (wordSpaceTenths > 0) decoded = OwnWordSpace(decoded);
                Tell(decoded, at, sink);
            }
            return false;
        }
    }
    check.levels[static_cast<std::size_t>(check.levelNext)] = check.peak;
    check.levelNext = (check.levelNext + 1) % kMarkLevelMemory;
    check.levelCount = std::min(check.levelCount + 1, kMarkLevelMemory);
    check.lastCounted = sample;
    return true;
}

}  // namespace dahlo
