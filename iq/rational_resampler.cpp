#include "iq/rational_resampler.h"

#include <experimental/simd>
#include <stdexcept>

namespace dahlo::iq {

namespace {

namespace stdx = std::experimental;
using Floats = stdx::native_simd<float>;
constexpr int kLanes = static_cast<int>(Floats::size());

}  // namespace

RationalResampler::RationalResampler(int interp, int decim, const std::vector<float>& prototype,
                                     float scale)
    : interp_(interp), decim_(decim) {
    if (interp < 1 || decim < 1 || prototype.empty() ||
        prototype.size() % static_cast<std::size_t>(interp) != 0) {
        throw std::invalid_argument("rational resampler: taps are not a whole number per phase");
    }
    length_ = static_cast<int>(prototype.size()) / interp;
    stride_ = (length_ + kLanes - 1) / kLanes * kLanes;
    auto taps = std::make_shared<std::vector<float>>(static_cast<std::size_t>(interp) * stride_);
    for (int phase = 0; phase < interp; ++phase) {
        for (int j = 0; j < length_; ++j) {
            // Window slot j holds the input length_ - 1 - j places before the newest.
            (*taps)[static_cast<std::size_t>(phase * stride_ + j)] =
                scale * prototype[static_cast<std::size_t>(phase + (length_ - 1 - j) * interp)];
        }
    }
    taps_ = std::move(taps);
    re_.assign(static_cast<std::size_t>(2 * stride_), 0.0f);
    im_.assign(static_cast<std::size_t>(2 * stride_), 0.0f);
}

void RationalResampler::Push(std::complex<float> x) {
    // The window is re_[head_ .. head_ + length_ - 1], oldest first; what lies beyond it up to
    // the padded stride meets zero taps.
    re_[static_cast<std::size_t>(head_)] = re_[static_cast<std::size_t>(head_ + length_)] = x.real();
    im_[static_cast<std::size_t>(head_)] = im_[static_cast<std::size_t>(head_ + length_)] = x.imag();
    head_ = head_ + 1 == length_ ? 0 : head_ + 1;
}

std::complex<float> RationalResampler::Output(int phase) const {
    const float* tap = taps_->data() + static_cast<std::ptrdiff_t>(phase) * stride_;
    const float* re = re_.data() + head_;
    const float* im = im_.data() + head_;
    Floats sumRe = 0.0f;
    Floats sumIm = 0.0f;
    for (int j = 0; j < stride_; j += kLanes) {
        const Floats t(tap + j, stdx::element_aligned);
        sumRe += t * Floats(re + j, stdx::element_aligned);
        sumIm += t * Floats(im + j, stdx::element_aligned);
    }
    return {stdx::reduce(sumRe), stdx::reduce(sumIm)};
}

void RationalResampler::Execute(const std::complex<float>* in, std::complex<float>* out) {
    int phase = 0;
    int n = 0;
    for (int i = 0; i < decim_; ++i) {
        Push(in[i]);
        for (; phase < interp_; phase += decim_) out[n++] = Output(phase);
        phase -= interp_;
    }
}

}  // namespace dahlo::iq
