#pragma once
// One hypothesis of a sender at a given speed: the quarter-dot slot detector, the Viterbi search
// over Morse timing, the level trackers and the reading of committed runs into characters.
// SoftDecoder runs several during acquisition (one per trial speed) and one afterwards.

#include <array>
#include <cstdint>
#include <vector>

#include "soft/code_tree.h"
#include "soft/soft_decoder.h"

namespace dahlo {

class SoftTrack {
  public:
    // Keying kinds of the timing model; marks first.
    enum Kind : std::uint8_t { kDot, kDash, kElementGap, kLetterGap, kWordGap, kKindCount };

    // Slots per dot: enough resolution for hand keying and the edges, few enough states.
    static constexpr int kSlotsPerDot = 4;
    // Longest run of each kind, in slots; the last word-gap state is a pause of any length.
    static constexpr std::array<int, kKindCount> kMaxSlots = {9, 22, 10, 24, 56};
    static constexpr int kStateCount = 9 + 22 + 10 + 24 + 56;
    static constexpr int kLongestMarkSlots = kMaxSlots[kDash];
    // Decisions are committed this many slots behind the newest (40 dots: past any character).
    static constexpr std::int64_t kCommitLagSlots = 160;

    // How a mark run's likelihood is read: as the sum of its half-dot windows (cheap: enough to
    // tell speeds apart), or also as one matched filter over its whole sum (the more sensitive).
    enum class MarkScoring : std::uint8_t { kHalfDotWindows, kWholeRuns };

    // `code_tree`: the search keeps only keyings whose characters are in the English table
    // (each mark run knows the code of its character so far); without it, any sequence of
    // marks is a keying (cheaper: enough to tell speeds apart).
    explicit SoftTrack(double pitch_hz, bool code_tree = false);

    // Starts afresh at sample index `first_sample` with a dot of `dot_samples`, a noise power of
    // `noise` per sample (after mixing) and a mark power of `signal_per_sample` * slot length.
    void Start(std::int64_t first_sample, double dot_samples, double noise,
               double signal_per_sample, MarkScoring scoring = MarkScoring::kWholeRuns);

    // Feeds samples; characters go to `out` when it is not null (a trial track keeps none).
    void Process(const std::int16_t* samples, std::size_t count, std::vector<SoftChar>* out,
                 double min_confidence);
    // Commits every slot decoded so far and ends the character in progress.
    void Flush(std::vector<SoftChar>* out, double min_confidence);

    // Log-likelihood (nats) of the best keying so far against noise alone, timing priors
    // included: how well this speed explains the input.
    double Score() const;
    double DotSamples() const { return dot_; }
    double Noise() const { return noise_; }
    double SignalPerSample() const { return signal_; }
    // SNR of the marks in 2500 Hz, in dB.
    double SnrDb() const;
    // Running mean of the confidences of the characters read.
    double CharacterConfidence() const { return charConfidence_; }
    // Mean log-probability of the committed runs' lengths under the timing model (marks and
    // the gaps inside words and between letters): how well this speed fits the keying.
    double TimingFit() const { return runCount_ > 0 ? runLogSum_ / runCount_ : -1e9; }
    int RunCount() const { return runCount_; }
    // The spread (log) of the timing model's run lengths: as Start sets it for trial speeds
    // (loose, gaps looser still), or as given here for marks and gaps alike (clamped to the
    // bounds a decoding track follows).
    void SetTimingSpread(double spread);
    // Takes the keying spread `from` measured on the runs it read (a track that read the same
    // input at the same speed), starts from it and follows the spread of its own runs from
    // there. A track started plainly (a trial) keeps its spread and only measures.
    void AdoptTimingSpread(const SoftTrack& from);
    // Input before this sample index is decided: no later sample changes what is read of it.
    std::int64_t DecidedUntil() const {
        return nextSample_ - (kCommitLagSlots + 1) * slotLength_;
    }
    // Whether the decided input ends inside a character (its next gap may still continue it).
    bool InCharacter() const { return inMark_ || code_ != 1; }

