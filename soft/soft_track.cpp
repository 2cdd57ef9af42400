#include "soft/soft_track.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "morse/charset.h"

namespace dahlo {

namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

// Timing model, lengths in dots, each run's length log-normal around its mean. The spread is the
// sender's own: a keyer's elements are exact (the slot quantization stays), a hand's vary by
// 10..20 %. A model as tight as the keying is what lets the search tell a weak mark from noise
// (a keyer at -10 dB with 8 dB fading, 72 recordings: CER 0.32 at a spread of 0.25, 0.23 at
// 0.12), and one held that tight misreads a hand. Trial speeds compare their fits at one loose
// spread; the decoder then measures the spread of the runs it read, beyond what the slot
// quantization explains (half a slot either way), and follows it within bounds: the lower
// bound leaves room for the edges noise moves.
constexpr double kTrialTimingSpread = 0.25;
constexpr double kTrialGapSpread = 0.3;  // the loose model's gaps: hands vary them more
constexpr double kMinTimingSpread = 0.12;
constexpr double kMaxTimingSpread = 0.3;
constexpr double kEdgeQuantizationSlots = 0.5;
constexpr double kTimingSpreadRate = 0.05;  // about twenty runs of memory
constexpr int kTimingSpreadEvery = 4;       // runs between updates of the model
constexpr double kDashDots = 3.0;
// What follows a mark: most marks are inside a character; letters outnumber words ~4:1.
constexpr double kAfterMarkElementGap = 0.6;
constexpr double kAfterMarkLetterGap = 0.3;
constexpr double kAfterMarkWordGap = 0.1;
constexpr double kAfterGapDot = 0.55;  // dots are a little more common than dashes in text
// Word gaps up to this part of their mass end inside the modelled lengths; the rest become a
// pause of any length, which ends with this chance per slot (a mean of five dots).
constexpr double kWordGapModelledMass = 0.7;
constexpr double kPauseEndPerSlot = 1.0 / (5.0 * SoftTrack::kSlotsPerDot);

// More than the commit lag (SoftTrack::kCommitLagSlots), a power of two for the modulo.
constexpr std::size_t kRingSlots = 256;
// Levels follow the path a few slots back, where it has settled, without waiting for commits.
constexpr std::int64_t kLevelLagSlots = 6;
constexpr std::int64_t kSpeedLagSlots = 48;
// Noise floor time constant: steady noise, slow drift. Mark level: fast enough for slow QSB
// (8 dB over a few seconds: up to 4 dB/s), counted in mark time only.
constexpr double kNoiseTimeConstantS = 3.0;
constexpr double kSignalTimeConstantS = 0.12;
// Gap slots count in the noise floor clipped at this many times the floor (a missed mark or a
// burst moves it little; noise alone exceeds it in 2 % of slots).
constexpr double kNoiseClip = 4.0;
// Mark power relative to the tracked level, and how likely each is: the tracker may lag a fade
// by a few dB either way.
constexpr std::array<double, 3> kLevelSpread = {0.5, 1.0, 1.6};
constexpr std::array<double, 3> kLevelWeight = {0.2, 0.6, 0.2};
const std::array<double, 3> kLogLevelWeight = {std::log(kLevelWeight[0]), std::log(kLevelWeight[1]),
                                               std::log(kLevelWeight[2])};
// Carrier phase from settled mark slots, a second-order loop: the phase moves by this share of
// each slot's error (about ten slots of memory) and the rate by this share (critical damping);
// the first slots are averaged plainly. The phase known to about 0.3 rad (a Tikhonov spread of
// this concentration), the share of the coherent model learnt at this rate per mark slot.
constexpr double kPhaseGain = 0.1;
constexpr double kPhaseRateGain = kPhaseGain * kPhaseGain / 4.0;
constexpr double kPhaseConcentration = 10.0;
constexpr double kCoherentShareRate = 0.02;
// The turn between neighbouring mark slots is averaged over about this many pairs (a few
// seconds of marks: precise to about 0.05 rad per slot at -12 dB) once this many are in; the
// loop's rate is overruled beyond this mismatch per slot (about 2 Hz at 20 WPM).
constexpr double kTurnAverageRate = 1.0 / 300.0;
constexpr int kMinTurnPairs = 20;
constexpr double kMaxTurnMismatch = 0.15;
constexpr double kInitialCoherentShare = 0.3;
constexpr double kMinCoherentShare = 0.02;
constexpr double kMaxCoherentShare = 0.95;
// A dot's energy never below this many times the noise (a dot at 3 dB Eb/N0: weaker than any
// signal worth decoding; a lower floor could trap the tracker where no slot looks like a
// mark), and the noise never below this share of the mark power (clean signals: LLRs stay
// finite).
constexpr double kMinDotSignalToNoise = 2.0;
constexpr double kMaxSignalToNoise = 1e4;
constexpr double kMinNoise = 1e-3;  // far below the quantization noise of 16-bit samples
constexpr double kWindowWeight = 0.5;  // each slot is in two half-dot windows

// Speed follows each element with this weight (about a dozen elements to settle); a single element
// moves it at most by this ratio either way.
constexpr double kSpeedWeight = 0.08;
constexpr double kMaxSpeedStepRatio = 2.0;
constexpr double kMinDotSamples = 13230.0 / 60.0;  // 60 WPM
constexpr double kMaxDotSamples = 13230.0 / 5.0;   // 5 WPM
// Word spaces: a gap between characters longer than this many of the sender's letter gaps
// (between 3 and 7 dots, nearer 3 for hand keying's long letter gaps). The letter gap is the
// 40 % quantile of the gaps between characters (about one in five is a word space), followed
// in steps of a few percent, within bounds from fast keyers to wide Farnsworth spacing.
constexpr double kWordSpaceRatio = 1.55;
constexpr double kLetterGapQuantile = 0.4;
constexpr double kGapStep = 0.15;
constexpr double kMinLetterGapDots = 2.5;
constexpr double kMaxLetterGapDots = 15.0;

// Character confidence: logistic in the weakest mark's log-likelihood ratio. A quarter-dot slot
// of noise alone gives up to ~2 nats now and then; a real dot at 12 dB Eb/N0 gives ~15. Read
// with whole runs, the midpoint sits lower: at 7 nats the default path's word squelch dropped
// right words in fades (QSB at -6..-10 dB: 0.01..0.02 more CER); at 5 the noise read after a
// signal (noise tails, pauses between idents) still stays out.
constexpr double kConfidenceMidLlr = 7.0;
constexpr double kWholeRunConfidenceMidLlr = 5.0;
constexpr double kConfidenceScaleLlr = 2.0;
constexpr double kCharConfidenceWeight = 0.2;

double LogBesselI0(double x) {
    // Beyond 30 the asymptotic series is exact to double precision for our use.
    if (x < 30.0) return std::log(std::cyl_bessel_i(0.0, x));
    return x - 0.5 * std::log(2.0 * std::numbers::pi * x) + std::log1p(1.0 / (8.0 * x));
}

// A run's sum adds as one matched filter only while the carrier phase is known across it (a
// pitch offset the loop has not learnt turns a dash's sum away); the sum of its half-dot window
// likelihoods stands beside it. The share of the whole-run model starts even and is learnt from
// settled marks at this rate, within bounds (neither model is ever ruled out).
constexpr double kInitialWholeRunShare = 0.5;
constexpr double kWholeRunShareRate = 0.05;
constexpr double kMinWholeRunShare = 0.05;
constexpr double kMaxWholeRunShare = 0.95;
// A mark run whose path is this far (nats) behind the best is not read on (the whole-run
// likelihoods are the decoder's main cost; no path that far behind came back in the sweeps).
constexpr double kRunBeam = 40.0;

// log I0(x) from the polynomial fits of Abramowitz and Stegun 9.8.1 and 9.8.2 (relative error
// below 2e-7): the run likelihoods need a few hundred per slot.
double FastLogBesselI0(double x) {
    if (x < 3.75) {
        const double y = (x / 3.75) * (x / 3.75);
        return std::log(1.0 + y * (3.5156229 + y * (3.0899424 + y * (1.2067492 + y * (0.2659732 +
                                   y * (0.0360768 + y * 0.0045813))))));
    }
    const double y = 3.75 / x;
    const double p = 0.39894228 + y * (0.01328592 + y * (0.00225319 + y * (-0.00157565 +
                     y * (0.00916281 + y * (-0.02057706 + y * (0.02635537 + y * (-0.01647633 +
                     y * 0.00392377)))))));
    return x + 0.5 * std::log(p * p / x);
}

// Log-normal weight of a run of `slots` slots around `mean_slots`, with the slot quantization
// (half a slot either way) added to the spread.
double LogDurationWeight(int slots, double mean_slots, double spread_log) {
    const double quantization = 0.6 / mean_slots;
    const double s2 = spread_log * spread_log + quantization * quantization;
    const double l = std::log(slots / mean_slots);
    return -l * l / (2.0 * s2) - std::log(static_cast<double>(slots));
}

}  // namespace

