#include "decode/presets.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"

namespace dahlo {

namespace {
// Fixed thresholds tried under fading, as multiples of the one from the levels.
constexpr std::array<double, 3> kFadingThresholdScales = {1.6, 2.5, 4.0};
// A trial whose plausible words hold at least a third of its characters read the signal.
constexpr std::int64_t kReadableShare = 3;
// A segment's median dot this far from the recording's marks a change of speed, when that many
// segments in a row (about 9 s) show it.
constexpr double kSpeedChangeRatio = 1.4;
constexpr std::size_t kSpeedRunSegments = 3;
}  // namespace

namespace {

// The first `limit` samples of another source.
class PrefixSource : public SampleSource {
  public:
    PrefixSource(SampleSource& inner, std::int64_t limit) : inner_(inner), limit_(limit) {}
    std::size_t Read(std::int16_t* out, std::size_t count) override {
        const auto room = static_cast<std::size_t>(std::max<std::int64_t>(limit_ - done_, 0));
        const std::size_t got = inner_.Read(out, std::min(count, room));
        done_ += static_cast<std::int64_t>(got);
        return got;
    }
    bool Rewind() override {
        done_ = 0;
        return inner_.Rewind();
    }
    std::int64_t Length() const override {
        const std::int64_t length = inner_.Length();
        return length < 0 ? limit_ : std::min(length, limit_);
    }
    const std::string& Name() const override { return inner_.Name(); }

