#pragma once
// The skimmer: every CW signal in the passband decoded at once. The signal finder looks at the
// shared spectrum after every block; each signal it finds gets a channel of its own, preset from
// the last seconds of audio (filter at the signal, threshold between its noise and mark levels,
// burst speed and a warm decoder from its dot length) and caught up from where the signal first
// appeared, so that nothing is printed before the presets are known. A channel's threshold
// follows its own levels as it runs. A character none of whose marks showed the channel's tone is
// noise keyed after the station stopped or in its pauses and is not printed; a channel closes
// 10 s after its tone last stood out, or 30 s after its last character. Text goes out a
// line per channel and group of words; callsigns heard as the sender's become spots.

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "morse/charset.h"
#include "receiver/block_pump.h"
#include "skimmer/signal_finder.h"
#include "skimmer/callsign.h"
#include "receiver/output_sink.h"
#include "skimmer/channel_preset.h"
#include "skimmer/spot.h"
#include "skimmer/spot_rules.h"

namespace dahlo {

struct SkimOptions {
    enum class Output { kText, kEvents, kSpots };
    Output output = Output::kText;
    std::string spotter = "DAHLO-#";
    double dialKhz = 0.0;      // the radio's dial; a station is at dial + pitch (upper sideband)
    std::time_t startUtc = 0;  // the time of the input's first sample
    bool clockTime = false;    // live: spots carry the clock's time instead
    // Calls spotted after one copy; null: every call needs two. Must outlive the skimmer.
    const KnownCalls* knownCalls = nullptr;
    double respotMinutes = 10.0;  // a call on the frequency of its last spot waits this long
    // Pitches (Hz, from low up to but not including high) at which channels may open: one of
    // several skimmers on overlapping sub-bands of a wide band opens only its own share, so that
    // a signal two of them hear is decoded once. The finder still looks at the whole passband.
    double ownedLowHz = 0.0;
    double ownedHighHz = 1e9;
};


// One station as the skimmer follows it, for a display.
struct StationView {
    int channel = 0;
    int centreBin = 0;
    double wpm = 0.0;
    double snrDb = 0.0;
    std::string call;    // the last callsign heard as its own, if any
    std::string recent;  // its last 40 characters (Windows-1251)
    std::int64_t lastActivity = 0;  // sample of its last character
    std::int64_t firstHeard = 0;    // sample at which its channel opened
    // The channel's settings now, for a receiver that takes the station over.
    std::int64_t dotSamples = 0;    // the decoder's dot length
    double threshold = 0.0;         // key-down threshold on the envelope
    int integrationLength = 0;      // keying integrator, samples
    // Its filter: the threshold above is a level of the envelope behind this filter.
    int filterWidth = 0;
    bool filterTwice = false;  // a crowded station's: the narrow filter run twice
};

class Skimmer final : public ReceiverHost {
  public:
    static constexpr double kSilenceToCloseS = 30.0;
    // A channel whose tone has not stood out for this long closes: its station has stopped or
    // paused (a QSO partner's turn); the finder opens it again when it comes back.
    static constexpr double kToneGoneToCloseS = 10.0;
    static constexpr std::size_t kRecentCharacters = 80;  // a wide band view's text column

    // Runs its own input: feed blocks to Pump() (a recording), or run Pump() on Ring() (live).
    Skimmer(OutputSink& sink, SkimOptions options);
    // Joins the input of another program, `pump` (whose host forwards OnChannelEvent for the
    // skimmer's channels and OnBlockDone here): adds channels of its own beside the others, with
    // ids from 1000 on, and takes them away again when destroyed.
    Skimmer(BlockPump& pump, OutputSink& sink, SkimOptions options);
    ~Skimmer();
    Skimmer(const Skimmer&) = delete;
    Skimmer& operator=(const Skimmer&) = delete;

    BlockPump& Pump() { return *pump_; }
    CaptureRing& Ring() { return pump_->ring; }
    // Whether a channel of the pump is one of the skimmer's.
    bool Owns(int channelId) const { return stations_.count(channelId) != 0; }
    // The stations followed now, newest activity first.
    std::vector<StationView> Stations() const;
    // Flushes every channel's text; call at the end of the input.
    void Finish();

    // Every spot from now on also goes to `listener` (which must outlive the skimmer).
    void AddSpotListener(SpotListener& listener) { listeners_.push_back(&listener); }
    // The radio's dial from now on (a rig poller's reading); spots that follow use it.
    void SetDialKhz(double khz) { options_.dialKhz = khz; }

    int OpenChannels() const { return static_cast<int>(stations_.size()); }
    int ChannelsEverOpened() const { return nextId_ - firstId_; }
    const std::string& FatalText() const { return fatal_; }

    // ReceiverHost
    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override;
    void ShowFreeBuffers(int) override {}
    void PaintScope() override {}
    void PaintSpectrum() override {}
    void PumpMessages() override {}
    void ReportFatal(std::string_view text, std::string_view caption) override;
    void OnBlockDone(const std::int16_t* samples, std::int64_t blockStart) override;

  private:
    struct Station;
    class CatchUpSink;

    // Opens a channel on `signal`, caught up from where it started; false when the audio so far
    // shows no keyed CW there.
    bool Open(const FoundSignal& signal, std::int64_t now);
    void Close(int id);
    void FollowLevels(Station& station, Channel& channel);
    // A character, word space or speed of `station` to the output, its words to the spots.
    void Tell(Station& station, const Channel* channel, const ChannelEvent& event,
              std::string_view cp1251);
    void EndWord(Station& station, const Channel& channel, std::int64_t sample);
    // A weak station's soft decoder: its new characters into words, and a word out (or
    // squelched) once it has ended; at the end of the station, everything held.
    void FeedSoft(Station& station, const Channel& channel, const std::int16_t* samples,
                  std::size_t count);
    void ReadSoft(Station& station, const Channel& channel);
    void EndSoftWord(Station& station, const Channel& channel);
    void FinishSoft(Station& station, const Channel& channel);
    static double Wpm(const Station& station, const Channel& channel);
    void FlushLine(Station& station, const Channel& channel);
    void Write(const std::string& line);
    Channel* FindChannel(int id);
    double SnrDb(const Station& station) const;
    // `threshold`, raised above what the open neighbours leak through `channel`'s filter.
    double AboveLeakage(double threshold, double mark, const Channel& channel) const;

    OutputSink& sink_;
    SkimOptions options_;
    std::unique_ptr<CaptureRing> ownRing_;
    std::unique_ptr<BlockPump> ownPump_;
    BlockPump* pump_ = nullptr;
    SignalFinder finder_;
    std::vector<FoundSignal> waiting_;  // found, but with too few marks to preset yet
    struct Refused {
        int bin;
        std::int64_t until;  // sample
    };
    std::vector<Refused> refused_;  // found, but no keyed CW there
    std::vector<Refused> notOwned_;  // found outside the owned pitches
    Charsets charsets_;
    std::map<int, std::unique_ptr<Station>> stations_;
    std::vector<std::int16_t> history_;  // the last samples of the input, a ring
    std::int64_t historyEnd_ = 0;        // index of the sample after the newest kept
    std::vector<std::int16_t> softInput_;  // a block through a weak station's filter
    int firstId_ = 1;
    int nextId_ = 1;
    std::string fatal_;
    SpotRules spotRules_;
    std::vector<SpotListener*> listeners_;
};

}  // namespace dahlo