SoftTrack::SoftTrack(double pitch_hz, bool code_tree) : ring_(kRingSlots) {
    tree_ = code_tree ? BuildCodeTree(EnglishCharsetTable()) : OpenCodeTree();
    nodeScore_.resize(tree_.size() * kNodeStates);
    markLinks_.resize(kRingSlots * tree_.size());
    gapLinks_.resize(kRingSlots * tree_.size());
    markEnd_.resize(tree_.size());
    gapEnd_.resize(tree_.size());
    nodeLive_.resize(tree_.size());

    const double w = 2.0 * std::numbers::pi * pitch_hz / kSoftSampleRateHz;
    cosStep_ = std::cos(w);
    sinStep_ = std::sin(w);
    int o = 0;
    for (int k = 0; k < kKindCount; ++k) {
        offset_[k] = o;
        o += kMaxSlots[k];
    }
    logEnter_[kDot] = std::log(kAfterGapDot);
    logEnter_[kDash] = std::log(1.0 - kAfterGapDot);
    logEnter_[kElementGap] = std::log(kAfterMarkElementGap);
    logEnter_[kLetterGap] = std::log(kAfterMarkLetterGap);
    logEnter_[kWordGap] = std::log(kAfterMarkWordGap);
    Start(0, 1000.0, 1.0, 1.0);
}

