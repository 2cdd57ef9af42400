#pragma once
// The soft-decision decoder on the default path. The presets' look at a recording measures the
// envelope's noise and mark levels at the pitch; where the marks stand less than
// kSoftMarkToNoise above the noise (a weak signal, or a fading one where the faded stretches sink
// into it), the soft decoder reads the recording instead of the keying loop, which needs a
// threshold between the two. Clean recordings keep the loop and its text exactly.
//
// Its characters go out as the loop's do (text flushed at every word space, or JSON events with
// t, freq_hz, wpm and lpm) with a confidence "p" per character. The squelch works on evidence
// from the signal: a word is printed only when the decoder is locked to a sender (noise alone
// never locks it), the word's characters are sure enough on average, and it does not begin
// where the look found no signal. "t" of a character is where its first mark begins, of a word
// space where the word's last mark ends.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decode/decode_session.h"
#include "decode/preset_plan.h"
#include "decode/presets.h"
#include "receiver/output_sink.h"
#include "recording/sample_source.h"
#include "soft/soft_decoder.h"

namespace dahlo {

// Envelope mark over noise (amplitudes, at the chosen burst speed) below which the soft decoder
// reads a steady signal: 7.8 lies between -3 dB SNR in 2500 Hz (6.5..7.3) and 0 dB (8.2..9.6),
// where the loop starts to split and lose marks. Steady signals above keep the loop.
inline constexpr double kSoftMarkToNoise = 7.8;
// A fading signal (mark spread above kFadingSpread) is read by the soft decoder wherever noise
// is measurable at all: its faded stretches sink towards the loop's fixed threshold long before
// the noise does, while the soft decoder follows the mark level (12 dB fades at +20 dB SNR give
// a ratio of about 70; a recording without noise has none).
inline constexpr double kSoftFadingMarkToNoise = 100.0;

// Whether the soft decoder should read a recording the presets looked at with `request`: only on
// the default path (nothing fixed by options, English characters) and when the levels say so.
bool PrefersSoftDecoder(const PresetPlan& plan, const PresetRequest& request);
// Why the soft decoder reads, for -v: "soft decoder: marks 2.1 times the noise at 549.1 Hz".
std::string DescribeSoftChoice(const PresetPlan& plan);

class SoftSession {
  public:
    SoftSession(OutputSink& sink, OutputFormat format, const PresetPlan& plan);

    // Decodes every sample of `source` from its first; returns the number of samples read.
    std::int64_t Decode(SampleSource& source, const std::atomic<bool>* stop = nullptr,
                        ProgressReporter* progress = nullptr, double progressStart = 0.0,
                        double progressSpan = 1.0);
    // Feeds samples following all earlier ones (a stream); Finish ends the input.
    void Push(const std::int16_t* samples, std::size_t count);
    // The stream up to `sample` went to the loop (which wrote text, or not): samples count
    // from there. Before the first Push.
    void StartAt(std::int64_t sample, bool textBefore) {
        origin_ = sample;
        wroteText_ = textBefore;
    }
    // A stretch where the signal is absent, after those already known (a stream's look-ahead
    // finds them as it goes); a word beginning there is dropped.
    void AddAbsent(SampleSpan span) { absent_.push_back(span); }
    // The signal is at another pitch from here on (a stream's look found it there): what is
    // held is decided, and the decoder starts afresh at `pitchHz`.
    void Retune(double pitchHz);
    // Writes what is held and ends the text with a line end.
    void Finish();

    // Characters decoded, and of them those the squelch kept back.
    std::int64_t Characters() const { return characters_; }
    std::int64_t SquelchedCharacters() const { return squelched_; }
    double PitchHz() const { return pitchHz_; }

  private:
    void Take();
    void CloseWord();  // the word ends: printed with its space, or squelched
    bool Absent(std::int64_t sample);

    OutputSink& sink_;
    OutputFormat format_;
    std::vector<SampleSpan> absent_;
    std::size_t nextAbsent_ = 0;
    double pitchHz_;
    // A weak signal: its marks read as whole matched-filter runs and its timing as tight as the
    // sender keys, which copy more; a strong fading one reads as well or better on the half-dot
    // windows and the loose timing of any hand.
    bool weak_;
    std::optional<SoftDecoder> decoder_;  // not assignable: a retune makes it anew
    std::vector<SoftChar> fresh_;
    std::vector<SoftChar> word_;
    std::int64_t read_ = 0;    // samples the decoder took since it started
    std::int64_t origin_ = 0;  // the stream's sample where the decoder started
    std::int64_t characters_ = 0;
    std::int64_t squelched_ = 0;
    int shownLpm_ = 0;
    bool wroteText_ = false;
    std::string line_;
};

}  // namespace dahlo
