#pragma once
// Presetting the controls from a look at a recording, for a file decoded with no operator at hand:
// the pitch from the averaged spectrum, and where along the recording that pitch stands out (the
// signal is there); the threshold from the envelope's level distribution there; the burst-filter
// speed, the decoder's start and the word space from a first decoding pass, and where the speed
// changes, changes of them along the recording. Every pass streams the input again; nothing
// holds the samples.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "decode/decode_session.h"
#include "decode/envelope_survey.h"
#include "decode/keying_look.h"
#include "decode/morse_squelch.h"
#include "decode/preset_plan.h"
#include "decode/spectrum_look.h"
#include "recording/sample_source.h"

namespace dahlo {

// Samples a trial decode looks at: the first minute, which keeps three or four trials within a
// tenth of the time of the other looks at a long recording.
inline constexpr std::int64_t kTrialSamples = 60LL * kSampleRateHz;

// Decodes the first kTrialSamples of `source` with `controls` and returns MorseTextScore of the
// text.
double TrialScore(SampleSource& source, const ReceiverControls& controls);

// What the caller fixed; the presets fill in the rest.
struct PresetRequest {
    std::optional<int> centreBin;
    std::optional<int> filterWidth;
    std::optional<double> threshold;  // a level; auto threshold counts as given
    std::optional<int> burstLpm;
    bool warmStart = true;
    bool afcGiven = false;  // AFC named by an option: it is never held
};

// The plan for decoding `source` with `controls` (already holding the window defaults and every
// option).
PresetPlan PlanPresets(SampleSource& source, const PresetRequest& request,
                       const ReceiverControls& controls, ProgressReporter* progress = nullptr);

// The plan's controls from the first sample.
void PresetControls(SampleSource& source, const PresetRequest& request, ReceiverControls& controls,
                    ProgressReporter* progress = nullptr);

}  // namespace dahlo
