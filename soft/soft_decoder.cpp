#include "soft/soft_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

#include "soft/soft_track.h"

namespace dahlo {

namespace {

// The speed is measured on this much input (about five characters at 16 WPM) and tried again
// this often until a signal is found.
constexpr std::size_t kAcquireWindowSamples = 4 * kSoftSampleRateHz;
constexpr std::int64_t kAcquireRetrySamples = 2 * kSoftSampleRateHz;
// Trial speeds: a ladder from 10 to 50 WPM, each step 15 % (the tracker closes the rest).
constexpr double kLadderLowWpm = 10.0;
constexpr double kLadderRatio = 1.15;
constexpr int kLadderSteps = 12;
constexpr double kDotSamplesAtOneWpm = 13230.0;  // 1.2 s * 11025 Hz
// The speed is chosen among this many of the best-ranked trials, read again more sensitively.
constexpr int kFinalists = 3;
constexpr double kNotRanked = -std::numeric_limits<double>::infinity();
// Lock when the best trial explains the window better than noise by this many nats: noise
// alone reaches ~15 over four seconds; a −10 dB signal at 20 WPM ~100.
constexpr double kLockScore = 30.0;
// Weight of a trial's likelihood per decoded run against its mean timing log-probability.
// Clean signals give every trial a huge likelihood; past this many nats per run the timing
// fit alone decides.
constexpr double kScoreWeight = 0.5;
constexpr double kMaxScorePerRun = 8.0;
// First level guesses from short slots: the noise from a low quantile (the key is up at least
// this often), the mark power from the mean at a typical duty cycle.
constexpr int kLevelSlotSamples = 64;
constexpr double kNoiseQuantile = 0.1;
constexpr double kTypicalDuty = 0.45;
// The chosen speed reads the window once more at this timing spread (between a keyer's and a
// hand's) to measure the sender's own before decoding starts.
constexpr double kProbeTimingSpread = 0.18;

// Decodes `window` (from input sample `first`) at the trial speeds whose `ranks` are not -inf
// (`dot_samples` if given, else the ladder) and ranks each; -inf for a trial that does not
// explain the window well enough to lock. Returns the best trial's index, or -1.
int RankTrials(const std::vector<std::unique_ptr<SoftTrack>>& trials,
               const std::vector<std::int16_t>& window, double dot_samples, std::int64_t first,
               double noise, double signal, SoftTrack::MarkScoring scoring,
               std::array<double, kLadderSteps>& ranks) {
    // On weak signals the timing fit alone may lean to slow speeds that merge elements, the
    // likelihood alone to others; their sum picks the sender's speed.
    int runs = 1;
    for (std::size_t i = 0; i < trials.size(); ++i) {
        if (ranks[i] == kNotRanked) continue;
        const double ladderWpm = kLadderLowWpm * std::pow(kLadderRatio, static_cast<double>(i));
        const double dot = dot_samples > 0.0 ? dot_samples : kDotSamplesAtOneWpm / ladderWpm;
        SoftTrack& trial = *trials[i];
        trial.Start(first, dot, noise, signal, scoring);
        trial.Process(window.data(), window.size(), nullptr, 0.0);
        trial.Flush(nullptr, 0.0);
        runs = std::max(runs, trial.RunCount());
    }
    int best = -1;
    for (std::size_t i = 0; i < trials.size(); ++i) {
        if (ranks[i] == kNotRanked) continue;
        const SoftTrack& trial = *trials[i];
        if (trial.Score() < kLockScore) {
            ranks[i] = kNotRanked;
            continue;
        }
        const double perRun = std::min(trial.Score() / runs, kMaxScorePerRun);
        ranks[i] = trial.TimingFit() + kScoreWeight * perRun;
        if (best < 0 || ranks[i] > ranks[static_cast<std::size_t>(best)]) {
            best = static_cast<int>(i);
        }
    }
    return best;
}

}  // namespace

SoftDecoder::SoftDecoder(const SoftDecoderConfig& config) : config_(config) {
    config_.pitch_hz = std::clamp(config_.pitch_hz, 100.0, 5000.0);
    if (!(config_.dot_samples >= 0.0)) config_.dot_samples = 0.0;  // NaN, negative
    if (config_.dot_samples > 0.0) {
        config_.dot_samples =
            std::clamp(config_.dot_samples, kDotSamplesAtOneWpm / 60.0, kDotSamplesAtOneWpm / 5.0);
    }
    main_ = std::make_unique<SoftTrack>(config_.pitch_hz, config_.code_tree);
    const int trials = config_.dot_samples > 0.0 ? 1 : kLadderSteps;
    for (int i = 0; i < trials; ++i) candidates_.push_back(std::make_unique<SoftTrack>(config_.pitch_hz));
    history_.resize(kAcquireWindowSamples);
    window_.resize(kAcquireWindowSamples);
    levelSlots_.resize(kAcquireWindowSamples / kLevelSlotSamples);
    Reset();
}

SoftDecoder::~SoftDecoder() = default;

void SoftDecoder::Reset() {
    std::fill(history_.begin(), history_.end(), std::int16_t{0});
    received_ = 0;
    nextAttempt_ = static_cast<std::int64_t>(kAcquireWindowSamples);
    locked_ = false;
    main_->Start(0, config_.dot_samples > 0.0 ? config_.dot_samples : 500.0, 1.0, 1.0);
}

void SoftDecoder::Process(const std::int16_t* samples, std::size_t count,
                          std::vector<SoftChar>& out) {
    while (count > 0) {
        if (locked_) {
            main_->Process(samples, count, &out, config_.min_confidence);
            received_ += static_cast<std::int64_t>(count);
            return;
        }
        const auto untilAttempt = static_cast<std::size_t>(nextAttempt_ - received_);
        const std::size_t n = std::min(count, untilAttempt);
        for (std::size_t i = 0; i < n; ++i) {
            history_[static_cast<std::size_t>(received_) % history_.size()] = samples[i];
            ++received_;
        }
        samples += n;
        count -= n;
        if (received_ == nextAttempt_) TryAcquire(out, history_.size());
    }
}

void SoftDecoder::EstimateLevels(std::size_t valid, double& noise, double& signal_per_sample) {
    const double w = 2.0 * std::numbers::pi * config_.pitch_hz / kSoftSampleRateHz;
    std::size_t slots = 0;
    double sum = 0.0;
    for (std::size_t start = 0; start + kLevelSlotSamples <= valid;
         start += kLevelSlotSamples) {
        double re = 0.0;
        double im = 0.0;
        for (int i = 0; i < kLevelSlotSamples; ++i) {
            const double a = w * static_cast<double>(start + static_cast<std::size_t>(i));
            re += window_[start + static_cast<std::size_t>(i)] * std::cos(a);
            im -= window_[start + static_cast<std::size_t>(i)] * std::sin(a);
        }
        const double energy = (re * re + im * im) / kLevelSlotSamples;
        levelSlots_[slots++] = energy;
        sum += energy;
    }
    if (slots == 0) {
        noise = 1.0;
        signal_per_sample = 0.0;
        return;
    }
    const double mean = sum / static_cast<double>(slots);
    const auto q = static_cast<std::ptrdiff_t>(kNoiseQuantile * static_cast<double>(slots));
    std::nth_element(levelSlots_.begin(), levelSlots_.begin() + q,
                     levelSlots_.begin() + static_cast<std::ptrdiff_t>(slots));
    // The quantile of exponentially distributed noise power is -ln(1 - p) * mean; with the key
    // down part of the time, the lowest slots are all noise and p is a quantile of the key-up
    // slots only.
    noise = levelSlots_[static_cast<std::size_t>(q)] /
            -std::log1p(-kNoiseQuantile / (1.0 - kTypicalDuty));
    noise = std::min(noise, mean);
    signal_per_sample = (mean - noise) / kTypicalDuty / kLevelSlotSamples;
}

void SoftDecoder::TryAcquire(std::vector<SoftChar>& out, std::size_t valid) {
    const std::size_t size = history_.size();
    const auto begin = static_cast<std::size_t>(received_) % size;
    for (std::size_t i = 0; i < size; ++i) window_[i] = history_[(begin + i) % size];
    const std::int64_t first = received_ - static_cast<std::int64_t>(size);

    double noise = 0.0;
    double signal = 0.0;
    EstimateLevels(valid, noise, signal);
    // Whether a sender is there at all is asked of the cheap window scoring, tried every few
    // seconds; its speed, once, of the more sensitive whole-run scoring where that is used (on
    // weak signals the window scoring may rank a speed half the sender's first).
    std::array<double, kLadderSteps> ranks{};  // 0: to be ranked
    const int found = RankTrials(candidates_, window_, config_.dot_samples, first, noise, signal,
                                 SoftTrack::MarkScoring::kHalfDotWindows, ranks);
    if (found < 0) {
        nextAttempt_ = received_ + kAcquireRetrySamples;
        return;
    }
    SoftTrack* chosen = candidates_[static_cast<std::size_t>(found)].get();
    SoftTrack::MarkScoring scoring = SoftTrack::MarkScoring::kHalfDotWindows;
    if (config_.whole_runs) {
        scoring = SoftTrack::MarkScoring::kWholeRuns;
        const std::size_t trials = candidates_.size();
        std::array<double, kLadderSteps> sorted = ranks;
        std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(trials),
                  std::greater<>());
        const double cut = sorted[std::min<std::size_t>(kFinalists, trials) - 1];
        for (std::size_t i = 0; i < trials; ++i) {
            if (ranks[i] < cut) ranks[i] = kNotRanked;
        }
        const int best = RankTrials(candidates_, window_, config_.dot_samples, first, noise,
                                    signal, scoring, ranks);
        if (best >= 0) chosen = candidates_[static_cast<std::size_t>(best)].get();
    }
    const double dot = chosen->DotSamples();
    if (config_.follow_keying) {
        // The chosen trial, done with, reads the window again to measure the keying's spread.
        chosen->Start(first, dot, noise, signal, scoring);
        chosen->SetTimingSpread(kProbeTimingSpread);
        chosen->Process(window_.data(), size, nullptr, 0.0);
        chosen->Flush(nullptr, 0.0);
    }
    locked_ = true;
    main_->Start(first, dot, noise, signal, scoring);
    if (config_.follow_keying) main_->AdoptTimingSpread(*chosen);
    main_->Process(window_.data(), size, &out, config_.min_confidence);
}

