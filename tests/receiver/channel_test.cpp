// Channels side by side on one input: each decodes its own signal, and what one channel gives
// out does not depend on the others.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_ring.h"
#include "morse/charset.h"
#include "receiver/block_pump.h"
#include "support/morse_synth.h"
#include "support/quiet_host.h"

namespace dahlo {
namespace {

struct Recorded {
    ChannelEvent event;
    std::string text;
    bool operator==(const Recorded& o) const {
        return event.kind == o.event.kind && event.channel == o.event.channel &&
               event.sample == o.event.sample && event.code == o.event.code &&
               event.centreBin == o.event.centreBin && event.wpm == o.event.wpm &&
               event.lpm == o.event.lpm && text == o.text;
    }
};

class EventHost final : public test::QuietHost {
  public:
    void OnChannelEvent(const ChannelEvent& event, std::string_view cp1251) override {
        events[event.channel].push_back({event, std::string(cp1251)});
    }
    std::string Text(int channel) const {
        std::string text;
        auto it = events.find(channel);
        if (it == events.end()) return text;
        for (const Recorded& r : it->second) text += r.text;
        return text;
    }
    std::map<int, std::vector<Recorded>> events;
};

int BinOf(double hz) { return static_cast<int>(std::lround(hz / kHzPerBin)); }

// A channel on `hz`, its decoder started warm at the sender's speed.
Channel ChannelAt(int id, double hz, double wpm) {
    Channel channel(id);
    channel.SetCentreBin(BinOf(hz));
    channel.DetectorThreshold = 0.05;
    channel.decoder.WarmStart(std::lround(test::DotSamples(wpm)));
    return channel;
}

// Every block of `audio` (zero-padded) through a pump whose channels are `channels`.
std::unique_ptr<EventHost> RunPump(const std::vector<std::int16_t>& audio,
                               const std::vector<Channel>& channels) {
    auto host = std::make_unique<EventHost>();
    auto ring = std::make_unique<CaptureRing>();
    BlockPump pump(*ring, *host);
    pump.channels = channels;
    std::vector<std::int16_t> padded = audio;
    padded.resize((padded.size() / kBlockSamples + 1) * kBlockSamples, 0);
    for (std::size_t at = 0; at < padded.size(); at += kBlockSamples) {
        pump.ProcessBlock(padded.data() + at);
    }
    EXPECT_EQ(pump.SamplesDone, static_cast<std::int64_t>(padded.size()));
    return host;
}

TEST(Channels, TwoSignals150HzApartAreDecodedAtOnceAndDoNotDisturbEachOther) {
    test::MorseSynthOptions options;
    options.wpm = 22;
    options.signal = {700.0, -12.0, 0.0, 0.0};
    options.snr_db = 20.0;
    options.lead_silence_s = 0.6;
    options.interferer = test::Interferer{"test de dl2xyz 5nn tu", 27.0, {850.0, -12.0, 0.0, 0.0},
                                          0.9};
    const std::vector<std::int16_t> audio =
        test::SynthesizeMorse("cq cq de k1abc k1abc k", options);

    const auto both = RunPump(audio, {ChannelAt(3, 700.0, 22), ChannelAt(7, 850.0, 27)});
    EXPECT_EQ(both->Text(3), "cq cq de k1abc k1abc k ");
    EXPECT_EQ(both->Text(7), "test de dl2xyz 5nn tu ");

    // Each channel alone gives exactly the events it gives beside the other, sample for sample.
    const auto first = RunPump(audio, {ChannelAt(3, 700.0, 22)});
    const auto second = RunPump(audio, {ChannelAt(7, 850.0, 27)});
    EXPECT_EQ(first->events.at(3), both->events.at(3));
    EXPECT_EQ(second->events.at(7), both->events.at(7));

    // Events carry the sample they happened at, in order, and the channel's own centre.
    const std::vector<Recorded>& events = both->events.at(7);
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_GE(events[i].event.sample, events[i - 1].event.sample);
    }
    EXPECT_EQ(events.front().event.centreBin, BinOf(850.0));
    EXPECT_GT(events.front().event.sample, static_cast<std::int64_t>(0.9 * 11025));
}

TEST(Channels, ResetStartsTheSignalAfreshOnTheSameSettings) {
    test::MorseSynthOptions options;
    options.wpm = 12;
    options.signal.pitch_hz = 996.0;
    const std::vector<std::int16_t> audio = test::SynthesizeMorse("paris paris", options);
    Channel fresh(1);
    fresh.DetectorThreshold = 0.05;
    fresh.afcOn = false;
    fresh.autoThreshold = true;

    Channel used = fresh;
    struct NoSink final : ChannelEventSink {
        void OnChannelEvent(const ChannelEvent&) override {}
    } sink;
    // Stopped in the middle of a mark: filter, envelope and key are all busy.
    const std::vector<test::KeyRun> runs = test::SynthesizeKeying("paris paris", options);
    std::size_t mark = runs.size() / 2;
    if (!runs[mark].down) ++mark;
    std::int64_t midMark = runs[mark].samples / 2;
    for (std::size_t r = 0; r < mark; ++r) midMark += runs[r].samples;
    used.Process(audio.data(), static_cast<int>(midMark), 0, sink);
    ASSERT_EQ(used.Keying().KeyState, 1);
    used.Reset();

    const auto again = RunPump(audio, {used});
    const auto reference = RunPump(audio, {fresh});
    EXPECT_EQ(again->events.at(1), reference->events.at(1));
    EXPECT_EQ(used.CentreBin, fresh.CentreBin);
    EXPECT_TRUE(used.autoThreshold);
}

}  // namespace
}  // namespace dahlo

