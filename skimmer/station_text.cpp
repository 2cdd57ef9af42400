// What a station prints: its characters and words, from its channel's decoder or its soft
// decoder, as text lines, events and spots.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "morse/cp1251.h"
#include "skimmer/station.h"

namespace dahlo {

using skimmer_detail::Seconds;

namespace {

constexpr std::size_t kLineLength = 60;
// A soft station's word is printed when its characters' mean confidence reaches this, while the
// decoder's running confidence says a sender is there (as on a single recording's soft path).
constexpr double kSoftWordConfidence = 0.25;
constexpr double kSoftPresenceForText = 0.1;
// A soft station's word has ended once this many dots after its last mark are decided with no
// character begun: a word gap.
constexpr double kSoftWordEndDots = 7.0;
constexpr double kDotSamplesAtOneWpm = 13230.0;  // 1.2 s * 11025 Hz

}  // namespace

void Skimmer::OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) {
    auto it = stations_.find(event.channel);
    if (it == stations_.end()) return;
    Station& station = *it->second;
    Channel* channel = FindChannel(event.channel);
    // The soft decoder reads this station.
    if (station.soft && event.kind != ChannelEvent::kRetune) return;
    // Characters keyed where the tone did not stand out, and the spaces after them, are noise.
    if (event.kind == ChannelEvent::kCharacter) {
        station.quiet = event.marks > 0 && event.tonedMarks == 0;
        if (station.quiet) return;
    } else if (event.kind == ChannelEvent::kSpeed) {
        if (station.quiet) return;
    } else if (event.kind == ChannelEvent::kWordSpace) {
        // The space still ends a word printed before a dropped character (a dot the tone look
        // missed between two words must not join them).
        if (station.quiet && station.word.empty()) return;
    }
    Tell(station, channel, event, cp1251);
}

void Skimmer::Tell(Station& station, const Channel* channel, const ChannelEvent& event,
                   std::string_view cp1251) {
    if (options_.output == SkimOptions::Output::kEvents) {
        if (event.kind == ChannelEvent::kSpeed) {
            if (!station.pendingEvent.empty()) {
                char speed[64];
                std::snprintf(speed, sizeof speed, ",\"wpm\":%.1f,\"lpm\":%d", event.wpm,
                              event.lpm);
                station.pendingEvent += speed;
            }
        } else if (event.kind != ChannelEvent::kRetune) {
            if (!station.pendingEvent.empty()) Write(station.pendingEvent + "}");
            char head[128];
            std::snprintf(head, sizeof head, "{\"t\":%.4f,\"type\":\"%s\",\"ch\":%d",
                          Seconds(event.sample),
                          event.kind == ChannelEvent::kWordSpace ? "space" : "char",
                          event.channel);
            std::string line = head;
            if (event.kind == ChannelEvent::kCharacter) {
                std::string text;
                AppendCp1251AsUtf8(cp1251, text);
                line += ",\"text\":\"" + JsonEscape(text) +
                        "\",\"code\":" + std::to_string(event.code);
            }
            char freq[48];
            std::snprintf(freq, sizeof freq, ",\"freq_hz\":%.1f", event.centreBin * kHzPerBin);
            line += freq;
            station.pendingEvent = line;
        }
    }

    if (event.kind == ChannelEvent::kCharacter) {
        station.lastCharSample = event.sample;
        for (const char c : cp1251) {
            const auto upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            station.word.push_back(upper);
            station.recent.push_back(upper);
        }
    } else if (event.kind == ChannelEvent::kWordSpace) {
        if (!station.recent.empty() && station.recent.back() != ' ') station.recent.push_back(' ');
        if (channel != nullptr) EndWord(station, *channel, event.sample);
    }
    if (station.recent.size() > kRecentCharacters) {
        station.recent.erase(0, station.recent.size() - kRecentCharacters);
    }
}

void Skimmer::EndWord(Station& station, const Channel& channel, std::int64_t sample) {
    if (station.word.empty()) return;
    if (!station.line.empty()) station.line += ' ';
    station.line += station.word;
    if (const std::optional<HeardCall> heard = station.watcher.AddWord(station.word)) {
        Spot spot;
        spot.spotter = options_.spotter;
        spot.call = heard->call;
        spot.kind = heard->kind;
        spot.freqKhz = options_.dialKhz + channel.CentreBin * kHzPerBin / 1000.0;
        spot.snrDb = static_cast<int>(std::lround(SnrDb(station)));
        spot.wpm = static_cast<int>(std::lround(Wpm(station, channel)));
        spot.inputSeconds = Seconds(sample);
        spot.channel = station.id;
        spot.utc = options_.clockTime ? std::time(nullptr)
                                      : options_.startUtc +
                                            static_cast<std::time_t>(spot.inputSeconds);
        SpotRules::Verdict verdict = SpotRules::Verdict::kUnconfirmed;
        for (int copy = 0; copy < heard->copies; ++copy) {
            verdict = spotRules_.Hear(spot.call, spot.freqKhz, spot.inputSeconds);
        }
        // A busted copy never takes the place of the better call.
        if (verdict != SpotRules::Verdict::kBusted) station.call = heard->call;
        if (verdict == SpotRules::Verdict::kSpot) {
            for (SpotListener* listener : listeners_) listener->OnSpot(spot);
            if (options_.output == SkimOptions::Output::kSpots) {
                Write(FormatDxSpot(spot));
                sink_.Flush();
            } else if (options_.output == SkimOptions::Output::kEvents) {
                Write(FormatSpotJson(spot));
            }
        }
    }
    station.word.clear();
    if (station.line.size() >= kLineLength) FlushLine(station, channel);
}