void SoftTrack::BuildTimingModel() {
    const double mean[kKindCount] = {1.0, kDashDots, 1.0, 3.0, 7.0};
    for (int k = 0; k < kKindCount; ++k) {
        const double spread = IsMark(k) ? timingSpread_ : gapSpread_;
        const double meanSlots = mean[k] * kSlotsPerDot;
        const int n = kMaxSlots[k];
        double weights[64];
        double total = 0.0;
        for (int d = 1; d <= n; ++d) {
            weights[d - 1] = std::exp(LogDurationWeight(d, meanSlots, spread));
            total += weights[d - 1];
        }
        const bool open = k == kWordGap;
        const double mass = open ? kWordGapModelledMass : 1.0;
        // Hazard: the chance of ending at d given the run lasted d slots.
        double remaining = 1.0;
        for (int d = 1; d <= n; ++d) {
            const int s = offset_[k] + d - 1;
            logLength_[s] = std::log(mass * weights[d - 1] / total);
            if (open && d == n) {
                logEnd_[s] = std::log(kPauseEndPerSlot);
                logGoOn_[s] = std::log1p(-kPauseEndPerSlot);
                break;
            }
            const double p = mass * weights[d - 1] / total;
            const double hazard = (d == n || remaining <= p) ? 1.0 : p / remaining;
            remaining -= p;
            logEnd_[s] = std::log(hazard);
            logGoOn_[s] = hazard >= 1.0 ? kMinusInfinity : std::log1p(-hazard);
        }
    }
}

void SoftTrack::Start(std::int64_t first_sample, double dot_samples, double noise,
                      double signal_per_sample, MarkScoring scoring) {
    scoring_ = scoring;
    cos_ = 1.0;
    sin_ = 0.0;
    accRe_ = 0.0;
    accIm_ = 0.0;
    prevRe_ = 0.0;
    prevIm_ = 0.0;
    prevLength_ = 0;
    dot_ = std::clamp(dot_samples, kMinDotSamples, kMaxDotSamples);
    slotLength_ = static_cast<int>(std::lround(dot_ / kSlotsPerDot));
    slotFill_ = 0;
    nextSample_ = first_sample;
    slotFirstSample_ = first_sample;
    noise_ = std::max(noise, kMinNoise);
    signal_ = std::max(signal_per_sample, kMinDotSignalToNoise * noise_ / dot_);
    letterGapDots_ = 3.0;
    timingSpread_ = kTrialTimingSpread;
    gapSpread_ = kTrialGapSpread;
    spreadMeanSquare_ = 0.0;
    spreadRuns_ = 0;
    followSpread_ = false;
    phase_ = 0.0;
    phaseSample_ = static_cast<double>(first_sample);
    phaseRate_ = 0.0;
    phaseSlots_ = 0;
    turnRe_ = 0.0;
    turnIm_ = 0.0;
    turnPairs_ = 0;
    SetCoherentShare(kInitialCoherentShare);
    tentativeKind_ = kWordGap;
    tentativeFirstSample_ = first_sample;
    BuildTimingModel();
    score_.fill(kMinusInfinity);
    score_[kStateCount - 1] = 0.0;  // a pause before the first mark
    std::fill(nodeScore_.begin(), nodeScore_.end(), kMinusInfinity);
    std::fill(nodeLive_.begin(), nodeLive_.end(), std::uint8_t{0});
    std::fill(markLinks_.begin(), markLinks_.end(), Link{});
    std::fill(gapLinks_.begin(), gapLinks_.end(), Link{});
    markBest_.fill(kMinusInfinity);
    scoreOffset_ = 0.0;
    runLlr_.fill(0.0);
    runStep_.fill(0.0);
    pauseRunStart_ = -1;
    bestState_ = kStateCount - 1;
    slot_ = 0;
    std::fill(ring_.begin(), ring_.end(), Slot{});
    committed_ = 0;
    lastKind_ = kWordGap;
    inMark_ = false;
    markKind_ = kDot;
    markLlr_ = 0.0;
    markFirstSample_ = 0;
    gapFirstSample_ = first_sample;
    gapIsElementGap_ = false;
    code_ = 1;
    codeOverflow_ = false;
    charFirstSample_ = 0;
    charMinLlr_ = 0.0;
    wordSpacePending_ = false;
    anyCharacter_ = false;
    charConfidence_ = 0.0;
    runFirstSlot_ = 0;
    wholeRunShare_ = kInitialWholeRunShare;
    runLogSum_ = 0.0;
    runCount_ = 0;
}

void SoftTrack::Process(const std::int16_t* samples, std::size_t count,
                        std::vector<SoftChar>* out, double min_confidence) {
    for (std::size_t i = 0; i < count; ++i) {
        const double x = samples[i];
        accRe_ += x * cos_;
        accIm_ -= x * sin_;
        const double c = cos_ * cosStep_ - sin_ * sinStep_;
        sin_ = sin_ * cosStep_ + cos_ * sinStep_;
        cos_ = c;
        ++nextSample_;
        if (++slotFill_ < slotLength_) continue;
        EndSlot();
        // Renormalize once a slot: the phasor's length drifts by rounding only.
        const double g = 1.5 - 0.5 * (cos_ * cos_ + sin_ * sin_);
        cos_ *= g;
        sin_ *= g;
        const std::int64_t target = slot_ - 1 - SoftTrack::kCommitLagSlots;
        if (target >= committed_) {
            const Run run = RunAt(target);
            Commit(target, run.kind, out, min_confidence);
        }
    }
}

