#pragma once
// Running the receiver's loop without a window: the controls the window would have, a host that
// writes the decoded text (or JSON events) instead of painting, and the block-by-block drive over
// a sample source.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "capture/capture_ring.h"
#include "receiver/block_pump.h"
#include "receiver/output_sink.h"
#include "receiver/receiver_controls.h"
#include "receiver/receiver_host.h"
#include "decode/morse_squelch.h"
#include "recording/sample_source.h"

namespace dahlo {

// Loads a user charset file; InputError when it cannot be read or is empty.
void LoadUserCharsetOrThrow(Charsets& charsets, const std::string& path);

// Sets the main channel's controls and the charset as the window's menus, toolbar and settings
// would. Throws InputError when the user charset file cannot be read or is empty.
void ApplyControls(const ReceiverControls& controls, BlockPump& pump);

enum class TextEncoding { kUtf8, kCp1251 };

// Samples [begin, end) of the input.
struct SampleSpan {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

struct OutputFormat {
    TextEncoding encoding = TextEncoding::kUtf8;
    bool events = false;  // JSON lines instead of text
};

// The loop's program: text and events out, nothing painted, no event loop to pump. Text is
// flushed at every word space and at Finish; with the squelch on, at every word it lets through.
class DecodeHost : public ReceiverHost {
  public:
    DecodeHost(OutputSink& sink, OutputFormat format);

    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override;
    void ShowFreeBuffers(int) override {}
    void PaintScope() override;
    void PaintSpectrum() override {}
    void PumpMessages() override {
        if (onPump) onPump();
    }
    void ReportFatal(std::string_view text, std::string_view caption) override;

    // Writes what is pending and flushes; ends the text with a line end.
    void Finish();
    // Finish without the line end: the loop hands the text over to another decoder.
    void Settle();
    bool WroteText() const { return wroteText_; }
    const std::string& FatalText() const { return fatal_; }
    // Characters (not word spaces) handed out so far, and of them those the squelch kept back.
    std::int64_t Characters() const { return characters_; }
    std::int64_t SquelchedCharacters() const { return squelchedCharacters_; }

    // Words that do not look like Morse are not written (see WordSquelch). Off by default, and
    // always off for the window's text.
    void EnableSquelch() { squelchOn_ = true; }
    // With the squelch on, words beginning inside these spans (added in order, disjoint) are not
    // written: the signal is not there.
    void AddAbsent(SampleSpan span) { absent_.push_back(span); }
    // The decode has reached `sample`: words held back long enough are decided.
    void Advance(std::int64_t sample);
    // Run at every pump of the loop's messages (every 128th sample): where the decode changes
    // its controls between samples.
    std::function<void()> onPump;

    // What the scope would show of `channel` (until the next Watch): the envelope at every
    // 128th sample, its peak, how often it stands above the threshold.
    void Watch(const Channel* channel) { watched_ = channel; }
    struct ScopeLook {
        std::int64_t ticks = 0;
        std::int64_t above = 0;  // ticks with the envelope above the threshold
        double peak = 0.0;       // of the envelope
        double threshold = 0.0;  // the last one
        bool autoThreshold = false;
        int centreBin = 0;
    };
    const ScopeLook& Scope() const { return scope_; }

  private:
    void AppendDecodedText(const ChannelEvent& event, std::string_view cp1251);
    void WritePendingEvent();
    void Emit(std::string_view bytes);
    void CloseWord(std::int64_t sample);

    OutputSink& sink_;
    OutputFormat format_;
    std::string text_;
    bool wroteText_ = false;
    std::int64_t characters_ = 0;
    std::string fatal_;
    const Channel* watched_ = nullptr;
    ScopeLook scope_;

    bool squelchOn_ = false;
    WordSquelch squelch_;
    std::int64_t squelchedCharacters_ = 0;
    std::string word_;      // the bytes of the word being received, while the squelch is on
    std::string wordText_;  // its UTF-8 text
    int wordCharacters_ = 0;
    int wordMarks_ = 0;  // evidence from the signal for the word being received
    int wordTonedMarks_ = 0;
    bool closing_ = false;  // events: a word space came; the word closes after its speed
    std::int64_t closingSample_ = 0;
    std::int64_t lastSample_ = 0;  // of the last character or space
    std::int64_t wordFirstSample_ = -1;
    std::vector<SampleSpan> absent_;
    std::size_t nextAbsent_ = 0;

    struct Event {
        bool pending = false;
        bool space = false;
        std::uint32_t code = 0;
        double time_s = 0.0;
        double freq_hz = 0.0;
        std::string text;
        bool hasSpeed = false;
        double wpm = 0.0;
        int lpm = 0;
    } event_;
};

// Runs every sample of `source` through a fresh receiver with `controls`, block by block from its
// first sample; a last partial block is padded with zeros. Stops early when `stop` becomes true.
// Returns the number of samples read. Throws InputError from the source.
std::int64_t DecodeSource(SampleSource& source, const ReceiverControls& controls, DecodeHost& host,
                          const std::atomic<bool>* stop = nullptr,
                          ProgressReporter* progress = nullptr, double progressStart = 0.0,
                          double progressSpan = 1.0);

}  // namespace dahlo
