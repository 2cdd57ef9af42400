#pragma once
// One receiving channel: everything of one signal, from the main filter at its centre through the
// envelope, the threshold and the keying integrator to the timing decoder, with the AFC and
// GoToMax steering that keep the filter on it. A value type: copy it, reset it, run as many side
// by side on one input as there are signals. The spectrum it steers by belongs to the input.

#include "dsp/sample_rate.h"
#include <array>
#include <cstdint>

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"
#include "dsp/spectrum.h"
#include "morse/keying_detector.h"
#include "morse/morse_decoder.h"

namespace dahlo {

inline constexpr int kAfcSpeedMax = 99;
// The envelope kept for a look at a channel's levels: every 16th sample, the last 128 of them
// (one block's worth).
inline constexpr int kEnvelopeTraceStep = 16;
inline constexpr int kEnvelopeTraceSize = 128;

// What a channel tells the program around it. `sample` counts from the first sample of the
// input (0-based): the sample at which the decoder gave out the character or space, the first
// sample of the block whose spectrum moved the filter.
struct ChannelEvent {
    enum Kind : std::uint8_t { kCharacter, kWordSpace, kSpeed, kRetune };
    Kind kind = kCharacter;
    int channel = 0;
    std::int64_t sample = 0;
    CodeWord code = 0;   // kCharacter: the code word; otherwise 0
    int centreBin = 0;   // the centre at that moment; kRetune: the new centre
    double wpm = 0.0;    // kSpeed: the decoder's speed, right after the character or space
    int lpm = 0;         // kSpeed
    // kCharacter, with Channel::toneEvidence on: the character's marks, and how many of them
    // the tone stood out at the centre during. 0 marks: not measured.
    int marks = 0;
    int tonedMarks = 0;
};

class ChannelEventSink {
  public:
    virtual void OnChannelEvent(const ChannelEvent& event) = 0;

  protected:
    ~ChannelEventSink() = default;
};

// Told every change of a channel's debounced key (for a look at the keying, not for the window).
class KeyEdgeObserver {
  public:
    // `sample`: the sample at which the key went down (`down`) or up.
    virtual void OnKeyEdge(int channel, std::int64_t sample, bool down) = 0;

  protected:
    ~KeyEdgeObserver() = default;
};

class Channel {
  public:
    explicit Channel(int channelId = 0);

    int id = 0;
    // Tunables, kept current by the front end. Those the window's controls and the loop's own
    // variables set keep those names (CwFilterTreshold is the integration length, L); the rest
    // are this program's own, in lowerCamel.
    int CentreBin = kDefaultCentreBin;  // 30..450
    int FilterWidth = kNarrow;          // 0 Narrow, 1 Wide, 2 Very Wide
    double DetectorThreshold = 0.1;     // envelope level above which a sample is key-down
    int CwFilterTreshold = kDefaultIntegrationLength;  // integration length L in samples
    int AfcSpeed = 2;                                  // AFC half-width in bins, 0..99
    bool autoThreshold = false;
    bool afcOn = true;
    bool autoGoToMax = false;
    // The main filter twice over (a skimmer's channel beside a close neighbour): 60 Hz off the
    // centre is 22 dB down instead of 11, at the cost of a slower envelope.
    bool filterTwice = false;
    // Word space for senders whose gaps are not 3 and 7 dots (Farnsworth, long pauses between
    // letters): when above 0, a space of this many tenths of the dot length ends a word instead of
    // the decoder's 5 dot lengths (taken within 25..250). 0, as in the window: the decoder's own.
    int wordSpaceTenths = 0;
    // AFC only while the tone stands out at the centre (see ToneAtCentre), so that in a pause
    // it does not walk towards the noise. Off in the window.
    bool afcNeedsTone = false;
    // Marks at the sender's level only: a mark whose envelope peaks under this fraction of the
    // level of the marks that counted before it (the median of the last kMarkLevelMemory, once
    // kMarkLevelsNeeded are known and the last is at most kMarkLevelHoldSamples old), in blocks
    // where the tone does not stand out at the centre, is taken back as if the key had stayed up.
    // That is noise keyed in a pause where a receiver's AGC lifts it, which would otherwise
    // join the first letter after the pause or drag the decoder's speed towards its own; a
    // weaker station answering shows its tone and counts. 0, as in the window: every mark counts.
    double markLevelFraction = 0.0;
    // Evidence from the signal rather than from the letters: whether the tone stands out at the
    // centre (ToneInPassband at kToneEvidenceRatio) is looked at in every block, carried to each mark
    // that touches such a block, and told with each character (ChannelEvent::marks and
    // tonedMarks). Off in the window.
    bool toneEvidence = false;
    // Told every key change when set; none in the window.
    KeyEdgeObserver* keyEdges = nullptr;

    // Running state.
    double LongAverage = 0.0;  // slow average of the envelope
    MorseDecoder decoder;
    int lastRawKeyDown = 0;     // the threshold decision of the last sample run
    double lastEnvelope = 0.0;  // the envelope of the last sample run
    std::array<float, kEnvelopeTraceSize> envelopeTrace{};  // ring, newest at traceNext - 1
    int traceNext = 0;

    static constexpr int kMarkLevelMemory = 5;
    static constexpr int kMarkLevelsNeeded = 3;
    static constexpr std::int64_t kMarkLevelHoldSamples = 10LL * kSampleRateHz;
    // A receiver's filter shapes its noise, so that the centre may stand twice over the median
    // around it in noise alone; a weaker station's tone stands higher.
    static constexpr double kMarkToneRatio = 4.0;
    // For the evidence the tone is looked at in the block its marks are in, where a short mark
    // fills only part of the transform; beside a strong neighbour its skirts lift the median.
    // Noise alone passes 3 times the median in one bin of 500 or fewer.
    static constexpr double kToneEvidenceRatio = 3.0;
    // The narrow filter's own tone lies within its 20 Hz design band: two bins either side.
    static constexpr int kNarrowToneBins = 2;