double SoftTrack::TurnedMarkLlr(double ur, double ui, int length) const {
    // Two models of a mark's phase, mixed by how well each has fit: near the tracked carrier
    // phase (then slots add coherently, as one long matched filter) or unknown. The level is
    // known only roughly (fading, a tracker behind it): both are averaged over a spread of
    // levels around the tracked one.
    const double scale = 1.0 / std::sqrt(static_cast<double>(length));
    ur *= scale;
    ui *= scale;
    const double magnitude = std::sqrt(ur * ur + ui * ui);
    std::array<double, 2 * kLevelSpread.size()> terms{};
    double top = kMinusInfinity;
    for (std::size_t i = 0; i < kLevelSpread.size(); ++i) {
        const double s = signal_ * length * kLevelSpread[i];
        // The floor per sample, not per run: a cap on the run's SNR would favour split runs.
        const double n = std::max(noise_, signal_ * dot_ * kLevelSpread[i] / kMaxSignalToNoise);
        const double g = 2.0 * std::sqrt(s) / n;
        const double along = kPhaseConcentration + g * ur;
        const double level = kLogLevelWeight[i] - s / n;
        terms[2 * i] = level + logCoherentShare_ +
                       FastLogBesselI0(std::sqrt(along * along + g * g * ui * ui));
        terms[2 * i + 1] = level + logIncoherentShare_ + FastLogBesselI0(g * magnitude);
        top = std::max({top, terms[2 * i], terms[2 * i + 1]});
    }
    double sum = 0.0;
    for (const double term : terms) sum += std::exp(term - top);
    return top + std::log(sum);
}

void SoftTrack::RunLlrSteps(std::int64_t t) {
    if (scoring_ == MarkScoring::kHalfDotWindows) {
        runStep_.fill(SlotAt(t).llr);
        return;
    }
    // Each run is read two ways, mixed by the learnt share: as one matched filter over its
    // whole sum, and as the sum of its half-dot window likelihoods.
    const double logWholeShare = std::log(wholeRunShare_);
    const double logWindowShare = std::log1p(-wholeRunShare_);
    double ur = 0.0;
    double ui = 0.0;
    int length = 0;
    double windows = 0.0;
    double shorterBefore = 0.0;  // the run one slot shorter, ending at the slot before
    for (int d = 1; d < kLongestMarkSlots + 1; ++d) {
        const bool inInput = d - 1 <= t;
        if (inInput) {
            const Slot& s = SlotAt(t - d + 1);
            ur += s.turnedRe;
            ui += s.turnedIm;
            length += s.length;
            windows += s.llr;
        }
        // A run that only continues marks far behind the best path is not read: it ends here.
        if (d > 1 && markBest_[offset_[kDash] + d - 2] < -kRunBeam &&
            (d - 1 > kMaxSlots[kDot] || markBest_[offset_[kDot] + d - 2] < -kRunBeam)) {
            runStep_[d] = kMinusInfinity;
            shorterBefore = runLlr_[d];
            continue;
        }
        double llr = runLlr_[d - 1];  // before the first slots: as long as there is input
        if (inInput) {
            const double whole = TurnedMarkLlr(ur, ui, length) + logWholeShare;
            const double parts = windows + logWindowShare;
            llr = std::max(whole, parts) + std::log1p(std::exp(-std::abs(whole - parts)));
        }
        runStep_[d] = llr - shorterBefore;
        shorterBefore = runLlr_[d];
        runLlr_[d] = llr;
    }
}

void SoftTrack::SetCoherentShare(double share) {
    coherentShare_ = share;
    logCoherentShare_ = std::log(share) - LogBesselI0(kPhaseConcentration);
    logIncoherentShare_ = std::log1p(-share);
}

void SoftTrack::TrackPhase(const Slot& slot, const Slot& previous, double length) {
    const double center = static_cast<double>(slot.firstSample) + 0.5 * length;
    const double predicted = phase_ + phaseRate_ * (center - phaseSample_);
    const double c = std::cos(predicted);
    const double si = std::sin(predicted);
    const double ur = slot.re * c + slot.im * si;
    const double ui = slot.im * c - slot.re * si;
    const double error = std::atan2(ui, ur);
    const double gain = std::max(kPhaseGain, 1.0 / (phaseSlots_ + 1));
    ++phaseSlots_;
    phase_ = std::remainder(predicted + gain * error, 2.0 * std::numbers::pi);
    phaseSample_ = center;
    if (phaseSlots_ > 1.0 / kPhaseGain) phaseRate_ += kPhaseRateGain * error / length;
    // The loop alone learns a pitch offset slowly and may slip; the turn between neighbouring
    // mark slots, averaged, knows it roughly from the start and never slips. Where the two
    // disagree by more than the average's own error, the loop's rate is set to it.
    const double previousCenter = static_cast<double>(previous.firstSample) + 0.5 * previous.length;
    const double spacing = center - previousCenter;
    const double norm = 1.0 / (noise_ * length);
    const double turnRe = (slot.re * previous.re + slot.im * previous.im) * norm;
    const double turnIm = (slot.im * previous.re - slot.re * previous.im) * norm;
    turnRe_ += kTurnAverageRate * (turnRe - turnRe_);
    turnIm_ += kTurnAverageRate * (turnIm - turnIm_);
    if (spacing > 0.0 && ++turnPairs_ >= kMinTurnPairs) {
        const double turn = std::atan2(turnIm_, turnRe_);
        if (std::abs(turn - phaseRate_ * spacing) > kMaxTurnMismatch) phaseRate_ = turn / spacing;
    }

    // Which model explained this slot better, weighed by the present shares.
    const double scale = 1.0 / std::sqrt(length);
    const double s = signal_ * length;
    const double n = std::max(noise_, s / kMaxSignalToNoise);
    const double g = 2.0 * std::sqrt(s) / n;
    const double along = kPhaseConcentration + g * ur * scale;
    const double coherent = std::log(coherentShare_) - LogBesselI0(kPhaseConcentration) +
                            LogBesselI0(std::sqrt(along * along + g * g * ui * ui * scale * scale));
    const double incoherent = std::log1p(-coherentShare_) +
                              LogBesselI0(g * std::sqrt(ur * ur + ui * ui) * scale);
    const double posterior = 1.0 / (1.0 + std::exp(incoherent - coherent));
    coherentShare_ = std::clamp(coherentShare_ + kCoherentShareRate * (posterior - coherentShare_),
                                kMinCoherentShare, kMaxCoherentShare);
    SetCoherentShare(coherentShare_);
}

