#pragma once
// Rational resampling of complex samples by P/Q over a polyphase bank of real taps: Q inputs in,
// P outputs out, output k of a call taken by phase (k * Q) mod P after input floor(k * Q / P).
// The arrangement of liquid-dsp's rresamp (phase p uses prototype taps p, p + P, p + 2P, ...,
// newest input first), with the dot products vectorized: the channelizer runs one of these per
// sub-band at the full audio rate, and liquid's portable build does them one float at a time.

#include <complex>
#include <memory>
#include <vector>

namespace dahlo::iq {

class RationalResampler {
  public:
    // `prototype`: P * L taps, L (taps per phase) at least 1; every output is scaled by `scale`.
    RationalResampler(int interp, int decim, const std::vector<float>& prototype, float scale);

    int Interp() const { return interp_; }
    int Decim() const { return decim_; }

    // Decim() samples of `in` -> Interp() samples of `out`.
    void Execute(const std::complex<float>* in, std::complex<float>* out);

  private:
    // Execute's work; returns the new head.
    static int Run(RationalResampler& r, const std::complex<float>* in, std::complex<float>* out);

    int interp_;
    int decim_;
    int length_;  // taps per phase
    // [phase][stride_]: each tap twice (for the real and the imaginary part), oldest input
    // first, zero-padded to a whole number of vector steps; shared by copies (one sub-band's
    // design serves them all).
    std::shared_ptr<const std::vector<float>> taps_;
    int stride_;  // floats per phase
    // The last length_ inputs as re, im pairs, each written twice (at head and head + length_)
    // so that the window from head on is always contiguous; what follows it up to the stride
    // meets zero taps.
    std::vector<float> window_;
    int head_ = 0;
};

}  // namespace dahlo::iq
