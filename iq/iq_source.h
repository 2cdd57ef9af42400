#pragma once
// Where the wideband receiver gets its complex baseband: a stereo sound file (I left, Q right), a
// SigMF recording, raw interleaved samples from a stream, or a live SoapySDR device. Samples come
// as std::complex<float> with full scale at magnitude 1. Opening refuses bad input with IqError
// (one line naming the input); damage found later ends the input with Damage() saying where.

#include <complex>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace dahlo::iq {

// Rates a sub-band plan is made for: below 8 kHz there is no room for one sub-band and its
// skirts; above 768 kHz the channelizer would need more sub-bands than a skimmer host can run.
inline constexpr double kMinRateHz = 8000.0;
inline constexpr double kMaxRateHz = 768000.0;
// Centre frequencies the receiver accepts: 0 Hz (baseband, unknown dial) to 30 GHz.
inline constexpr double kMaxCentreHz = 30e9;

class IqError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class IqSource {
  public:
    virtual ~IqSource() = default;
    // Up to `count` samples. A file returns fewer only at its end; a live source returns what
    // came within a short wait (about 100 ms), possibly nothing. 0 with Ended() is the end.
    virtual std::size_t Read(std::complex<float>* out, std::size_t count) = 0;
    // True once nothing more will come: end of the file or stream, a lost device, or Stop().
    virtual bool Ended() const = 0;
    virtual double RateHz() const = 0;
    // The RF frequency of 0 Hz in the baseband, when the input says it (or the caller set it).
    virtual std::optional<double> CentreHz() const = 0;
    virtual const std::string& Name() const = 0;
    // Empty while the input reads as a whole; else one line saying where and why it stopped
    // (the samples before that point are valid).
    virtual std::string Damage() const { return {}; }
    // Live sources stop reading (Read returns what is queued, then ends); files ignore it.
    virtual void Stop() {}
};

// Sample formats of raw streams and SigMF data files.
enum class IqFormat {
    kCu8,     // unsigned 8-bit, 127.5 is zero (rtl_sdr)
    kCi8,     // signed 8-bit
    kCs16,    // signed 16-bit little-endian (SigMF ci16_le)
    kCu16,    // unsigned 16-bit little-endian, 32767.5 is zero
    kCi32,    // signed 32-bit little-endian
    kCf32,    // 32-bit float little-endian, full scale 1
};
// Bytes of one complex sample (I and Q).
std::size_t BytesPerSample(IqFormat format);
// "cu8", "cs16" (also "ci16", "ci16_le"), "cf32" (also "cf32_le"), "ci8", "cu16_le", "ci32_le";
// empty when unknown.
std::optional<IqFormat> ParseIqFormat(const std::string& name);
// One complex sample from its little-endian bytes, full scale at magnitude 1.
std::complex<float> DecodeSample(IqFormat format, const unsigned char* bytes);

// Throws IqError unless kMinRateHz <= rate <= kMaxRateHz (and, when given, the centre lies in
// 0..kMaxCentreHz). `what` names the input in the message.
void CheckRateAndCentre(const std::string& what, double rateHz, std::optional<double> centreHz);

// A stereo file libsndfile reads (WAV, FLAC, ..., 8..32-bit integer or float), or a SigMF
// recording (`.sigmf-meta`, or the `.sigmf-data` beside it). `centreHz` overrides the centre the
// file gives (a sound file gives none).
std::unique_ptr<IqSource> OpenIqFile(const std::string& path,
                                     std::optional<double> centreHz = std::nullopt);

// Raw interleaved I/Q from a stream (e.g. standard input), which stays the caller's. A stream
// that ends inside a sample ends there, with Damage() saying so.
std::unique_ptr<IqSource> OpenRawIq(std::FILE* stream, std::string name, IqFormat format,
                                    double rateHz, std::optional<double> centreHz = std::nullopt);

}  // namespace dahlo::iq
