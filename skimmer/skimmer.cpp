#include "skimmer/skimmer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "dsp/burst_filter.h"
#include "dsp/main_filter.h"
#include "morse/cp1251.h"
#include "receiver/envelope_levels.h"
#include "skimmer/station.h"
#include "soft/soft_decoder.h"

namespace dahlo {

using skimmer_detail::Seconds;

namespace {

constexpr std::int64_t kHistorySamples = 12LL * kSampleRateHz;
constexpr std::int64_t kLeadSamples = kSampleRateHz / 2;  // audio kept before a signal's start
constexpr double kLineSilenceS = 2.0;                      // a pause this long ends a line
constexpr int kAfcReachBins = 3;       // how far a channel may wander from where it opened
constexpr int kSameSignalBins = 7;     // two channels this near are one signal (38 Hz)
// A keyed tone spreads about its carrier with the sender's speed: a channel opened within this
// many Hz per WPM of an open one decodes that one's sidebands through its skirt (35 WPM: 49 Hz).
constexpr double kKeyingSpreadHzPerWpm = 1.4;
constexpr int kNeighbourBins = 22;  // a stronger neighbour's keying sidebands reach this far (118 Hz)
constexpr double kLevelFade = 0.97;    // per block: the levels span about 6 s
constexpr double kDistinctMark = 2.5;  // mark / noise needed to move the threshold
constexpr std::int64_t kShortestDot = 13230 / 60;  // samples: 60 WPM
constexpr double kWaitForMarksS = 8.0;  // how long a found signal may take to show its marks
constexpr int kFirstSharedId = 1000;    // beside another program's channels
constexpr std::int64_t kRetryBlocks = 8;
constexpr std::int64_t kRefusedSamples = 20LL * kSampleRateHz;
constexpr int kBurstCheckBlocks = 32;     // about 6 s between looks at the sender's speed
// Beside a neighbour the threshold stays above its leakage (twice it) but under this fraction of
// the channel's own marks; its key clicks reach further than its carrier: with the filter run
// twice (a crowded channel) it stays at least at kCrowdedMarkFraction of the marks.
constexpr double kLeakageMargin = 2.0;
constexpr double kLeakageCapFraction = 0.7;
constexpr double kCrowdedMarkFraction = 0.45;

// A station whose marks stand less than this far over its noise in the preset's envelope
// (amplitudes; about +2 dB SNR in 2500 Hz) is read by the soft decoder: below it the threshold
// starts to split marks and key noise. Stronger stations keep the channel's own decoder.
constexpr double kSoftMarkToNoise = 12.0;

}  // namespace



// Hands the events of a channel catching up on the past to the skimmer, with their text.
class Skimmer::CatchUpSink final : public ChannelEventSink {
  public:
    explicit CatchUpSink(Skimmer& skimmer) : skimmer_(skimmer) {}
    void OnChannelEvent(const ChannelEvent& event) override {
        const bool text =
            event.kind == ChannelEvent::kCharacter || event.kind == ChannelEvent::kWordSpace;
        skimmer_.OnChannelEvent(event, text ? skimmer_.charsets_.CodeToText(event.code)
                                            : std::string_view());
    }