  private:
    SampleSource& inner_;
    std::int64_t limit_;
    std::int64_t done_ = 0;
};

}  // namespace

namespace {

// What a trial decode of the first kTrialSamples gives: the score of its text, how many
// characters it decoded, and the highest the envelope rose.
struct Trial {
    TextLook text;
    std::int64_t characters = 0;
    double peak = 0.0;
};

Trial RunTrial(SampleSource& source, const ReceiverControls& controls) {
    RewindOrThrow(source);
    PrefixSource prefix(source, kTrialSamples);
    StringSink sink;
    DecodeHost host(sink, OutputFormat{});
    DecodeSource(prefix, controls, host);
    host.Finish();
    return {LookAtText(sink.text), host.Characters(), host.Scope().peak};
}

}  // namespace

double TrialScore(SampleSource& source, const ReceiverControls& controls) {
    return RunTrial(source, controls).text.score;
}

namespace {

// How a fading recording's threshold was chosen.
struct FadingChoice {
    bool automatic = false;
    double scale = 1.0;  // of the fixed threshold
    double score = 0.0;  // of its trial
};

// A fixed threshold suits a steady signal; under fading the receiver's own threshold, which
// follows the level over about a second, may suit better, and in deep noise a higher fixed one
// that keeps the faded stretches quiet rather than keying noise into letters. The candidate whose
// trial text looks most like Morse wins, the earlier one on a tie; higher thresholds are tried
// only while every text so far looks more like noise than like Morse. A threshold above every
// peak of the envelope is never chosen, and one whose trial decodes nothing only while no trial
// has read a single plausible word: a noisy copy is better than silence, pure junk is not.
FadingChoice ChooseFadingThreshold(SampleSource& source, const ReceiverControls& controls) {
    FadingChoice best;
    // A trial read something when a good share of its characters stand in plausible words;
    // noise keys a few of those too.
    auto readSomething = [](const Trial& trial) {
        return trial.text.plausibleCharacters > 0 &&
               trial.text.plausibleCharacters * kReadableShare >= trial.characters;
    };
    const Trial first = RunTrial(source, controls);
    double bestScore = first.text.score;
    bool read = readSomething(first);
    auto consider = [&](const ReceiverControls& candidate, FadingChoice choice) {
        const Trial trial = RunTrial(source, candidate);
        if (!candidate.autoThreshold && candidate.threshold >= trial.peak) return;
        if (trial.characters == 0 && read) return;
        read = read || readSomething(trial);
        const double score = trial.text.score;
        if (score > bestScore) {
            bestScore = score;
            best = choice;
        }
    };
    ReceiverControls automatic = controls;
    automatic.autoThreshold = true;
    consider(automatic, FadingChoice{true, 1.0});
    for (const double scale : kFadingThresholdScales) {
        if (scale > kFadingThresholdScales.front() && bestScore >= 0.0) break;
        ReceiverControls raised = controls;
        raised.threshold = std::round(controls.threshold * scale * 10000.0) / 10000.0;
        consider(raised, FadingChoice{false, scale});
    }
    best.score = bestScore;
    return best;
}

// Adds [begin, end) to spans kept in order and disjoint.
void AddSpan(std::vector<SampleSpan>& spans, std::int64_t begin, std::int64_t end) {
    if (end <= begin) return;
    if (!spans.empty() && begin <= spans.back().end) {
        spans.back().end = std::max(spans.back().end, end);
        return;
    }
    spans.push_back({begin, end});
}

// Speed of each segment where the signal is: the recording's own burst speed, unless the
// segment's dot stands kSpeedChangeRatio away from the recording's for kSpeedRunSegments in a
// row; a change to a faster setting is made a segment early (the first pass's dot follows the
// sender only after some elements, and a fast setting reads slow keying too), one to a slower
// setting a segment late. 0 where unknown.
std::vector<int> SegmentBurstSpeeds(const KeyingLook& keying, int recordingLpm) {
    const std::size_t n = keying.segmentDots.size();
    std::vector<int> lpm(n, 0);
    const auto median = static_cast<double>(keying.medianDot);
    for (std::size_t s = 0; s < n; ++s) {
        const auto dot = static_cast<double>(keying.segmentDots[s]);
        if (dot <= 0.0) continue;
        const bool changed = dot * kSpeedChangeRatio < median || dot > median * kSpeedChangeRatio;
        lpm[s] = changed ? BurstSpeedForDot(keying.segmentDots[s]) : recordingLpm;
    }
    // Fewer than kSpeedRunSegments of another speed in a row are stumbles of the first pass
    // (a fade, a burst of noise), not the sender's.
    for (std::size_t s = 0; s < n;) {
        std::size_t end = s + 1;
        while (end < n && lpm[end] == lpm[s]) ++end;
        if (lpm[s] != 0 && lpm[s] != recordingLpm && end - s < kSpeedRunSegments) {
            std::fill(lpm.begin() + static_cast<std::ptrdiff_t>(s),
                      lpm.begin() + static_cast<std::ptrdiff_t>(end), recordingLpm);
        }
        s = end;
    }
    // Unknown segments keep the speed before them.
    int last = 0;
    for (std::size_t s = 0; s < n; ++s) {
        if (lpm[s] == 0) lpm[s] = last;
        last = lpm[s];
    }
    std::vector<int> shifted = lpm;
    for (std::size_t s = 1; s < n; ++s) {
        if (lpm[s] == 0 || lpm[s - 1] == 0 || lpm[s] == lpm[s - 1]) continue;
        // Faster settings have the higher LPM.
        if (lpm[s] > lpm[s - 1]) {
            shifted[s - 1] = lpm[s];
        } else if (s + 1 < n) {
            shifted[s] = lpm[s - 1];
        }
    }
    return shifted;
}

}  // namespace

PresetPlan PlanPresets(SampleSource& source, const PresetRequest& request,
                       const ReceiverControls& base, ProgressReporter* progress) {
    PresetPlan plan;
    ReceiverControls& controls = plan.controls;
    controls = base;
    const bool needThreshold = !request.threshold.has_value();
    const bool needBurst = !request.burstLpm.has_value();
    const bool needDot = needBurst || request.warmStart;
    const int passes = 1 + (needThreshold ? 1 : 0) + (needDot ? 1 : 0);
    const double span = 1.0 / passes;
    double at = 0.0;

    const SpectrumLook spectrum =
        LookAtSpectrum(source, controls.centreBin, request.centreBin, progress, at, span);
    controls.centreBin = spectrum.bin;
    at += span;
    for (std::size_t s = 0; s < spectrum.present.size(); ++s) {
        if (spectrum.present[s]) continue;
        const auto begin = static_cast<std::int64_t>(s) * kSegmentSamples;
        AddSpan(plan.absent, begin, begin + kSegmentSamples);
    }
    // AFC rests where only noise is there (a pause, before and after the signal), rather than
    // walking towards it.
    if (!request.afcGiven) controls.afcNeedsTone = true;
    controls.markLevelFraction = kMarkLevelFraction;
    // The squelch judges words by whether their marks were the signal's.
    controls.toneEvidence = true;
    std::array<EnvelopeLevels, kPresetBurstSpeeds.size()> levels{};
    double markSpread = 1.0;
    if (needThreshold) {
        const EnvelopeSurvey survey = SurveyEnvelope(
            source, controls.filterWidth, controls.centreBin, spectrum.present, progress, at, span);
        levels = survey.levels;
        markSpread = survey.markSpread;
        at += span;
    }
    auto thresholdFor = [&](int lpm, double floor) {
        std::size_t j = 1;  // a menu speed the presets never pick: the 200 LPM envelope
        for (std::size_t k = 0; k < kPresetBurstSpeeds.size(); ++k) {
            if (kPresetBurstSpeeds[k] == lpm) j = k;
        }
        return ThresholdFromLevels(levels[j].noise, levels[j].mark, floor);
    };

    const int firstLpm = request.burstLpm.value_or(200);
    controls.integrationLength = IntegrationLengthFor(firstLpm);
    if (needThreshold) controls.threshold = thresholdFor(firstLpm, kFirstPassNoiseFloor);
    if (!needDot) return plan;

    ReceiverControls probe = controls;
    probe.warmStartDot = 0;
    probe.wordSpaceTenths = 0;
    const KeyingLook keying = LookAtKeying(source, probe, spectrum.present, progress, at, span);
    const std::int64_t dot = keying.medianDot;
    int lpm = firstLpm;
    if (needBurst && dot > 0) {
        lpm = BurstSpeedForDot(dot);
        controls.integrationLength = IntegrationLengthFor(lpm);
    }
    if (needThreshold) controls.threshold = thresholdFor(lpm, NoiseFloorForDot(dot));
    if (request.warmStart && dot > 0) controls.warmStartDot = dot;
    for (std::size_t k = 0; k < kPresetBurstSpeeds.size(); ++k) {
        if (kPresetBurstSpeeds[k] == lpm) plan.levels = levels[k];
    }
    plan.markSpread = markSpread;
    {
        // The first pass measured the gaps with its own burst window and threshold; the decode
        // smears its marks by a different amount.
        auto smear = [&](int length, double threshold) {
            std::size_t j = 1;
            for (std::size_t k = 0; k < kPresetBurstSpeeds.size(); ++k) {
                if (IntegrationLengthFor(kPresetBurstSpeeds[k]) == length) j = k;
            }
            const double mark = levels[j].mark;
            return MarkSmear(BurstWindowFor(length), mark > 0.0 ? threshold / mark : 0.5);
        };
        const double change = needThreshold
                                  ? smear(controls.integrationLength, controls.threshold) -
                                        smear(probe.integrationLength, probe.threshold)
                                  : 0.0;
        controls.wordSpaceTenths = keying.gaps.WordSpaceTenths(static_cast<double>(dot), change);
        // Noise that reaches the first pass's threshold, or a fade, loses elements, and a lost
        // element lengthens a letter gap towards a word gap: only gaps measured clear of noise
        // and fades may move the word space below the decoder's 5 dots.
        const bool clear =
            levels[1].noise < kFirstPassNoiseFloor * levels[1].mark && markSpread <= kFadingSpread;
        if (controls.wordSpaceTenths > 0 && controls.wordSpaceTenths < 50 && !clear) {
            controls.wordSpaceTenths = 0;
        }
    }

    // Where the sender changes speed, the burst speed (and its threshold) changes with him.
    if (needBurst && dot > 0) {
        const std::vector<int> speeds = SegmentBurstSpeeds(keying, lpm);
        int current = lpm;
        for (std::size_t s = 0; s < speeds.size(); ++s) {
            if (speeds[s] == 0 || speeds[s] == current) continue;
            current = speeds[s];
            // The segment's own dot, or that of the next one that has one.
            std::int64_t localDot = 0;
            for (std::size_t t = s; t < speeds.size() && localDot == 0; ++t) {
                localDot = keying.segmentDots[t];
            }
            PresetChange change;
            change.sample = static_cast<std::int64_t>(s) * kSegmentSamples;
            change.integrationLength = IntegrationLengthFor(current);
            if (needThreshold) change.threshold = thresholdFor(current, NoiseFloorForDot(localDot));
            if (change.sample == 0) {
                controls.integrationLength = change.integrationLength;
                if (needThreshold) controls.threshold = change.threshold;
                if (request.warmStart && localDot > 0) controls.warmStartDot = localDot;
            } else {
                plan.changes.push_back(change);
            }
        }
    }

    // Noise keyed while the signal is away leaves the decoder with a noise speed; where the
    // signal comes (back) after two segments or more, the decoder starts afresh.
    if (request.warmStart) {
        for (std::size_t s = 2; s < spectrum.present.size(); ++s) {
            if (!spectrum.present[s] || spectrum.present[s - 1] || spectrum.present[s - 2])
                continue;
            // The signal may come late in the first segment, after more noise: the median of
            // the next few segments' dots is the sender's.
            std::vector<std::int64_t> next;
            for (std::size_t t = s; t < keying.segmentDots.size() && t < s + 4; ++t) {
                if (keying.segmentDots[t] > 0) next.push_back(keying.segmentDots[t]);
            }
            const std::int64_t localDot = MedianOf(next);
            PresetChange change;
            change.sample = static_cast<std::int64_t>(s) * kSegmentSamples;
            change.restartDot = localDot > 0 ? localDot : dot;
            const auto place =
                std::find_if(plan.changes.begin(), plan.changes.end(),
                             [&](const PresetChange& c) { return c.sample > change.sample; });
            plan.changes.insert(place, change);
        }
    }

    if (needThreshold && markSpread > kFadingSpread) {
        // Taking back marks under the sender's level changes which threshold reads a fading
        // signal best: the trials are made with and without it, and the best text wins (with
        // every mark counting on a tie).
        ReceiverControls all = controls;
        all.markLevelFraction = 0.0;
        FadingChoice choice = ChooseFadingThreshold(source, all);
        const FadingChoice checked = ChooseFadingThreshold(source, controls);
        if (checked.score > choice.score) {
            choice = checked;
        } else {
            controls.markLevelFraction = 0.0;
        }
        plan.fading = true;
        plan.thresholdScale = choice.scale;
        auto scaled = [&](double threshold) {
            return std::round(threshold * choice.scale * 10000.0) / 10000.0;
        };
        controls.autoThreshold = choice.automatic;
        if (choice.scale != 1.0) {
            controls.threshold = scaled(controls.threshold);
            for (PresetChange& change : plan.changes) {
                if (change.threshold > 0.0) change.threshold = scaled(change.threshold);
            }
        }
    }
    return plan;
}

void PresetControls(SampleSource& source, const PresetRequest& request, ReceiverControls& controls,
                    ProgressReporter* progress) {
    controls = PlanPresets(source, request, controls, progress).controls;
}

}  // namespace dahlo