  private:
    struct Predecessor {
        std::uint8_t kind = kWordGap;
        std::uint8_t node = 0;
        std::int64_t runStart = -1;
    };
    // The run before a run of a node's marks or element gaps: its kind, code node and length.
    struct Link {
        std::uint8_t kind = kWordGap;
        std::uint8_t node = 0;
        std::uint8_t length = 0;
    };
    // The best way a run ended with the previous slot: its score, kind, node and length.
    struct RunEnd {
        double score;
        std::uint8_t kind;
        std::uint8_t node;
        std::uint8_t length;
    };
    struct Slot {
        std::int64_t firstSample = 0;
        double energy = 0.0;  // |sum of mixed samples|^2 / length
        double re = 0.0;      // the sum of mixed samples
        double im = 0.0;
        double turnedRe = 0.0;  // the sum turned by the carrier phase predicted for the slot
        double turnedIm = 0.0;
        int length = 0;
        double llr = 0.0;     // log p(energy | mark) / p(energy | space)
        Predecessor beforeMark;  // the gap a first mark of a character entered here follows
        Predecessor beforeGap;   // the mark a gap between characters entered here follows
    };
    struct Run {
        Kind kind;
        std::int64_t start;
        int node = 0;  // marks: the code before the mark; element gaps: the code after it
    };

    void BuildTimingModel();
    void EndSlot();
    // log p(sum | mark) / p(sum | space) for the sum of `length` mixed samples, turned by the
    // carrier phase predicted for them.
    double TurnedMarkLlr(double ur, double ui, int length) const;
    // Per mark run length d (slots): how much a run ending now adds to the run's likelihood.
    void RunLlrSteps(std::int64_t t);
    // Learns from the settled mark over slots [first, end) how often a run's whole sum explains
    // a mark better than its half-dot windows; returns the mark's log-likelihood ratio under
    // both mixed.
    double LearnWholeRunShare(std::int64_t first, std::int64_t end);
    void SetCoherentShare(double share);
    void LearnTimingSpread(int kind, int slots);
    void TrackPhase(const Slot& slot, const Slot& previous, double length);
    void ViterbiStep(std::int64_t t);
    Run RunAt(std::int64_t target) const;  // the best path's run covering slot `target`
    void TrackLevels(std::int64_t t);
    void TrackSpeed(std::int64_t t);
    void Commit(std::int64_t c, Kind kind, std::vector<SoftChar>* out, double min_confidence);
    void EndCharacter(std::vector<SoftChar>* out, double min_confidence);
    void AdaptSpeed(double observed_dot);
    Slot& SlotAt(std::int64_t t) { return ring_[static_cast<std::size_t>(t) % ring_.size()]; }
    const Slot& SlotAt(std::int64_t t) const {
        return ring_[static_cast<std::size_t>(t) % ring_.size()];
    }
    static bool IsMark(int kind) { return kind <= kDash; }

    // Oscillator and slot integrator.
    double cosStep_;
    double sinStep_;
    double cos_ = 1.0;
    double sin_ = 0.0;
    double accRe_ = 0.0;
    double accIm_ = 0.0;
    double prevRe_ = 0.0;  // the slot before, for the half-dot window
    double prevIm_ = 0.0;
    int prevLength_ = 0;
    int slotLength_ = 1;
    int slotFill_ = 0;
    std::int64_t nextSample_ = 0;
    std::int64_t slotFirstSample_ = 0;

