#include "decode/soft_session.h"

#include <cstdio>

#include "dsp/main_filter.h"
#include "morse/cp1251.h"

namespace dahlo {

namespace {

// A word is printed when its characters' mean confidence reaches this: noise read as letters
// after a lock stays under it. Set low on purpose: a dropped word costs more characters than the
// garbled letters it may hold (at -10 dB a squelch at 0.5 doubled the CER).
constexpr double kWordConfidence = 0.25;
// ... and while the decoder's running confidence says a sender is there at all.
constexpr double kPresenceForText = 0.1;
// Samples handed to the decoder at a time (its output does not depend on it).
constexpr std::size_t kSoftBlockSamples = kBlockSamples;

}  // namespace

bool PrefersSoftDecoder(const PresetPlan& plan, const PresetRequest& request) {
    if (request.centreBin || request.filterWidth || request.threshold || request.burstLpm ||
        !request.warmStart || plan.controls.charset != kEnglish) {
        return false;
    }
    const EnvelopeLevels& levels = plan.levels;
    if (!(levels.mark > 0.0)) return false;  // not surveyed, or silent
    const double ratio = levels.noise > 0.0 ? levels.mark / levels.noise : 1e9;
    const bool fading = plan.markSpread > kFadingSpread;
    return ratio < (fading ? kSoftFadingMarkToNoise : kSoftMarkToNoise);
}

std::string DescribeSoftChoice(const PresetPlan& plan) {
    char line[200];
    std::snprintf(line, sizeof line, "soft decoder: marks %.1f times the noise at %.1f Hz%s",
                  plan.levels.noise > 0.0 ? plan.levels.mark / plan.levels.noise : 0.0,
                  plan.controls.centreBin * kHzPerBin,
                  plan.markSpread > kFadingSpread ? ", fading" : "");
    return line;
}

SoftSession::SoftSession(OutputSink& sink, OutputFormat format, const PresetPlan& plan)
    : sink_(sink),
      format_(format),
      absent_(plan.absent),
      pitchHz_(plan.controls.centreBin * kHzPerBin),
      weak_(plan.levels.noise > 0.0 && plan.levels.mark < kSoftMarkToNoise * plan.levels.noise) {
    decoder_.emplace(SoftDecoderConfig{pitchHz_, 0.0, 0.0, weak_, weak_});
    fresh_.reserve(64);
    word_.reserve(64);
}

std::int64_t SoftSession::Decode(SampleSource& source, const std::atomic<bool>* stop,
                                 ProgressReporter* progress, double progressStart,
                                 double progressSpan) {
    BlockReader reader(source, progress, progressStart, progressSpan);
    while (stop == nullptr || !stop->load()) {
        const std::size_t got = reader.Next();
        if (got == 0) break;
        Push(reader.Block(), got);
    }
    return reader.SamplesRead();
}

void SoftSession::Push(const std::int16_t* samples, std::size_t count) {
    while (count > 0) {
        const std::size_t n = std::min(count, kSoftBlockSamples);
        decoder_->Process(samples, n, fresh_);
        read_ += static_cast<std::int64_t>(n);
        samples += n;
        count -= n;
        Take();
    }
}

void SoftSession::Take() {
    for (const SoftChar& c : fresh_) {
        if (c.word_space_before && !word_.empty()) CloseWord();
        word_.push_back(c);
        ++characters_;
    }
    fresh_.clear();
}

bool SoftSession::Absent(std::int64_t sample) {
    while (nextAbsent_ < absent_.size() && absent_[nextAbsent_].end <= sample) ++nextAbsent_;
    return nextAbsent_ < absent_.size() && absent_[nextAbsent_].begin <= sample;
}

void SoftSession::CloseWord() {
    double sum = 0.0;
    for (const SoftChar& c : word_) sum += c.confidence;
    const double mean = sum / static_cast<double>(word_.size());
    const bool kept = mean >= kWordConfidence && decoder_->SignalPresence() >= kPresenceForText &&
                      !Absent(origin_ + word_.front().sample);
    if (!kept) {
        squelched_ += static_cast<std::int64_t>(word_.size());
        word_.clear();
        return;
    }
    line_.clear();
    char head[200];
    for (const SoftChar& c : word_) {
        if (!format_.events) {
            if (format_.encoding == TextEncoding::kUtf8) {
                AppendCp1251AsUtf8(c.text.data(), line_);
            } else {
                line_.append(c.text.data());
            }
            continue;
        }
        std::string text;
        AppendCp1251AsUtf8(c.text.data(), text);
        std::snprintf(head, sizeof head, "{\"t\":%.4f,\"type\":\"char\",\"text\":\"",
                      static_cast<double>(origin_ + c.sample) / kSampleRateHz);
        line_ += head;
        line_ += JsonEscape(text);
        std::snprintf(head, sizeof head, "\",\"code\":%u,\"freq_hz\":%.1f", c.code, pitchHz_);
        line_ += head;
        // The speed where its shown value changes, as the loop gives it.
        const int lpm = static_cast<int>(c.wpm * 5.0 + 0.5);
        if (lpm != shownLpm_) {
            shownLpm_ = lpm;
            std::snprintf(head, sizeof head, ",\"wpm\":%.1f,\"lpm\":%d", c.wpm, lpm);
            line_ += head;
        }
        std::snprintf(head, sizeof head, ",\"p\":%.2f}\n", c.confidence);
        line_ += head;
    }
    if (format_.events) {
        std::snprintf(head, sizeof head, "{\"t\":%.4f,\"type\":\"space\",\"freq_hz\":%.1f}\n",
                      static_cast<double>(origin_ + word_.back().end_sample) / kSampleRateHz,
                      pitchHz_);
        line_ += head;
    } else {
        line_ += ' ';
    }
    sink_.Write(line_);
    sink_.Flush();
    wroteText_ = true;
    word_.clear();
}

void SoftSession::Retune(double pitchHz) {
    decoder_->Flush(fresh_);
    Take();
    if (!word_.empty()) CloseWord();
    origin_ += read_;
    read_ = 0;
    pitchHz_ = pitchHz;
    decoder_.emplace(SoftDecoderConfig{pitchHz_, 0.0, 0.0, weak_, weak_});
}

void SoftSession::Finish() {
    decoder_->Flush(fresh_);
    Take();
    if (!word_.empty()) CloseWord();
    if (!format_.events && wroteText_) sink_.Write("\n");
    sink_.Flush();
}

}  // namespace dahlo