namespace dahlo {
namespace {

struct NullSink final : ChannelEventSink {
    void OnChannelEvent(const ChannelEvent&) override {}
};

std::vector<std::int16_t> Tone(double hz, int samples, double amplitude = 12000.0) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2.0 * M_PI * hz * i / kSampleRateHz)));
    }
    return out;
}

TEST(ChannelRules, AnEnvelopeEqualToTheThresholdIsKeyUp) {
    NullSink sink;
    Channel channel;
    const std::vector<std::int16_t> tone = Tone(996.0, 400);
    channel.Process(tone.data(), 399, 0, sink);
    // Run the last sample twice from the same state: once to learn its envelope, then with the
    // threshold set to exactly that value and to the next value below it.
    Channel probe = channel;
    probe.Process(tone.data() + 399, 1, 399, sink);
    const double envelope = probe.lastEnvelope;
    ASSERT_GT(envelope, 0.0);

    Channel equal = channel;
    equal.DetectorThreshold = envelope;
    equal.Process(tone.data() + 399, 1, 399, sink);
    EXPECT_EQ(equal.lastRawKeyDown, 0);

    Channel below = channel;
    below.DetectorThreshold = std::nextafter(envelope, 0.0);
    below.Process(tone.data() + 399, 1, 399, sink);
    EXPECT_EQ(below.lastRawKeyDown, 1);
}

TEST(ChannelRules, ABurstSpeedChangeEmptiesTheEnvelopeWindow) {
    NullSink sink;
    Channel channel;
    const std::vector<std::int16_t> tone = Tone(996.0, 2000);
    channel.Process(tone.data(), 1999, 0, sink);
    channel.SetBurstSpeed(300);
    channel.Process(tone.data() + 1999, 1, 1999, sink);
    // Only the newest square is in the window: nothing of the tone before the change remains.
    EXPECT_EQ(channel.Burst().BurstSum, channel.Burst().ring[0]);
    EXPECT_EQ(channel.lastEnvelope, std::sqrt(channel.Burst().ring[0] / 39.0));
}