    // Speed and levels; the settled decisions they learn from.
    int tentativeKind_ = kWordGap;
    std::int64_t tentativeFirstSample_ = 0;
    double dot_ = 500.0;
    double noise_ = 1.0;
    double signal_ = 1.0;
    // Carrier phase of the marks against the local oscillator: phase at a sample, its rate, how
    // many mark slots it has learnt from, and the share of marks it explains better than an
    // unknown phase (0..1).
    double phase_ = 0.0;
    double phaseSample_ = 0.0;
    double phaseRate_ = 0.0;  // rad per sample: the pitch's offset
    int phaseSlots_ = 0;
    double turnRe_ = 0.0;  // average of a mark slot times its neighbour's conjugate, per noise
    double turnIm_ = 0.0;
    int turnPairs_ = 0;
    double coherentShare_ = 0.0;
    double logCoherentShare_ = 0.0;  // its log, less the phase spread's normalization
    double logIncoherentShare_ = 0.0;

    // Timing model: per state, log P(run goes on) and log P(run ends here).
    std::array<int, kKindCount> offset_{};
    std::array<double, kStateCount> logGoOn_{};
    std::array<double, kStateCount> logEnd_{};
    std::array<double, kStateCount> logLength_{};  // log P(run lasts exactly d slots)
    std::array<double, kKindCount> logEnter_{};  // given the previous group ended
    double letterGapDots_ = 3.0;  // the sender's gap between letters, in dots
    double timingSpread_ = 0.25;     // of the model now: marks
    double gapSpread_ = 0.3;         // ... and gaps
    double spreadMeanSquare_ = 0.0;  // measured: mean square log deviation of the runs read
    int spreadRuns_ = 0;
    bool followSpread_ = false;

    // Viterbi. The likelihood of a mark run is that of its whole sum (one matched filter over
    // the run); runLlr_[d] is the run of d slots ending at the newest slot, runStep_[d] what
    // it adds to the run of d - 1 slots before.
    std::array<double, kLongestMarkSlots + 1> runLlr_{};
    std::array<double, kLongestMarkSlots + 1> runStep_{};
    double wholeRunShare_ = 0.5;
    MarkScoring scoring_ = MarkScoring::kWholeRuns;
    // States of marks and element gaps per code node (kNodeStates each, laid out as the first
    // three kinds of score_), links to the runs before them per ring slot and node; the gaps
    // between characters and words need no node (score_'s other states).
    static constexpr int kNodeStates = 9 + 22 + 10;
    std::vector<CodeTreeNode> tree_;
    std::vector<double> nodeScore_;
    std::vector<Link> markLinks_;  // [slot][node]: the element gap a later mark follows
    std::vector<Link> gapLinks_;   // [slot][node]: the mark an element gap follows
    std::vector<RunEnd> markEnd_;  // per node reached: the best mark ending with its code
    std::vector<RunEnd> gapEnd_;   // per node: the best element gap ending
    std::vector<std::uint8_t> nodeLive_;  // per node: any state near enough the best
    std::array<double, kNodeStates> markBest_{};  // best over nodes per mark state (the beam)
    std::array<double, kStateCount> score_{};  // of those states only (from kLetterGap on)
    double scoreOffset_ = 0.0;
    std::int64_t pauseRunStart_ = -1;  // run start of the open-ended last word-gap state
    int bestState_ = 0;  // in score_, or kStateCount + node * kNodeStates + its state there
    std::int64_t slot_ = 0;  // slots completed
    std::vector<Slot> ring_;

    // Reading committed slots.
    std::int64_t committed_ = 0;  // next slot to commit
    int lastKind_ = kWordGap;
    bool inMark_ = false;
    int markKind_ = kDot;
    double markLlr_ = 0.0;
    std::int64_t markFirstSample_ = 0;
    std::int64_t gapFirstSample_ = 0;
    bool gapIsElementGap_ = false;
    std::uint32_t code_ = 1;
    bool codeOverflow_ = false;
    std::int64_t charFirstSample_ = 0;
    double charMinLlr_ = 0.0;
    bool wordSpacePending_ = false;
    bool anyCharacter_ = false;
    double charConfidence_ = 0.0;
    std::int64_t runFirstSlot_ = 0;
    double runLogSum_ = 0.0;
    int runCount_ = 0;
};

}  // namespace dahlo