double Skimmer::Wpm(const Station& station, const Channel& channel) {
    return station.soft ? station.soft->Wpm() : channel.decoder.Wpm();
}

void Skimmer::FeedSoft(Station& station, const Channel& channel, const std::int16_t* samples,
                       std::size_t count) {
    // Through the channel's own narrow filter: the slot sums alone would let a strong
    // neighbour's sidelobes in.
    for (std::size_t i = 0; i < count; ++i) {
        double y = station.softFilter.MainFilterStep(samples[i] * kSampleScale);
        y = station.softSecondFilter.MainFilterStep(y);
        softInput_[i] = static_cast<std::int16_t>(std::clamp(std::lround(y / kSampleScale),
                                                             -32768L, 32767L));
    }
    station.soft->Process(softInput_.data(), count, station.softFresh);
    ReadSoft(station, channel);
}

void Skimmer::ReadSoft(Station& station, const Channel& channel) {
    for (const SoftChar& c : station.softFresh) {
        if (c.word_space_before && !station.softWord.empty()) EndSoftWord(station, channel);
        station.softWord.push_back(c);
        station.softLastEnd = station.softFirstSample + c.end_sample;
    }
    station.softFresh.clear();
    if (station.softWord.empty() || station.soft->InCharacter()) return;
    const double dot = kDotSamplesAtOneWpm / station.soft->Wpm();
    const std::int64_t decided = station.soft->DecidedUntil();
    if (static_cast<double>(decided - station.softWord.back().end_sample) > kSoftWordEndDots * dot) {
        EndSoftWord(station, channel);
    }
}

void Skimmer::EndSoftWord(Station& station, const Channel& channel) {
    std::vector<SoftChar>& word = station.softWord;
    if (word.empty()) return;
    double sum = 0.0;
    for (const SoftChar& c : word) sum += c.confidence;
    // Evidence from the signal: sure marks, a sender locked onto, and the channel's tone
    // standing out since the word began (not noise read after the station stopped).
    const std::int64_t first = station.softFirstSample + word.front().sample;
    const bool kept = sum / static_cast<double>(word.size()) >= kSoftWordConfidence &&
                      station.soft->SignalPresence() >= kSoftPresenceForText &&
                      channel.Tone().lastTone + kBlockSamples > first;
    if (kept) {
        ChannelEvent event;
        event.channel = station.id;
        event.centreBin = channel.CentreBin;
        for (const SoftChar& c : word) {
            event.kind = ChannelEvent::kCharacter;
            event.sample = station.softFirstSample + c.sample;
            event.code = c.code;
            Tell(station, &channel, event, c.text.data());
            const int lpm = static_cast<int>(std::lround(c.wpm * 5.0));
            if (lpm != station.softLpm) {
                station.softLpm = lpm;
                event.kind = ChannelEvent::kSpeed;
                event.wpm = c.wpm;
                event.lpm = lpm;
                event.code = 0;
                Tell(station, &channel, event, {});
            }
        }
        event.kind = ChannelEvent::kWordSpace;
        event.sample = station.softFirstSample + word.back().end_sample;
        event.code = 0;
        Tell(station, &channel, event, {});
    }
    word.clear();
}

void Skimmer::FlushLine(Station& station, const Channel& channel) {
    if (!station.word.empty()) {
        if (!station.line.empty()) station.line += ' ';
        station.line += station.word;
        station.word.clear();
    }
    if (station.line.empty()) return;
    if (options_.output == SkimOptions::Output::kText) {
        char head[64];
        std::snprintf(head, sizeof head, "%4.0f Hz  %2.0f WPM  %+3.0f dB  ",
                      channel.CentreBin * kHzPerBin, Wpm(station, channel), SnrDb(station));
        std::string text;
        AppendCp1251AsUtf8(station.line, text);
        Write(head + text);
        sink_.Flush();
    }
    station.line.clear();
}

void Skimmer::FinishSoft(Station& station, const Channel& channel) {
    if (!station.soft) return;
    station.soft->Flush(station.softFresh);
    ReadSoft(station, channel);
    EndSoftWord(station, channel);
}

}  // namespace dahlo
