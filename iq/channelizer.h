#pragma once
// The wideband front end: a polyphase filterbank (liquid-dsp firpfbch2, two times oversampled)
// cuts a complex baseband band into sub-bands spaced 1.4..1.9 kHz apart, each wider than that
// spacing so that neighbours overlap. Each sub-band is resampled to 11025 Hz (an exact rational
// resampler), shifted so that its centre lands on the middle of the receiver's useful audio band
// (161..2422 Hz), and its real part (upper-sideband demodulation) becomes 16-bit audio in blocks
// of 2048 samples. Every RF frequency but the outer edges lies inside the useful audio band of
// at least one sub-band, and is owned by the one where it sits nearest the middle: that is where
// it is decoded and spotted.
//
// Sub-bands are numbered 0..Count()-1 from the lowest RF up. A sub-band's output depends only on
// the input samples, never on how they are split into Process() calls or on the threads.

#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace dahlo::iq {

inline constexpr int kAudioRateHz = 11025;
inline constexpr int kAudioBlockSamples = 2048;  // one receiver block
// The receiver's useful audio band (spectrum bins 30..450 of 11025/2048 Hz) and its middle
// (bin 240), where a sub-band's centre lands.
inline constexpr double kUsefulLowHz = 30.0 * kAudioRateHz / kAudioBlockSamples;
inline constexpr double kUsefulHighHz = 450.0 * kAudioRateHz / kAudioBlockSamples;
inline constexpr double kAudioCentreHz = 240.0 * kAudioRateHz / kAudioBlockSamples;

// Audio level: a carrier of magnitude 10^(-gain/20) of full scale reaches 16-bit full scale.
// 6 dB leaves room for a carrier at -6 dBFS in the IQ (strong for an SDR) and lifts the noise of
// an 8-bit SDR's sub-band to several LSB, so that the receiver's floor estimate has something
// to measure.
inline constexpr double kDefaultAudioGainDb = 6.0;

// Where the sub-bands lie; pure arithmetic, no state.
struct SubbandPlan {
    double rateHz = 0.0;     // input sample rate
    int filterbankChannels = 0;  // M: channels of the filterbank (even)
    double spacingHz = 0.0;  // rateHz / M, also the width of the region each sub-band owns
    int count = 0;           // sub-bands in use: M - 1 (the one across +-rate/2 is left out)

    // Sub-band centre relative to the band centre (0 Hz of the baseband).
    double CentreOffsetHz(int subband) const;
    // Audio Hz in `subband` <-> baseband offset Hz (RF = centre + offset).
    double OffsetHz(int subband, double audioHz) const;
    double AudioHz(int subband, double offsetHz) const;
    // The sub-band where `offsetHz` sits nearest its middle (within spacingHz / 2 of it); empty
    // at the outer edges of the band.
    std::optional<int> Owner(double offsetHz) const;
    // The lowest and highest offsets that have an owner.
    double LowestOwnedHz() const { return CentreOffsetHz(0) - spacingHz / 2; }
    double HighestOwnedHz() const { return CentreOffsetHz(count - 1) + spacingHz / 2; }
};

// The plan for an input rate (kMinRateHz..kMaxRateHz of iq_source.h).
SubbandPlan PlanSubbands(double rateHz);

struct ChannelizerOptions {
    double gainDb = kDefaultAudioGainDb;
    // Threads that run the sub-bands' work, the caller's included: 1 runs everything in the
    // caller's thread; more is for live input, where the consumer does heavy work per block.
    int threads = 1;
};

// Receives each sub-band's audio, one block of kAudioBlockSamples at a time, in order within a
// sub-band (blockIndex 0, 1, ...). With threads > 1 it is called for different sub-bands at the
// same time from different threads; never for the same sub-band twice at once.
using SubbandConsumer =
    std::function<void(int subband, const std::int16_t* block, std::int64_t blockIndex)>;

class Channelizer {
  public:
    // Throws IqError for a rate outside kMinRateHz..kMaxRateHz.
    Channelizer(double rateHz, SubbandConsumer consumer, ChannelizerOptions options = {});
    ~Channelizer();
    Channelizer(const Channelizer&) = delete;
    Channelizer& operator=(const Channelizer&) = delete;

    const SubbandPlan& Plan() const { return plan_; }
    // Runs `count` input samples; consumers are called for every block completed. Returns once
    // all of them have returned. An exception thrown by a consumer comes out here.
    void Process(const std::complex<float>* samples, std::size_t count);
    // At the end of the input: every sub-band's last, partial block, padded with zeros.
    void Flush();
    // Audio samples each sub-band has produced so far (including the filter delay).
    std::int64_t AudioSamplesOut() const;

  private:
    struct Impl;
    SubbandPlan plan_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dahlo::iq