void SoftTrack::EndSlot() {
    const std::int64_t t = slot_;
    Slot& slot = SlotAt(t);
    slot.firstSample = slotFirstSample_;
    slot.energy = (accRe_ * accRe_ + accIm_ * accIm_) / slotLength_;
    slot.re = accRe_;
    slot.im = accIm_;
    // The likelihood looks at this slot and the one before it summed coherently: half a dot of
    // integration gains over adding quarter-dot energies, and counting each slot in two windows
    // is undone by the weight. Both are turned by one phase, so a step of the phase loop between
    // them does not split the window.
    const int length = slotLength_ + prevLength_;
    const double windowCenter =
        static_cast<double>(slotFirstSample_) + 0.5 * (slotLength_ - prevLength_);
    const double windowPhase = phase_ + phaseRate_ * (windowCenter - phaseSample_);
    const double wc = std::cos(windowPhase);
    const double ws = std::sin(windowPhase);
    const double re = accRe_ + prevRe_;
    const double im = accIm_ + prevIm_;
    slot.llr = kWindowWeight * TurnedMarkLlr(re * wc + im * ws, im * wc - re * ws, length);
    const double center = static_cast<double>(slotFirstSample_) + 0.5 * slotLength_;
    const double phase = phase_ + phaseRate_ * (center - phaseSample_);
    const double c = std::cos(phase);
    const double si = std::sin(phase);
    slot.turnedRe = accRe_ * c + accIm_ * si;
    slot.turnedIm = accIm_ * c - accRe_ * si;
    slot.length = slotLength_;
    prevRe_ = accRe_;
    prevIm_ = accIm_;
    prevLength_ = slotLength_;
    RunLlrSteps(t);
    ViterbiStep(t);
    ++slot_;
    TrackLevels(t);
    TrackSpeed(t);
    accRe_ = 0.0;
    accIm_ = 0.0;
    slotFill_ = 0;
    slotFirstSample_ = nextSample_;
    slotLength_ = static_cast<int>(std::lround(dot_ / kSlotsPerDot));
}

