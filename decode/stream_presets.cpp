#include "decode/stream_presets.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "dsp/main_filter.h"

namespace dahlo {

LookAheadDecode::LookAheadDecode(const PresetRequest& request, const ReceiverControls& controls,
                                 DecodeHost& host)
    : request_(request), base_(controls), host_(host) {
    held_.reserve(static_cast<std::size_t>(kLookAheadSamples + kReplanSamples + kBlockSamples));
}

LookAheadDecode::~LookAheadDecode() {
    host_.onPump = nullptr;
    host_.Watch(nullptr);
}

void LookAheadDecode::Push(const std::int16_t* samples, std::size_t count) {
    held_.insert(held_.end(), samples, samples + count);
    read_ += static_cast<std::int64_t>(count);
    while (read_ - decoded_ >= kLookAheadSamples + kReplanSamples) Step(false);
}

void LookAheadDecode::Finish() {
    if (read_ > decoded_) Step(true);
    if (soft_ != nullptr) soft_->Finish();
}

std::int64_t LookAheadDecode::FirstSignal(const PresetPlan& look) {
    std::int64_t from = 0;
    for (const SampleSpan& span : look.absent) {
        if (span.begin <= from) from = std::max(from, span.end);
    }
    return from;
}

void LookAheadDecode::Step(bool last) {
    // A look at everything held: the next stretch and the look-ahead past it.
    MemorySource source(held_, "the stream");
    const PresetPlan look = PlanPresets(source, request_, base_);
    const std::int64_t stretch =
        last ? read_ - decoded_ : std::min<std::int64_t>(kReplanSamples, read_ - decoded_);
    std::int64_t absentFrom = 0;  // the look's absent stretches count from here

    if (!looked_) {
        looked_ = true;
        plan_.controls = look.controls;
        plan_.fading = look.fading;
        plan_.thresholdScale = look.thresholdScale;
        if (onFirstLook) onFirstLook(look);
    }
    // The decoder is chosen at the first look that finds the signal from its first sample on:
    // levels measured on silence, or on a look that is mostly pause before the signal, say
    // nothing of the signal's own noise. Until then the loop reads, and hands over its text if
    // the soft decoder is chosen.
    if (chooseSoft && !chosen_ && look.levels.mark > 0.0 && FirstSignal(look) == 0) {
        chosen_ = true;
        PresetPlan first = look;
        first.absent.clear();
        first.changes.clear();
        soft_ = chooseSoft(first);
        if (soft_ != nullptr) softBin_ = look.controls.centreBin;
        if (soft_ != nullptr && pump_) {
            host_.Settle();
            host_.onPump = nullptr;
            host_.Watch(nullptr);
            soft_->StartAt(decoded_, host_.WroteText());
        }
    }
    if (soft_ != nullptr) {
        // A signal at another pitch is taken from where it starts, as the loop takes it.
        const int bin = look.controls.centreBin;
        const std::int64_t from = FirstSignal(look);
        if (std::abs(bin - softBin_) > kSoftRetuneBins && from < stretch) {
            softBin_ = bin;
            retuneAt_ = from;
        }
    } else if (!pump_) {
        ring_ = std::make_unique<CaptureRing>();
        pump_ = std::make_unique<BlockPump>(*ring_, host_);
        ApplyControls(plan_.controls, *pump_);
        follower_ = std::make_unique<PlanFollower>(plan_, *pump_);
        host_.Watch(&pump_->Main());
        host_.onPump = [this] {
            follower_->Tick();
            host_.Advance(pump_->SamplesDone);
        };
    } else {
        // The controls the look finds, where they differ from those in use by more than the
        // receiver itself moves them. A signal at another pitch is taken from where it starts;
        // until then the one in the filter goes on, and the look's stretches without its signal
        // say nothing about the one in the filter.
        const Channel& channel = pump_->Main();
        const ReceiverControls& now = look.controls;
        PresetChange change;
        change.sample = decoded_;
        if (std::abs(now.centreBin - channel.CentreBin) > channel.AfcSpeed) {
            const std::int64_t from = FirstSignal(look);
            if (from >= stretch) {
                change.sample = -1;  // not in this stretch: the next look decides
            } else {
                change.sample = decoded_ + from;
                change.centreBin = now.centreBin;
            }
        }
        if (change.sample < 0) {
            Decode(stretch);
            return;
        }
        absentFrom = change.sample - decoded_;
        // A look's estimates wander from stretch to stretch; the burst speed and the word space
        // change only when the look is well clear of the ones in use, not at every wobble
        // around a boundary.
        const std::int64_t dot = now.warmStartDot;
        if (now.integrationLength != channel.CwFilterTreshold && dot > 0 &&
            BurstSpeedForDot(dot * 115 / 100) == BurstSpeedForDot(dot * 100 / 115)) {
            change.integrationLength = now.integrationLength;
        }
        if (now.autoThreshold != channel.autoThreshold) {
            change.autoThreshold = now.autoThreshold ? 1 : 0;
        }
        const double ratio = now.threshold / std::max(channel.DetectorThreshold, 1e-9);
        if (!now.autoThreshold && (ratio > 1.25 || ratio < 0.8)) change.threshold = now.threshold;
        auto tenths = [](int t) { return t > 0 ? t : 50; };  // 0: the decoder's 5 dots
        if (std::abs(tenths(now.wordSpaceTenths) - tenths(channel.wordSpaceTenths)) >= 15) {
            change.wordSpaceTenths = now.wordSpaceTenths;
        }
        plan_.changes.push_back(change);
    }
    for (const PresetChange& c : look.changes) {
        if (soft_ != nullptr || c.sample >= stretch) break;
        if (c.sample < absentFrom) continue;
        PresetChange shifted = c;
        shifted.sample += decoded_;
        plan_.changes.push_back(shifted);
    }
    for (const SampleSpan& span : look.absent) {
        if (span.begin >= stretch) break;
        if (span.end <= absentFrom) continue;
        const SampleSpan shifted{decoded_ + std::max(span.begin, absentFrom),
                                 decoded_ + std::min(span.end, stretch)};
        if (soft_ != nullptr) {
            soft_->AddAbsent(shifted);
        } else {
            host_.AddAbsent(shifted);
        }
        plan_.absent.push_back(shifted);
    }
    Decode(stretch);
}

void LookAheadDecode::Decode(std::int64_t stretch) {
    if (soft_ != nullptr) {
        std::int64_t at = 0;
        if (retuneAt_ >= 0) {
            soft_->Push(held_.data(), static_cast<std::size_t>(retuneAt_));
            soft_->Retune(softBin_ * kHzPerBin);
            at = retuneAt_;
            retuneAt_ = -1;
        }
        soft_->Push(held_.data() + at, static_cast<std::size_t>(stretch - at));
        held_.erase(held_.begin(), held_.begin() + stretch);
        decoded_ += stretch;
        return;
    }
    // The stretch through the loop, a last partial block padded with zeros.
    std::array<std::int16_t, kBlockSamples> block{};
    for (std::int64_t at = 0; at < stretch; at += kBlockSamples) {
        const std::int64_t n = std::min<std::int64_t>(kBlockSamples, stretch - at);
        std::copy_n(held_.begin() + at, n, block.begin());
        std::fill(block.begin() + n, block.end(), 0);
        pump_->ProcessBlock(block.data());
    }
    held_.erase(held_.begin(), held_.begin() + stretch);
    decoded_ += stretch;
}

}  // namespace dahlo