    // The look at each mark for markLevelFraction.
    struct MarkCheck {
        MorseDecoder before;     // the decoder before the present mark went down
        std::int64_t down = 0;   // the sample it went down at
        double peak = 0.0;       // its envelope's highest so far
        bool tone = false;       // the tone stood out in a block it touched
        bool blockTone = false;  // ... in the present block
        std::array<double, kMarkLevelMemory> levels{};  // peaks of the last marks that counted
        int levelCount = 0;
        int levelNext = 0;
        std::int64_t lastCounted = 0;  // where the last mark that counted ended
    };

    // The look at the tone for toneEvidence.
    struct ToneLook {
        bool block = false;         // the tone stands out in the present block
        // ... in the block before: the filter and the integrator key a mark up to about a tenth
        // of a second after its tone, so a lone dot late in one block is keyed in the next
        bool blockBefore = false;
        bool mark = false;          // ... in a block the present mark touched
        int marks = 0;              // marks since the last character
        int tonedMarks = 0;         // of them, those with the tone
        std::int64_t lastTone = -1; // first sample of the last block with the tone; -1: none yet
    };

    // The running state, for a look from outside (tests, the scope, the presets).
    const MainFilter& Filter() const { return mainFilter_; }
    const BurstFilter& Burst() const { return burstFilter_; }
    const KeyingDetector& Keying() const { return keying_; }
    const MarkCheck& MarkLevels() const { return markCheck_; }
    const ToneLook& Tone() const { return tone_; }
    // A skimmer's channel catching up on audio from before it opened has no spectrum to look
    // at: the tone counts as seen from `sample` until EndAssumedTone.
    void AssumeTone(std::int64_t sample) {
        tone_.block = true;
        tone_.lastTone = sample;
    }
    void EndAssumedTone() { tone_.block = false; }

    // Back to a cold start on the same settings: filter, envelope, average, integrator and
    // decoder as at the beginning.
    void Reset();

    // Main filter: the row of CentreBin in the table of FilterWidth.
    void SelectFilterCoefficients();
    // Tunes to `bin`, brought into 30..450 first, and retunes the filter.
    void SetCentreBin(int bin);
    // 0 Narrow, 1 Wide, any other Very Wide; retunes.
    void SetFilterWidth(int mode);
    // Integration length and burst window; a length below 1 is replaced by 175.
    void ApplyIntegrationLength(int length);
    // A burst-filter menu speed in LPM.
    void SetBurstSpeed(int lpm);

    // Tunes to the strongest peak-hold bin and clears the silence count.
    void GoToMax(const SpectrumState& spectrum);
    // One AFC step within +-AfcSpeed bins of the centre, on the smoothed spectrum.
    void RunAfc(const SpectrumState& spectrum);
    // The steering at the first sample of a block, after that sample was run and before the
    // spectrum is smoothed: AFC while the raw decision is key-down (and, with afcNeedsTone, the
    // tone stands out), GoToMax after a silence of more than 8 dots. A move is told to `sink` as
    // kRetune at `sample`.
    void SteerAtBlockStart(const SpectrumState& spectrum, std::int64_t sample,
                           ChannelEventSink& sink);

    // With toneEvidence, the look at the tone for the block beginning at `sample`: run after the
    // spectrum took in that block, so that it tells of the samples the block's marks are in.
    void LookAtTone(const SpectrumState& spectrum, std::int64_t sample);

    // Runs `count` samples (full scale +-32768) through the chain; `firstSample` is the index of
    // samples[0] in the input. Characters, word spaces and speeds go to `sink`.
    void Process(const std::int16_t* samples, int count, std::int64_t firstSample,
                 ChannelEventSink& sink);

    // Whether the smoothed spectrum within a bin of the centre stands at least `ratio` times as
    // high as the median of the 41 bins around it: a tone is there, not only noise.
    bool ToneAtCentre(const SpectrumState& spectrum, double ratio = 2.0) const;

    // Whether a tone stands out within the filter's reach: some bin stands at least `ratio`
    // times as high as the median around the centre. With the narrow filter the bin lies within
    // kNarrowToneBins of the centre (its own tone, not a neighbour's through the skirt); with the
    // wider ones anywhere in the local median's span, weighed by the filter's gain there
    // relative to the centre's (a bin within one of the centre counts in full). What keys the
    // channel is then a tone, not noise.
    bool ToneInPassband(const SpectrumState& spectrum, double ratio) const;

  private:
    // The decoder's result with its word space moved to wordSpaceTenths.
    DecodeResult OwnWordSpace(DecodeResult decoded) const;
    // Tells `sink` of a decoder result at `sample` (and of the speed when it is due).
    void Tell(DecodeResult decoded, std::int64_t sample, ChannelEventSink& sink);
    // The key went up at `sample` after a mark: false when the mark is not at the sender's
    // level (see markLevelFraction) and was taken back, the decoder having run again from its
    // start with the key up.
    bool KeepMark(std::int64_t sample, ChannelEventSink& sink);

    MainFilter mainFilter_;
    MainFilter secondFilter_;  // runs only with filterTwice
    BurstFilter burstFilter_;
    KeyingDetector keying_;
    MarkCheck markCheck_;
    ToneLook tone_;
    int traceCountdown_ = kEnvelopeTraceStep;
};

}  // namespace dahlo