void SoftTrack::ViterbiStep(std::int64_t t) {
    const int nodes = static_cast<int>(tree_.size());
    const int last = kStateCount - 1;
    // The best way each run ended with the previous slot: gaps between characters and words
    // (no node), and per node its element gaps and the marks that reach it.
    RunEnd freeEnd{kMinusInfinity, kWordGap, 0, 0};
    for (int s = offset_[kLetterGap]; s < kStateCount; ++s) {
        const double v = score_[s] + logEnd_[s];
        if (v > freeEnd.score) {
            int k = kLetterGap;
            while (k + 1 < kKindCount && s >= offset_[k + 1]) ++k;
            freeEnd = {v, static_cast<std::uint8_t>(k), 0,
                       static_cast<std::uint8_t>(s == last ? 0 : s - offset_[k] + 1)};
        }
    }
    for (RunEnd& e : markEnd_) e = {kMinusInfinity, kDot, 0, 0};
    for (int j = 0; j < nodes; ++j) {
        gapEnd_[static_cast<std::size_t>(j)] = {kMinusInfinity, kElementGap,
                                                static_cast<std::uint8_t>(j), 0};
    }
    for (int j = 0; j < nodes; ++j) {
        if (!nodeLive_[static_cast<std::size_t>(j)]) continue;
        const double* node = &nodeScore_[static_cast<std::size_t>(j) * kNodeStates];
        for (int k = kDot; k <= kDash; ++k) {
            const int child = tree_[static_cast<std::size_t>(j)].child[k];
            if (child < 0) continue;
            RunEnd& e = markEnd_[static_cast<std::size_t>(child)];
            for (int s = offset_[k]; s < offset_[k] + kMaxSlots[k]; ++s) {
                const double v = node[s] + logEnd_[s];
                if (v > e.score) {
                    e = {v, static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(j),
                         static_cast<std::uint8_t>(s - offset_[k] + 1)};
                }
            }
        }
        RunEnd& g = gapEnd_[static_cast<std::size_t>(j)];
        for (int s = offset_[kElementGap]; s < offset_[kLetterGap]; ++s) {
            const double v = node[s] + logEnd_[s];
            if (v > g.score)
                g = {v, kElementGap, g.node,
                     static_cast<std::uint8_t>(s - offset_[kElementGap] + 1)};
        }
    }
    // A character ends where a mark reaches a node that is one.
    RunEnd charEnd{kMinusInfinity, kDot, 0, 0};
    for (int j = 0; j < nodes; ++j) {
        if (tree_[static_cast<std::size_t>(j)].character &&
            markEnd_[static_cast<std::size_t>(j)].score +
                    tree_[static_cast<std::size_t>(j)].log_prior >
                charEnd.score) {
            charEnd = markEnd_[static_cast<std::size_t>(j)];
            charEnd.score += tree_[static_cast<std::size_t>(j)].log_prior;
        }
    }
    // A character's first mark follows a gap between characters (or, without the tree, any gap).
    const RunEnd& rootGap = gapEnd_[0];
    const bool fromFree = freeEnd.score >= rootGap.score;
    const RunEnd& firstFrom = fromFree ? freeEnd : rootGap;

    Slot& slot = SlotAt(t);
    slot.beforeMark = {firstFrom.kind, 0,
                       fromFree && firstFrom.length == 0 ? pauseRunStart_ : t - firstFrom.length};
    slot.beforeGap = {charEnd.kind, charEnd.node, t - charEnd.length};
    const std::size_t row =
        static_cast<std::size_t>(t) % kRingSlots * static_cast<std::size_t>(nodes);
    for (int j = 0; j < nodes; ++j) {
        const RunEnd& g = gapEnd_[static_cast<std::size_t>(j)];
        const RunEnd& m = markEnd_[static_cast<std::size_t>(j)];
        markLinks_[row + static_cast<std::size_t>(j)] = {kElementGap, g.node, g.length};
        gapLinks_[row + static_cast<std::size_t>(j)] = {m.kind, m.node, m.length};
    }

    // The open pause state: reached from the longest modelled word gap or by staying.
    const double fromBelow = score_[last - 1] + logGoOn_[last - 1];
    const double stay = score_[last] + logGoOn_[last];
    double pauseScore;
    if (fromBelow > stay) {
        pauseScore = fromBelow;
        pauseRunStart_ = t - (kMaxSlots[kWordGap] - 1);
    } else {
        pauseScore = stay;
    }
    for (int k = kLetterGap; k <= kWordGap; ++k) {
        const int first = offset_[k];
        for (int d = kMaxSlots[k]; d >= 2; --d) {
            score_[first + d - 1] = score_[first + d - 2] + logGoOn_[first + d - 2];
        }
        score_[first] = charEnd.score + logEnter_[k];
    }
    score_[last] = pauseScore;  // a gap: no observation term
    for (int j = 0; j < nodes; ++j) {
        double* node = &nodeScore_[static_cast<std::size_t>(j) * kNodeStates];
        const CodeTreeNode& n = tree_[static_cast<std::size_t>(j)];
        const double before = j == 0 ? firstFrom.score : gapEnd_[static_cast<std::size_t>(j)].score;
        const double after = markEnd_[static_cast<std::size_t>(j)].score;
        std::uint8_t& live = nodeLive_[static_cast<std::size_t>(j)];
        // A node whose keyings are all far behind the best, and which nothing enters near it,
        // is left out until something does.
        if (!live && before < -kRunBeam && after < -kRunBeam) continue;
        double top = kMinusInfinity;
        for (int k = kDot; k <= kDash; ++k) {
            if (n.child[k] < 0) continue;
            const int first = offset_[k];
            for (int d = kMaxSlots[k]; d >= 2; --d) {
                node[first + d - 1] = node[first + d - 2] + logGoOn_[first + d - 2] + runStep_[d];
                top = std::max(top, node[first + d - 1]);
            }
            node[first] = before + logEnter_[k] + runStep_[1];
            top = std::max(top, node[first]);
        }
        if (n.child[0] >= 0 || n.child[1] >= 0) {  // an element may follow: an element gap
            const int first = offset_[kElementGap];
            for (int d = kMaxSlots[kElementGap]; d >= 2; --d) {
                node[first + d - 1] = node[first + d - 2] + logGoOn_[first + d - 2];
                top = std::max(top, node[first + d - 1]);
            }
            node[first] = after + logEnter_[kElementGap];
            top = std::max(top, node[first]);
        }
        live = top >= -kRunBeam;
        if (!live) std::fill(node, node + kNodeStates, kMinusInfinity);
    }

    double best = kMinusInfinity;
    for (int s = offset_[kLetterGap]; s < kStateCount; ++s) {
        if (score_[s] > best) {
            best = score_[s];
            bestState_ = s;
        }
    }
    markBest_.fill(kMinusInfinity);
    for (int j = 0; j < nodes; ++j) {
        if (!nodeLive_[static_cast<std::size_t>(j)]) continue;
        const double* node = &nodeScore_[static_cast<std::size_t>(j) * kNodeStates];
        for (int s = 0; s < kNodeStates; ++s) {
            if (node[s] > best) {
                best = node[s];
                bestState_ = kStateCount + j * kNodeStates + s;
            }
            markBest_[static_cast<std::size_t>(s)] =
                std::max(markBest_[static_cast<std::size_t>(s)], node[s]);
        }
    }
    for (int s = offset_[kLetterGap]; s < kStateCount; ++s) score_[s] -= best;
    for (int j = 0; j < nodes; ++j) {
        if (!nodeLive_[static_cast<std::size_t>(j)]) continue;
        double* node = &nodeScore_[static_cast<std::size_t>(j) * kNodeStates];
        for (int s = 0; s < kNodeStates; ++s) node[s] -= best;
    }
    for (double& s : markBest_) s -= best;
    scoreOffset_ += best;
}

SoftTrack::Run SoftTrack::RunAt(std::int64_t target) const {
    const std::int64_t t = slot_ - 1;
    Run run{kWordGap, 0, 0};
    if (bestState_ >= kStateCount) {
        const int i = bestState_ - kStateCount;
        const int local = i % kNodeStates;
        int k = kElementGap;
        while (local < offset_[k]) --k;
        run = {static_cast<Kind>(k), t - (local - offset_[k]), i / kNodeStates};
    } else {
        int k = kKindCount - 1;
        while (bestState_ < offset_[k]) --k;
        run = {static_cast<Kind>(k),
               bestState_ == kStateCount - 1 ? pauseRunStart_ : t - (bestState_ - offset_[k]), 0};
    }
    const std::size_t nodes = tree_.size();
    while (run.start > target) {
        const std::int64_t start = run.start;
        const std::size_t at = static_cast<std::size_t>(start) % kRingSlots * nodes +
                               static_cast<std::size_t>(run.node);
        if (IsMark(run.kind) && run.node != 0) {
            const Link& l = markLinks_[at];
            run = {kElementGap, start - l.length, run.node};
        } else if (run.kind == kElementGap) {
            const Link& l = gapLinks_[at];
            run = {static_cast<Kind>(l.kind), start - l.length, l.node};
        } else {
            const Slot& s = SlotAt(start);
            const Predecessor& p = IsMark(run.kind) ? s.beforeMark : s.beforeGap;
            run = {static_cast<Kind>(p.kind), p.runStart, p.node};
        }
        if (run.start >= start) break;  // never: runs only reach back
    }
    return run;
}