void SoftDecoder::Flush(std::vector<SoftChar>& out) {
    if (!locked_ && received_ > 0) {
        // A short input: try the speed ladder on what there is.
        const std::size_t have = std::min(static_cast<std::size_t>(received_), history_.size());
        const std::int64_t missing = static_cast<std::int64_t>(history_.size() - have);
        received_ += missing;  // pad with silence to a whole window
        for (std::int64_t i = 0; i < missing; ++i) {
            history_[static_cast<std::size_t>(received_ - missing + i) % history_.size()] = 0;
        }
        TryAcquire(out, have);
    }
    if (locked_) main_->Flush(&out, config_.min_confidence);
}

double SoftDecoder::Wpm() const {
    return locked_ ? kDotSamplesAtOneWpm / main_->DotSamples() : 0.0;
}

std::int64_t SoftDecoder::DecidedUntil() const {
    return locked_ ? std::max<std::int64_t>(0, main_->DecidedUntil()) : 0;
}

bool SoftDecoder::InCharacter() const { return locked_ && main_->InCharacter(); }

double SoftDecoder::SignalPresence() const {
    return locked_ ? main_->CharacterConfidence() : 0.0;
}

double SoftDecoder::SnrDb() const {
    return locked_ ? main_->SnrDb() : -99.0;
}

}  // namespace dahlo
