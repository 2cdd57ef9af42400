#include "decode/decode_session.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "morse/cp1251.h"

namespace dahlo {

void LoadUserCharsetOrThrow(Charsets& charsets, const std::string& path) {
    std::string error;
    const int result = charsets.LoadUserCharset(path, error);
    if (result == -1) throw InputError(path + ": the charset file is empty");
    if (result != 0) throw InputError(error.empty() ? path + ": cannot open the file" : error);
}

void ApplyControls(const ReceiverControls& controls, BlockPump& pump) {
    ApplyControls(controls, pump.Main());
    std::string error;
    const int result = ApplyCharsetControls(controls, pump.charsets, error);
    if (result == -1) throw InputError(controls.userCharsetFile + ": the charset file is empty");
    if (result != 0) {
        throw InputError(error.empty() ? controls.userCharsetFile + ": cannot open the file"
                                       : error);
    }
}

DecodeHost::DecodeHost(OutputSink& sink, OutputFormat format) : sink_(sink), format_(format) {
    squelch_.decided = [this](const WordSquelch::Word& word, bool kept) {
        if (!kept) {
            squelchedCharacters_ += word.characters;
            return;
        }
        sink_.Write(word.bytes);
        wroteText_ = wroteText_ || !word.bytes.empty();
        sink_.Flush();
    };
}

void DecodeHost::PaintScope() {
    if (watched_ == nullptr) return;
    const Channel& channel = *watched_;
    ++scope_.ticks;
    if (channel.lastRawKeyDown == 1) ++scope_.above;
    scope_.peak = std::max(scope_.peak, channel.lastEnvelope);
    scope_.threshold = channel.DetectorThreshold;
    scope_.autoThreshold = channel.autoThreshold;
    scope_.centreBin = channel.CentreBin;
}

void DecodeHost::OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) {
    switch (event.kind) {
        case ChannelEvent::kCharacter:
            lastSample_ = event.sample;
            if (closing_) {
                WritePendingEvent();
                CloseWord(closingSample_);
            }
            if (wordFirstSample_ < 0) wordFirstSample_ = event.sample;
            if (squelchOn_) squelch_.Activity(event.sample);
            AppendDecodedText(event, cp1251);
            break;
        case ChannelEvent::kWordSpace:
            lastSample_ = event.sample;
            AppendDecodedText(event, cp1251);
            if (format_.events && squelchOn_) {
                // The word ends with the space's line, which waits for its speed.
                closing_ = true;
                closingSample_ = event.sample;
            } else {
                CloseWord(event.sample);
            }
            break;
        case ChannelEvent::kSpeed:
            // The speed comes right after the character or space it belongs to.
            if (!format_.events || !event_.pending) return;
            event_.hasSpeed = true;
            event_.wpm = event.wpm;
            event_.lpm = event.lpm;
            break;
        case ChannelEvent::kRetune:
            break;
    }
}

void DecodeHost::Emit(std::string_view bytes) {
    if (squelchOn_) {
        word_.append(bytes);
        return;
    }
    sink_.Write(bytes);
    wroteText_ = wroteText_ || !bytes.empty();
}

void DecodeHost::CloseWord(std::int64_t sample) {
    closing_ = false;
    if (squelchOn_) {
        bool out = false;
        if (wordFirstSample_ >= 0) {
            const std::vector<SampleSpan>& spans = absent_;
            while (nextAbsent_ < spans.size() && spans[nextAbsent_].end <= wordFirstSample_) {
                ++nextAbsent_;
            }
            out = nextAbsent_ < spans.size() && spans[nextAbsent_].begin <= wordFirstSample_;
        }
        if (!word_.empty()) {
            squelch_.Add(std::move(word_), wordCharacters_, wordText_, sample, out, wordMarks_,
                         wordTonedMarks_);
        }
        word_.clear();
    }
    wordFirstSample_ = -1;
    wordText_.clear();
    wordCharacters_ = 0;
    wordMarks_ = 0;
    wordTonedMarks_ = 0;
    sink_.Flush();
}