void SoftTrack::TrackSpeed(std::int64_t t) {
    // The speed follows decisions settled over three characters or so rather than the commits
    // far behind, so a change of speed is caught within a few elements.
    const std::int64_t target = t - kSpeedLagSlots;
    if (target < 0) return;
    const Slot& s = SlotAt(target);
    const Run run = RunAt(target);
    if (run.kind != tentativeKind_ && (IsMark(run.kind) || IsMark(tentativeKind_))) {
        const double runSamples = static_cast<double>(s.firstSample - tentativeFirstSample_);
        if (tentativeKind_ == kDash) AdaptSpeed(runSamples / kDashDots);
        if (tentativeKind_ == kDot || tentativeKind_ == kElementGap) AdaptSpeed(runSamples);
        tentativeFirstSample_ = s.firstSample;
    }
    tentativeKind_ = run.kind;
}

void SoftTrack::TrackLevels(std::int64_t t) {
    const std::int64_t target = t - kLevelLagSlots;
    if (target < 1) return;
    const Slot& s = SlotAt(target);
    const double length = static_cast<double>(SlotAt(target + 1).firstSample - s.firstSample);
    if (length <= 0.0) return;
    // Only slots inside a run, not at its edges: a slot at an edge holds part of a mark and part
    // of a gap, which would pull the noise floor up with the signal and the mark level down.
    const Run run = RunAt(target);
    const Run next = RunAt(target + 1);
    const Run before = RunAt(target - 1);
    if (run.start == target || next.start != run.start || IsMark(before.kind) != IsMark(run.kind)) {
        return;
    }
    if (IsMark(run.kind)) {
        const double a = length / (kSignalTimeConstantS * kSoftSampleRateHz);
        signal_ += a * ((s.energy - noise_) / length - signal_);
        TrackPhase(s, SlotAt(target - 1), length);
    } else {
        // Winsorized mean: a missed mark moves the floor by little; the factor undoes the clip's
        // bias on exponentially distributed noise power.
        const double clipped = std::min(s.energy, kNoiseClip * noise_) / -std::expm1(-kNoiseClip);
        const double a = length / (kNoiseTimeConstantS * kSoftSampleRateHz);
        noise_ += a * (clipped - noise_);
    }
    noise_ = std::max(noise_, kMinNoise);
    signal_ = std::max(signal_, kMinDotSignalToNoise * noise_ / dot_);
}

void SoftTrack::AdaptSpeed(double observed_dot) {
    const double r = std::clamp(observed_dot / dot_, 1.0 / kMaxSpeedStepRatio, kMaxSpeedStepRatio);
    dot_ = std::clamp(dot_ * std::exp(kSpeedWeight * std::log(r)), kMinDotSamples, kMaxDotSamples);
}

void SoftTrack::Commit(std::int64_t c, Kind kind, std::vector<SoftChar>* out,
                       double min_confidence) {
    committed_ = c + 1;
    const Slot& s = SlotAt(c);
    if (kind != lastKind_) {
        if (IsMark(lastKind_) && runFirstSlot_ > 0 && scoring_ == MarkScoring::kWholeRuns) {
            // The mark's evidence for the character's confidence, as the Viterbi weighed it.
            markLlr_ = LearnWholeRunShare(runFirstSlot_, c);
        }
        if (lastKind_ != kWordGap && runFirstSlot_ > 0) {
            const int d = static_cast<int>(std::min<std::int64_t>(c - runFirstSlot_, kMaxSlots[lastKind_]));
            runLogSum_ += logLength_[offset_[lastKind_] + d - 1];
            ++runCount_;
            // The keying's spread shows in the marks and the gaps inside characters (the gaps
            // between letters and words vary with the sender's spacing, not the hand).
            if (lastKind_ <= kElementGap && d < kMaxSlots[lastKind_]) {
                LearnTimingSpread(lastKind_, d);
            }
        }
        runFirstSlot_ = c;
    }
    if (IsMark(kind)) {
        if (!inMark_) {
            inMark_ = true;
            markLlr_ = 0.0;
            markFirstSample_ = s.firstSample;
            if (code_ == 1) {
                charFirstSample_ = s.firstSample;
                charMinLlr_ = std::numeric_limits<double>::infinity();
            }
        }
        markLlr_ += s.llr;
        markKind_ = kind;
    } else {
        if (inMark_) {
            inMark_ = false;
            const bool dash = markKind_ == kDash;
            if (code_ >= 128) codeOverflow_ = true;
            code_ = (code_ << 1) | (dash ? 1u : 0u);
            if (codeOverflow_) code_ = 1u << 8;  // stays out of the table until the character ends
            charMinLlr_ = std::min(charMinLlr_, markLlr_);
            gapFirstSample_ = s.firstSample;
            gapIsElementGap_ = kind == kElementGap;
        }
        if (kind != kElementGap) {
            gapIsElementGap_ = false;
            if (code_ != 1) EndCharacter(out, min_confidence);
        }
    }
    // A gap between characters just ended: a word space when long against the sender's own
    // letter gaps (tracked as a low quantile of these gaps, so Farnsworth spacing is followed).
    if (IsMark(kind) && (lastKind_ == kLetterGap || lastKind_ == kWordGap)) {
        const double dots = static_cast<double>(s.firstSample - gapFirstSample_) / dot_;
        wordSpacePending_ = anyCharacter_ && dots > letterGapDots_ * kWordSpaceRatio;
        const double step = dots < letterGapDots_ ? kLetterGapQuantile - 1.0 : kLetterGapQuantile;
        letterGapDots_ = std::clamp(letterGapDots_ * std::exp(kGapStep * step), kMinLetterGapDots,
                                    kMaxLetterGapDots);
    }
    lastKind_ = kind;
}