  private:
    Skimmer& skimmer_;
};

Skimmer::Skimmer(OutputSink& sink, SkimOptions options)
    : sink_(sink),
      options_(std::move(options)),
      ownRing_(std::make_unique<CaptureRing>()),
      ownPump_(std::make_unique<BlockPump>(*ownRing_, *this)),
      pump_(ownPump_.get()),
      history_(static_cast<std::size_t>(kHistorySamples), 0),
      softInput_(kBlockSamples),
      spotRules_(options_.knownCalls, 60.0 * options_.respotMinutes) {
    pump_->channels.clear();
}

Skimmer::Skimmer(BlockPump& pump, OutputSink& sink, SkimOptions options)
    : sink_(sink),
      options_(std::move(options)),
      pump_(&pump),
      history_(static_cast<std::size_t>(kHistorySamples), 0),
      softInput_(kBlockSamples),
      firstId_(kFirstSharedId),
      nextId_(kFirstSharedId),
      spotRules_(options_.knownCalls, 60.0 * options_.respotMinutes) {}

Skimmer::~Skimmer() {
    if (ownPump_ == nullptr) {
        std::erase_if(pump_->channels, [this](const Channel& c) { return Owns(c.id); });
    }
}

std::vector<StationView> Skimmer::Stations() const {
    std::vector<StationView> out;
    for (const Channel& channel : pump_->channels) {
        auto it = stations_.find(channel.id);
        if (it == stations_.end()) continue;
        const Station& station = *it->second;
        StationView view;
        view.channel = channel.id;
        view.centreBin = channel.CentreBin;
        view.wpm = channel.decoder.Wpm();
        view.snrDb = SnrDb(station);
        view.call = station.call;
        view.recent = station.recent;
        view.lastActivity = station.lastCharSample;
        view.firstHeard = station.openedSample;
        view.dotSamples = channel.decoder.DotLength;
        view.threshold = channel.DetectorThreshold;
        view.integrationLength = channel.CwFilterTreshold;
        view.filterWidth = channel.FilterWidth;
        view.filterTwice = channel.filterTwice;
        out.push_back(view);
    }
    std::stable_sort(out.begin(), out.end(), [](const StationView& a, const StationView& b) {
        return a.lastActivity > b.lastActivity;
    });
    return out;
}

Channel* Skimmer::FindChannel(int id) {
    for (Channel& channel : pump_->channels) {
        if (channel.id == id) return &channel;
    }
    return nullptr;
}

double Skimmer::SnrDb(const Station& station) const {
    if (station.noise <= 0.0) return 99.0;
    return std::clamp(20.0 * std::log10(station.mark / station.noise), -99.0, 99.0);
}

void Skimmer::Write(const std::string& line) {
    sink_.Write(line);
    sink_.Write("\n");
}

void Skimmer::ReportFatal(std::string_view text, std::string_view caption) {
    const auto first = text.find_first_not_of(" \n");
    const auto last = text.find_last_not_of(" \n");
    fatal_ = first == std::string_view::npos ? std::string(caption)
                                             : std::string(text.substr(first, last - first + 1));
}

void Skimmer::FollowLevels(Station& station, Channel& channel) {
    station.levels.Fade(kLevelFade);
    for (const float e : channel.envelopeTrace) station.levels.Add(e);
    const double noise = station.levels.Percentile(kNoisePercentile);
    const double mark = station.levels.Percentile(kMarkPercentile);
    // Only while the signal is there: in a pause the levels fall to the noise, and a threshold
    // following them would key the noise into letters.
    if (mark > kDistinctMark * noise) {
        station.noise = noise;
        station.mark = mark;
        channel.DetectorThreshold = AboveLeakage(
            ThresholdFromLevels(noise, mark, NoiseFloorForDot(channel.decoder.DotLength)), mark,
            channel);
    }
    // The burst speed follows the sender's speed.
    if (++station.blocks % kBurstCheckBlocks == 0) {
        const int length = IntegrationLengthFor(BurstSpeedForDot(channel.decoder.DotLength));
        if (length != channel.CwFilterTreshold) channel.ApplyIntegrationLength(length);
    }
    // AFC may refine the tuning, not wander off to another signal.
    const int low = std::max(kFirstBin, station.openBin - kAfcReachBins);
    const int high = std::min(kLastBin, station.openBin + kAfcReachBins);
    if (channel.CentreBin < low || channel.CentreBin > high) {
        channel.SetCentreBin(std::clamp(channel.CentreBin, low, high));
    }
}

double Skimmer::AboveLeakage(double threshold, double mark, const Channel& channel) const {
    const FilterRow& row = FilterCoefficientTables(channel.FilterWidth).Row(channel.CentreBin);
    double leakage = 0.0;
    for (const Channel& other : pump_->channels) {
        if (other.id == channel.id || !Owns(other.id) ||
            std::abs(other.CentreBin - channel.CentreBin) > kNeighbourBins) {
            continue;
        }
        auto it = stations_.find(other.id);
        if (it == stations_.end()) continue;
        double gain = RowGainAt(row, other.CentreBin * kHzPerBin);
        if (channel.filterTwice) gain *= gain;
        leakage = std::max(leakage, it->second->mark * gain);
    }
    const double crowded = channel.filterTwice ? kCrowdedMarkFraction * mark : 0.0;
    return std::max(
        {threshold, crowded, std::min(kLeakageMargin * leakage, kLeakageCapFraction * mark)});
}

bool Skimmer::Open(const FoundSignal& signal, std::int64_t now) {
    const std::int64_t oldest = std::max<std::int64_t>(0, historyEnd_ - kHistorySamples);
    const std::int64_t start = std::max(oldest, signal.firstSample - kLeadSamples);
    std::vector<std::int16_t> audio(static_cast<std::size_t>(historyEnd_ - start));
    for (std::int64_t i = start; i < historyEnd_; ++i) {
        audio[static_cast<std::size_t>(i - start)] =
            history_[static_cast<std::size_t>(i % kHistorySamples)];
    }
    // A close neighbour, open already or found with this one: both filter twice.
    bool crowded = false;
    for (Channel& other : pump_->channels) {
        if (Owns(other.id) && std::abs(other.CentreBin - signal.bin) <= kNeighbourBins) {
            crowded = true;
            other.filterTwice = true;
        }
    }
    for (const FoundSignal& other : finder_.Recent()) {
        crowded = crowded || (other.bin != signal.bin &&
                              std::abs(other.bin - signal.bin) <= kNeighbourBins);
    }
    const ChannelPreset preset = PresetChannel(audio.data(), audio.size(), signal.bin, crowded);
    // Not keyed CW: no distinct mark level, or no marks or faster than 60 WPM. In a weak
    // signal noise splits the marks, so that its dot is not measured: the soft decoder reads it,
    // measuring the speed itself and locking only onto Morse timing.
    const bool weak = preset.mark < kSoftMarkToNoise * preset.noise;
    if (preset.mark < kDistinctMark * preset.noise || (preset.dot < kShortestDot && !weak)) {
        return false;
    }

    auto station = std::make_unique<Station>();
    station->id = nextId_++;
    station->openBin = signal.bin;
    station->openedSample = now;
    station->lastCharSample = now;
    station->noise = preset.noise;
    station->mark = preset.mark;
    if (weak) {
        // Its input comes through the channel's narrow filter: the window scoring only; and any
        // keying, codes outside the table dropped (a strong neighbour's leakage keys marks that
        // the code tree would read as characters, at a speed that runs away).
        station->soft = std::make_unique<SoftDecoder>(
            SoftDecoderConfig{signal.bin * kHzPerBin, 0.0, 0.0, false, true, false});
        station->softFirstSample = start;
        station->softFilter.SelectRow(FilterCoefficientTables(kNarrow).Row(signal.bin));
        station->softSecondFilter.SelectRow(FilterCoefficientTables(kNarrow).Row(signal.bin));
    }

    Channel channel(station->id);
    channel.SetFilterWidth(kNarrow);
    channel.SetCentreBin(signal.bin);
    channel.filterTwice = crowded;
    channel.ApplyIntegrationLength(preset.integrationLength);
    channel.DetectorThreshold = AboveLeakage(preset.threshold, preset.mark, channel);
    channel.autoThreshold = false;
    channel.autoGoToMax = false;
    channel.afcOn = false;  // the catch-up has no spectrum to steer by
    // Noise keyed while the station pauses stays out of its text and its speed.
    channel.markLevelFraction = kMarkLevelFraction;
    channel.toneEvidence = true;
    channel.decoder.WarmStart(std::max(preset.dot, kShortestDot));

    const int id = station->id;
    stations_[id] = std::move(station);
    CatchUpSink sink(*this);
    // The catch-up's events must find the channel: decode into a copy kept in the pump.
    pump_->channels.push_back(channel);
    Channel& live = pump_->channels.back();
    // The catch-up has no spectrum to look at: the finder saw the tone over this stretch.
    live.AssumeTone(now);
    for (std::size_t at = 0; at < audio.size(); at += kBlockSamples) {
        const int n = static_cast<int>(std::min<std::size_t>(kBlockSamples, audio.size() - at));
        live.Process(audio.data() + at, n, start + static_cast<std::int64_t>(at), sink);
        // The levels start from the signal's own past.
        Station& opened = *stations_[id];
        opened.levels.Fade(kLevelFade);
        for (int k = 0; k < n / kEnvelopeTraceStep; ++k) {
            opened.levels.Add(live.envelopeTrace[static_cast<std::size_t>(
                (live.traceNext - 1 - k + kEnvelopeTraceSize) % kEnvelopeTraceSize)]);
        }
    }
    if (Station& opened = *stations_[id]; opened.soft) {
        for (std::size_t at = 0; at < audio.size(); at += kBlockSamples) {
            FeedSoft(opened, live, audio.data() + at,
                     std::min<std::size_t>(kBlockSamples, audio.size() - at));
        }
    }
    live.EndAssumedTone();  // from the next block on, the spectrum tells
    live.afcOn = true;
    live.AfcSpeed = 1;
    return true;
}

void Skimmer::Close(int id) {
    auto it = stations_.find(id);
    if (it == stations_.end()) return;
    if (Channel* channel = FindChannel(id)) {
        FinishSoft(*it->second, *channel);
        FlushLine(*it->second, *channel);
        if (!it->second->pendingEvent.empty()) Write(it->second->pendingEvent + "}");
    }
    stations_.erase(it);
    std::erase_if(pump_->channels, [id](const Channel& c) { return c.id == id; });
}

void Skimmer::OnBlockDone(const std::int16_t* samples, std::int64_t blockStart) {
    for (int i = 0; i < kBlockSamples; ++i) {
        history_[static_cast<std::size_t>((blockStart + i) % kHistorySamples)] = samples[i];
    }
    historyEnd_ = blockStart + kBlockSamples;
    const std::int64_t now = historyEnd_;

    std::vector<int> closing;
    for (Channel& channel : pump_->channels) {
        auto it = stations_.find(channel.id);
        if (it == stations_.end()) continue;
        Station& station = *it->second;
        if (!station.pendingEvent.empty()) {
            Write(station.pendingEvent + "}");
            station.pendingEvent.clear();
        }
        if (station.soft) FeedSoft(station, channel, samples, kBlockSamples);
        FollowLevels(station, channel);
        // A soft station's characters come out once decided, seconds after they were sent: its
        // pause is counted in what is decided, from the end of its last mark.
        const bool paused =
            station.soft ? !station.soft->InCharacter() && station.softWord.empty() &&
                               Seconds(station.softFirstSample + station.soft->DecidedUntil() -
                                       station.softLastEnd) > kLineSilenceS
                         : Seconds(now - station.lastCharSample) > kLineSilenceS;
        if (paused) FlushLine(station, channel);
        if (Seconds(now - station.lastCharSample) > kSilenceToCloseS ||
            Seconds(now - channel.Tone().lastTone) > kToneGoneToCloseS) {
            closing.push_back(channel.id);
        }
    }
    // Two channels drawn onto one signal: the younger goes.
    for (const Channel& a : pump_->channels) {
        for (const Channel& b : pump_->channels) {
            if (a.id < b.id && Owns(a.id) && Owns(b.id) &&
                std::abs(a.CentreBin - b.CentreBin) <= kSameSignalBins) {
                closing.push_back(b.id);
            }
        }
    }
    for (const int id : closing) Close(id);

    std::vector<int> occupied;
    for (const Channel& channel : pump_->channels) {
        if (Owns(channel.id)) occupied.push_back(channel.CentreBin);
    }
    for (const FoundSignal& signal : waiting_) occupied.push_back(signal.bin);
    // A bin that showed no keyed CW stays quiet for a while: leakage and clicks beside a
    // strong signal would otherwise be looked at again and again.
    std::erase_if(refused_, [now](const Refused& r) { return r.until <= now; });
    std::erase_if(notOwned_, [now](const Refused& r) { return r.until <= now; });
    for (const Refused& r : refused_) occupied.push_back(r.bin);
    finder_.Update(pump_->spectrum, blockStart, occupied, kSameSignalBins);
    std::vector<FoundSignal> found = finder_.TakeNew();
    // Signals waiting for marks are looked at again every 8 blocks (1.5 s).
    if ((blockStart / kBlockSamples) % kRetryBlocks == 0) {
        found.insert(found.end(), waiting_.begin(), waiting_.end());
        waiting_.clear();
    }
    struct OpenSignal {
        int bin;
        int reach;  // bins of one signal about it
    };
    std::vector<OpenSignal> opened;
    for (const Channel& channel : pump_->channels) {
        if (!Owns(channel.id)) continue;
        const auto spread = static_cast<int>(
            std::lround(kKeyingSpreadHzPerWpm * Wpm(*stations_.at(channel.id), channel) / kHzPerBin));
        opened.push_back({channel.CentreBin, std::max(kSameSignalBins, spread)});
    }
    for (const FoundSignal& signal : found) {
        // Another skimmer's signal is left to it, and so are its leakage and clicks: with no
        // channel of ours on it, nothing here would keep a channel beside it above them.
        const double pitchHz = signal.bin * kHzPerBin;
        if (pitchHz < options_.ownedLowHz || pitchHz >= options_.ownedHighHz) {
            notOwned_.push_back({signal.bin, now + kRefusedSamples});
            continue;
        }
        const bool besideNotOwned =
            std::any_of(notOwned_.begin(), notOwned_.end(), [&](const Refused& r) {
                return std::abs(r.bin - signal.bin) <= kNeighbourBins;
            });
        if (besideNotOwned) {
            refused_.push_back({signal.bin, now + kRefusedSamples});
            continue;
        }
        const bool near = std::any_of(opened.begin(), opened.end(), [&](const OpenSignal& o) {
            return std::abs(o.bin - signal.bin) <= o.reach;
        });
        if (near) continue;
        if (Open(signal, now)) {
            opened.push_back({signal.bin, kSameSignalBins});
        } else if (Seconds(now - signal.firstSample) < kWaitForMarksS) {
            waiting_.push_back(signal);  // too few marks yet (a slow sender): look again
        } else {
            refused_.push_back({signal.bin, now + kRefusedSamples});
        }
    }
}

void Skimmer::Finish() {
    for (auto& [id, station] : stations_) {
        if (Channel* channel = FindChannel(id)) {
            FinishSoft(*station, *channel);
            if (!station->pendingEvent.empty()) {
                Write(station->pendingEvent + "}");
                station->pendingEvent.clear();
            }
            FlushLine(*station, *channel);
        }
    }
    sink_.Flush();
}

}  // namespace dahlo