void DecodeHost::Advance(std::int64_t sample) {
    if (!squelchOn_) return;
    if (closing_) {
        WritePendingEvent();
        CloseWord(closingSample_);
    }
    squelch_.Advance(sample);
}

void DecodeHost::AppendDecodedText(const ChannelEvent& event, std::string_view cp1251) {
    const std::uint32_t code = event.code;
    if (code != 0) {
        ++characters_;
        ++wordCharacters_;
        wordMarks_ += event.marks;
        wordTonedMarks_ += event.tonedMarks;
        if (squelchOn_) AppendCp1251AsUtf8(cp1251, wordText_);
    }
    if (format_.events) {
        WritePendingEvent();  // its speed, if any, came right after it
        event_.pending = true;
        event_.space = code == 0;
        event_.code = code;
        event_.time_s = static_cast<double>(event.sample) / kSampleRateHz;
        event_.freq_hz = event.centreBin * kHzPerBin;
        event_.text.clear();
        AppendCp1251AsUtf8(cp1251, event_.text);
        event_.hasSpeed = false;
        return;
    }
    if (format_.encoding == TextEncoding::kUtf8) {
        AppendCp1251AsUtf8(cp1251, text_);
    } else {
        text_.append(cp1251);
    }
    if (code == 0) {
        Emit(text_);
        text_.clear();
    }
}

void DecodeHost::WritePendingEvent() {
    if (!event_.pending) return;
    char head[160];
    std::snprintf(head, sizeof head, "{\"t\":%.4f,\"type\":\"%s\"", event_.time_s,
                  event_.space ? "space" : "char");
    std::string line = head;
    if (!event_.space) {
        line +=
            ",\"text\":\"" + JsonEscape(event_.text) + "\",\"code\":" + std::to_string(event_.code);
    }
    char tail[128];
    std::snprintf(tail, sizeof tail, ",\"freq_hz\":%.1f", event_.freq_hz);
    line += tail;
    if (event_.hasSpeed) {
        std::snprintf(tail, sizeof tail, ",\"wpm\":%.1f,\"lpm\":%d", event_.wpm, event_.lpm);
        line += tail;
    }
    line += "}\n";
    Emit(line);
    if (event_.space && !squelchOn_) sink_.Flush();
    event_.pending = false;
}

void DecodeHost::ReportFatal(std::string_view text, std::string_view caption) {
    // The window's texts carry blanks and line ends for its message box.
    const auto first = text.find_first_not_of(" \n");
    const auto last = text.find_last_not_of(" \n");
    fatal_ = first == std::string_view::npos ? std::string(caption)
                                             : std::string(text.substr(first, last - first + 1));
}

void DecodeHost::Finish() {
    Settle();
    if (!format_.events && wroteText_) sink_.Write("\n");
    sink_.Flush();
}

void DecodeHost::Settle() {
    if (format_.events) {
        WritePendingEvent();
    } else {
        Emit(text_);
        text_.clear();
    }
    if (squelchOn_) {
        CloseWord(lastSample_);
        squelch_.Finish();
    }
    closing_ = false;
    sink_.Flush();
}

std::int64_t DecodeSource(SampleSource& source, const ReceiverControls& controls, DecodeHost& host,
                          const std::atomic<bool>* stop, ProgressReporter* progress,
                          double progressStart, double progressSpan) {
    // The ring only stands in for the capture buffers: no block ever waits.
    auto ring = std::make_unique<CaptureRing>();
    auto pump = std::make_unique<BlockPump>(*ring, host);
    ApplyControls(controls, *pump);

    host.Watch(&pump->Main());
    BlockReader reader(source, progress, progressStart, progressSpan);
    while (stop == nullptr || !stop->load()) {
        if (reader.Next() == 0) break;
        pump->ProcessBlock(reader.Block());
    }
    host.Watch(nullptr);
    return reader.SamplesRead();
}

}  // namespace dahlo