void SoftTrack::SetTimingSpread(double spread) {
    timingSpread_ = std::clamp(spread, kMinTimingSpread, kMaxTimingSpread);
    gapSpread_ = timingSpread_;
    BuildTimingModel();
}

void SoftTrack::AdoptTimingSpread(const SoftTrack& from) {
    spreadMeanSquare_ = from.spreadMeanSquare_;
    spreadRuns_ = from.spreadRuns_;
    followSpread_ = true;
    if (spreadRuns_ > 0) SetTimingSpread(std::sqrt(std::max(spreadMeanSquare_, 0.0)));
}

void SoftTrack::LearnTimingSpread(int kind, int slots) {
    const double meanSlots = (kind == kDash ? kDashDots : 1.0) * kSlotsPerDot;
    const double l = std::log(slots / meanSlots);
    const double quantization = kEdgeQuantizationSlots / meanSlots;
    ++spreadRuns_;
    const double rate = std::max(kTimingSpreadRate, 1.0 / spreadRuns_);
    spreadMeanSquare_ += rate * (l * l - quantization * quantization - spreadMeanSquare_);
    if (!followSpread_ || spreadRuns_ % kTimingSpreadEvery != 0) return;
    const double spread = std::clamp(std::sqrt(std::max(spreadMeanSquare_, 0.0)),
                                     kMinTimingSpread, kMaxTimingSpread);
    if (std::abs(spread - timingSpread_) >= 0.01) SetTimingSpread(spread);
}

double SoftTrack::LearnWholeRunShare(std::int64_t first, std::int64_t end) {
    // Which model explained this settled mark better, weighed by the present shares.
    double ur = 0.0;
    double ui = 0.0;
    int length = 0;
    double windows = 0.0;
    for (std::int64_t j = first; j < end; ++j) {
        const Slot& s = SlotAt(j);
        ur += s.turnedRe;
        ui += s.turnedIm;
        length += s.length;
        windows += s.llr;
    }
    const double whole = TurnedMarkLlr(ur, ui, length) + std::log(wholeRunShare_);
    const double parts = windows + std::log1p(-wholeRunShare_);
    const double posterior = 1.0 / (1.0 + std::exp(std::clamp(parts - whole, -50.0, 50.0)));
    wholeRunShare_ = std::clamp(wholeRunShare_ + kWholeRunShareRate * (posterior - wholeRunShare_),
                                kMinWholeRunShare, kMaxWholeRunShare);
    return std::max(whole, parts) + std::log1p(std::exp(-std::abs(whole - parts)));
}

void SoftTrack::EndCharacter(std::vector<SoftChar>* out, double min_confidence) {
    const std::uint32_t code = code_;
    const bool overflow = codeOverflow_;
    code_ = 1;
    codeOverflow_ = false;
    const double mid =
        scoring_ == MarkScoring::kWholeRuns ? kWholeRunConfidenceMidLlr : kConfidenceMidLlr;
    const double z = (charMinLlr_ - mid) / kConfidenceScaleLlr;
    const double confidence = 1.0 / (1.0 + std::exp(-z));
    charConfidence_ += kCharConfidenceWeight * (confidence - charConfidence_);
    if (overflow || code >= 256) return;
    const char* text = EnglishCharsetTable()[code];
    if (text[0] == '%') return;
    const bool wordBefore = wordSpacePending_;
    wordSpacePending_ = false;
    anyCharacter_ = true;
    if (out == nullptr || confidence < min_confidence) return;
    SoftChar ch;
    ch.sample = charFirstSample_;
    std::strncpy(ch.text.data(), text, ch.text.size() - 1);
    ch.word_space_before = wordBefore;
    ch.code = code;
    ch.end_sample = gapFirstSample_;
    ch.wpm = 13230.0 / dot_;
    ch.confidence = confidence;
    out->push_back(ch);
}

void SoftTrack::Flush(std::vector<SoftChar>* out, double min_confidence) {
    for (std::int64_t c = committed_; c < slot_; ++c) {
        const Run run = RunAt(c);
        Commit(c, run.kind, out, min_confidence);
    }
    if (inMark_) Commit(slot_, kWordGap, out, min_confidence);
    if (code_ != 1) EndCharacter(out, min_confidence);
}

double SoftTrack::Score() const {
    return scoreOffset_;
}

double SoftTrack::SnrDb() const {
    // Tone power is twice the mixed signal power per sample; the mixed noise power is that of
    // the real input, spread over 5512.5 Hz.
    const double tone = 2.0 * signal_;
    const double noiseIn2500 = noise_ * 2500.0 / (kSoftSampleRateHz / 2.0);
    return 10.0 * std::log10(tone / noiseIn2500);
}

}  // namespace dahlo
