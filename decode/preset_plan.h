#pragma once
// What the look at a recording decided for its decode: the controls from the first sample, the
// changes along the recording where the signal changes (speed, level, pitch, or it comes back
// after an absence), and the stretches where it is not there. A decode follows it the way an
// operator would work the window's controls: between two samples, in a gap of the keying.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "receiver/block_pump.h"
#include "receiver/envelope_levels.h"
#include "receiver/receiver_controls.h"
#include "decode/decode_session.h"
#include "recording/sample_source.h"

namespace dahlo {

// A change made at the first key-up at or after `sample` (fields at 0 stay as they are).
struct PresetChange {
    std::int64_t sample = 0;
    int integrationLength = 0;
    double threshold = 0.0;
    int centreBin = 0;
    int autoThreshold = -1;       // 0 off, 1 on
    int wordSpaceTenths = -1;     // 0: the decoder's own
    std::int64_t restartDot = 0;  // the decoder starts afresh at this dot length
};

struct PresetPlan {
    ReceiverControls controls;          // from the first sample
    bool fading = false;                // the threshold was chosen by trial decodes
    double thresholdScale = 1.0;        // the trials raised the threshold from the levels
    std::vector<PresetChange> changes;  // in sample order
    std::vector<SampleSpan> absent;     // in order, disjoint: the signal is not there
    // The envelope's levels at the chosen burst speed where the signal is (0: not surveyed), and
    // how much the mark moves along the recording (EnvelopeSurvey::markSpread).
    EnvelopeLevels levels;
    double markSpread = 1.0;
};

// Samples a change may wait for a key-up before it is made anyway (two seconds).
inline constexpr std::int64_t kChangeWaitLimit = 2 * kSampleRateHz;

// Makes a plan's changes on a block pump's main channel as the decode reaches them. Call Tick()
// between samples (the host's message pump: every 128th sample).
class PlanFollower {
  public:
    PlanFollower(const PresetPlan& plan, BlockPump& pump);
    void Tick();
    // The changes not made yet.
    std::size_t Pending() const { return plan_.changes.size() - nextChange_; }

  private:
    const PresetPlan& plan_;
    BlockPump& pump_;
    std::size_t nextChange_ = 0;
};

// The controls a decode starts with, as the options that give them, and in brackets `how` they
// were found and what no option gives (the fading trial, the decoder's start, the word space,
// the changes along the input).
std::string DescribeControls(const PresetPlan& plan, const char* how);

// DecodeSource with a plan: its controls from the first sample, its changes as the decode
// reaches them, its absent stretches told to the host. Returns the number of samples read.
std::int64_t DecodePlanned(SampleSource& source, const PresetPlan& plan, DecodeHost& host,
                           const std::atomic<bool>* stop = nullptr,
                           ProgressReporter* progress = nullptr, double progressStart = 0.0,
                           double progressSpan = 1.0);

}  // namespace dahlo