// Marks under half the level of those before them are taken back, as if the key had stayed up;
// a decoder restart made during such a mark (a planned change forced after its wait) stays.
TEST(ChannelRules, AWeakMarkIsTakenBackAndARestartDuringItStays) {
    struct Characters final : ChannelEventSink {
        void OnChannelEvent(const ChannelEvent& event) override {
            if (event.kind == ChannelEvent::kCharacter) codes.push_back(event.code);
        }
        std::vector<CodeWord> codes;
    } sink;
    Channel channel;
    channel.markLevelFraction = 0.5;
    channel.DetectorThreshold = 0.02;
    channel.decoder.WarmStart(600);
    std::int64_t at = 0;
    auto run = [&](const std::vector<std::int16_t>& s, std::size_t from, std::size_t n) {
        channel.Process(s.data() + from, static_cast<int>(n), at, sink);
        at += static_cast<std::int64_t>(n);
    };
    const std::vector<std::int16_t> dot = Tone(996.0, 600);
    const std::vector<std::int16_t> silence(3000, 0);
    for (int k = 0; k < 4; ++k) {
        run(dot, 0, dot.size());
        run(silence, 0, 600);
    }
    run(silence, 0, silence.size());
    ASSERT_EQ(sink.codes, std::vector<CodeWord>{0b10000});  // "h"

    // A tone 16 dB under the dots, long enough for a dash.
    const std::vector<std::int16_t> weak = Tone(996.0, 4000, 12000.0 * 0.15);
    run(weak, 0, 2000);
    ASSERT_EQ(channel.decoder.KeyWasDown, 1);
    channel.decoder.WarmStart(777);
    channel.DetectorThreshold = 1e9;  // the raw decision up for a sample, the key still down
    run(weak, 2000, 1);
    channel.DetectorThreshold = 0.02;
    run(weak, 2001, weak.size() - 2001);
    run(silence, 0, silence.size());
    EXPECT_EQ(sink.codes, std::vector<CodeWord>{0b10000});
    EXPECT_EQ(channel.decoder.DotLength, 777);
}

// The first sample of block 2 is key-down for the threshold while the integrator, which needs
// 175 samples, still says key-up (and the other way round): AFC follows the raw decision only.
TEST(ChannelRules, AfcStepsOnTheRawDecisionOfTheFirstSampleNotOnTheKey) {
    for (const bool rawDown : {true, false}) {
        test::QuietHost host;
        auto ring = std::make_unique<CaptureRing>();
        BlockPump pump(*ring, host);
        Channel& channel = pump.Main();
        channel.SetFilterWidth(kVeryWide);  // short group delay: the envelope follows at once
        channel.DetectorThreshold = 0.05;
        channel.AfcSpeed = 2;
        const int centre = channel.CentreBin;
        const double hz = (centre + 2) * kHzPerBin;

        std::vector<std::int16_t> audio(3 * kBlockSamples, 0);
        // Raw key-down at block 2: the tone starts 60 samples before it. Raw key-up with the
        // key still down: the tone fills block 1 and stops 120 samples before its end.
        const int start = rawDown ? 2 * kBlockSamples - 60 : kBlockSamples;
        const int stop = rawDown ? 3 * kBlockSamples : 2 * kBlockSamples - 120;
        const std::vector<std::int16_t> tone = Tone(hz, stop - start);
        std::copy(tone.begin(), tone.end(), audio.begin() + start);

        pump.ProcessBlock(audio.data());
        pump.ProcessBlock(audio.data() + kBlockSamples);
        ASSERT_EQ(channel.CentreBin, centre);
        // Only sample 0 of block 2, then the steering that follows it.
        Channel first = channel;
        NullSink sink;
        first.Process(audio.data() + 2 * kBlockSamples, 1, 2 * kBlockSamples, sink);
        ASSERT_EQ(first.lastRawKeyDown, rawDown ? 1 : 0);
        ASSERT_EQ(first.Keying().KeyState, rawDown ? 0 : 1);

        pump.ProcessBlock(audio.data() + 2 * kBlockSamples);
        // Towards the tone (a 60-sample burst spreads over its neighbours) or not at all.
        if (rawDown) {
            EXPECT_GT(channel.CentreBin, centre);
        } else {
            EXPECT_EQ(channel.CentreBin, centre);
        }
    }
}

TEST(ChannelRules, AutomaticGoToMaxNeedsMoreThanEightDotsOfSilence) {
    SpectrumState spectrum;
    spectrum.PeakHold[300] = 1.0;
    for (const auto& [silence, moves] :
         std::vector<std::pair<double, bool>>{{8.0, false}, {std::nextafter(8.0, 9.0), true}}) {
        Channel channel;
        channel.autoGoToMax = true;
        channel.afcOn = false;
        channel.decoder.SilenceDots = silence;
        NullSink sink;
        channel.SteerAtBlockStart(spectrum, 0, sink);
        EXPECT_EQ(channel.CentreBin, moves ? 300 : kDefaultCentreBin) << silence;
        EXPECT_EQ(channel.decoder.SilenceDots, moves ? 0.0 : silence);
    }
}

}  // namespace
}  // namespace dahlo
