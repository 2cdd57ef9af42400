#include "iq/rational_resampler.h"

#include <cstring>
#include <stdexcept>

namespace dahlo::iq {

namespace {

// The window and the taps are interleaved (re, im, re, im, ... against t0, t0, t1, t1, ...), so
// that one vector of products serves both parts. Partial sums stay apart in the lanes of two
// vectors, added up at the end: SSE does a vector in two halves, AVX2 (where the processor has
// it) in one, and both add in the same order, so the output is the same bits on any processor.
constexpr int kLanes = 8;
using Lanes [[gnu::vector_size(kLanes * sizeof(float))]] = float;
constexpr int kFloatsPerStep = 2 * kLanes;  // two vectors per step, for two chains of additions

#if defined(__x86_64__)
#define DAHLO_VECTOR_CLONES [[gnu::target_clones("avx2", "default")]]
#else
#define DAHLO_VECTOR_CLONES
#endif

// The dot product of `taps` with the interleaved `window`, `floats` (a multiple of
// kFloatsPerStep) long.
[[gnu::always_inline]] inline std::complex<float> Dot(const float* taps, const float* window, int floats) {
    Lanes a = {};
    Lanes b = {};
    for (int j = 0; j < floats; j += kFloatsPerStep) {
        Lanes t, x, u, y;
        std::memcpy(&t, taps + j, sizeof t);
        std::memcpy(&x, window + j, sizeof x);
        std::memcpy(&u, taps + j + kLanes, sizeof u);
        std::memcpy(&y, window + j + kLanes, sizeof y);
        a += t * x;
        b += u * y;
    }
    const Lanes sum = a + b;
    float re = 0.0f;
    float im = 0.0f;
    for (int lane = 0; lane < kLanes; lane += 2) {
        re += sum[lane];
        im += sum[lane + 1];
    }
    return {re, im};
}

}  // namespace

RationalResampler::RationalResampler(int interp, int decim, const std::vector<float>& prototype,
                                     float scale)
    : interp_(interp), decim_(decim) {
    if (interp < 1 || decim < 1 || prototype.empty() ||
        prototype.size() % static_cast<std::size_t>(interp) != 0) {
        throw std::invalid_argument("rational resampler: taps are not a whole number per phase");
    }
    length_ = static_cast<int>(prototype.size()) / interp;
    stride_ = (2 * length_ + kFloatsPerStep - 1) / kFloatsPerStep * kFloatsPerStep;
    auto taps = std::make_shared<std::vector<float>>(static_cast<std::size_t>(interp) * stride_);
    for (int phase = 0; phase < interp; ++phase) {
        for (int j = 0; j < length_; ++j) {
            // Window slot j holds the input length_ - 1 - j places before the newest.
            const float tap =
                scale * prototype[static_cast<std::size_t>(phase + (length_ - 1 - j) * interp)];
            (*taps)[static_cast<std::size_t>(phase * stride_ + 2 * j)] = tap;
            (*taps)[static_cast<std::size_t>(phase * stride_ + 2 * j + 1)] = tap;
        }
    }
    taps_ = std::move(taps);
    window_.assign(static_cast<std::size_t>(2 * length_ + stride_), 0.0f);
}

// Out of the class so that the processor's best clone of it runs with the dot products inlined.
DAHLO_VECTOR_CLONES
int RationalResampler::Run(RationalResampler& r, const std::complex<float>* in,
                           std::complex<float>* out) {
    const float* taps = r.taps_->data();
    float* window = r.window_.data();
    int head = r.head_;
    int phase = 0;
    int n = 0;
    for (int i = 0; i < r.decim_; ++i) {
        // The window is window[2 * head ..] for length_ inputs, oldest first; what lies beyond
        // it up to the stride meets zero taps.
        window[2 * head] = window[2 * (head + r.length_)] = in[i].real();
        window[2 * head + 1] = window[2 * (head + r.length_) + 1] = in[i].imag();
        head = head + 1 == r.length_ ? 0 : head + 1;
        for (; phase < r.interp_; phase += r.decim_) {
            out[n++] = Dot(taps + static_cast<std::ptrdiff_t>(phase) * r.stride_, window + 2 * head,
                           r.stride_);
        }
        phase -= r.interp_;
    }
    return head;
}

// After Run: clang refuses to make clones of a function already called.
void RationalResampler::Execute(const std::complex<float>* in, std::complex<float>* out) {
    head_ = Run(*this, in, out);
}

}  // namespace dahlo::iq
