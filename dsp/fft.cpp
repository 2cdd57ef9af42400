#include "dsp/fft.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace dahlo {
namespace {

// Short-module constants at 14 significant digits; the results depend on exactly these values.
constexpr double A3 = -1.5;               // cos(2pi/3) - 1
constexpr double B3 = 0.86602540378444;   // sin(2pi/3)
constexpr double A5 = -1.25;              // (cos u + cos 2u)/2 - 1, u = 2pi/5
constexpr double B5 = 0.55901699437495;   // (cos u - cos 2u)/2
constexpr double C5 = -0.95105651629515;  // -sin u
constexpr double D5 = -1.5388417685876;   // -(sin u + sin 2u)
constexpr double E5 = 0.36327126400268;   // sin u - sin 2u
constexpr double R8 = 0.70710678118655;   // 1/sqrt 2

// The passes of one length. radix[i], span[i] (product of the earlier radices) and after[i + 1]
// (product of the later radices) describe pass i; after[0] = n. Lives on the stack: with the
// preferred radices at most one factor is 2 and the rest are at least 3, so a 32-bit length has
// at most 19 factors.
struct FftPlan {
    int count = 0;
    std::array<int, kMaxFftFactors> radix{};
    std::array<int, kMaxFftFactors> span{};
    std::array<int, kMaxFftFactors + 1> after{};
};

FftPlan MakePlan(int n) {
    std::array<int, kMaxFftFactors> found{};
    int count = 0;
    if (n == 1) found[count++] = 1;

    int rest = n;
    constexpr std::array<int, 6> kPreferred = {10, 8, 5, 4, 3, 2};
    for (std::size_t p = 0; rest > 1 && p < kPreferred.size();) {
        if (rest % kPreferred[p] == 0) {
            rest /= kPreferred[p];
            found[count++] = kPreferred[p];
        } else {
            ++p;
        }
    }
    // A final 2 and an earlier 8 become two 4s: two radix-4 passes are cheaper than 8 and 2.
    if (count > 0 && found[count - 1] == 2) {
        for (int j = count - 2; j >= 0; --j) {
            if (found[j] == 8) {
                found[j] = 4;
                found[count - 1] = 4;
                break;
            }
        }
    }
    if (rest > 1) {
        for (int k = 2; k < std::sqrt(static_cast<double>(rest)) + 1.0; ++k) {
            while (rest % k == 0) {
                rest /= k;
                found[count++] = k;
            }
        }
        if (rest > 1) found[count++] = rest;
    }

    FftPlan plan;
    plan.count = count;
    for (int i = 0; i < count; ++i) plan.radix[i] = found[count - 1 - i];
    plan.after[0] = n;
    int span = 1;
    for (int i = 0; i < count; ++i) {
        plan.span[i] = span;
        plan.after[i + 1] = plan.after[i] / plan.radix[i];
        span *= plan.radix[i];
    }
    return plan;
}

// Output position p = sum d_i span_i takes input q = sum d_i after_{i+1}, counted up digit by
// digit so that each position costs one addition.
void PermuteInput(const FftPlan& plan, int n, const std::int16_t* samples, double* re, double* im) {
    std::array<int, kMaxFftFactors + 1> digit{};
    int q = 0;
    for (int p = 0; p < n - 1; ++p) {
        re[p] = samples[q];
        im[p] = 0.0;
        q += plan.after[1];
        int j = 0;
        ++digit[0];
        while (digit[j] >= plan.radix[j]) {
            digit[j] = 0;
            q = q - plan.after[j] + plan.after[j + 2];
            ++j;
            ++digit[j];
        }
    }
    re[n - 1] = samples[n - 1];
    im[n - 1] = 0.0;
}

inline void Dft2(double* zr, double* zi) {
    const double r0 = zr[0], i0 = zi[0];
    zr[0] = r0 + zr[1];
    zi[0] = i0 + zi[1];
    zr[1] = r0 - zr[1];
    zi[1] = i0 - zi[1];
}

inline void Dft3(double* zr, double* zi) {
    const double tr = zr[1] + zr[2], ti = zi[1] + zi[2];
    const double dr = zr[1] - zr[2], di = zi[1] - zi[2];
    zr[0] += tr;
    zi[0] += ti;
    const double ur = zr[0] + A3 * tr, ui = zi[0] + A3 * ti;
    const double vr = B3 * di, vi = -B3 * dr;
    zr[1] = ur + vr;
    zi[1] = ui + vi;
    zr[2] = ur - vr;
    zi[2] = ui - vi;
}

// Length 4 on z[0], z[step], z[2 step], z[3 step].
inline void Dft4(double* zr, double* zi, int step) {
    double* r0 = zr;
    double* i0 = zi;
    double* r1 = zr + step;
    double* i1 = zi + step;
    double* r2 = zr + 2 * step;
    double* i2 = zi + 2 * step;
    double* r3 = zr + 3 * step;
    double* i3 = zi + 3 * step;
    const double t1r = *r0 + *r2, t1i = *i0 + *i2;
    const double t2r = *r1 + *r3, t2i = *i1 + *i3;
    const double ur = *r0 - *r2, ui = *i0 - *i2;
    const double vr = *i1 - *i3, vi = *r3 - *r1;
    *r0 = t1r + t2r;
    *i0 = t1i + t2i;
    *r2 = t1r - t2r;
    *i2 = t1i - t2i;
    *r1 = ur + vr;
    *i1 = ui + vi;
    *r3 = ur - vr;
    *i3 = ui - vi;
}

inline void Dft8(double* zr, double* zi) {
    Dft4(zr, zi, 2);          // a = z0, z2, z4, z6
    Dft4(zr + 1, zi + 1, 2);  // b = z1, z3, z5, z7
    double br[4] = {zr[1], zr[3], zr[5], zr[7]};
    double bi[4] = {zi[1], zi[3], zi[5], zi[7]};
    const double ar[4] = {zr[0], zr[2], zr[4], zr[6]};
    const double ai[4] = {zi[0], zi[2], zi[4], zi[6]};
    double x = br[1], y = bi[1];
    br[1] = R8 * (x + y);
    bi[1] = R8 * (y - x);
    x = br[2];
    y = bi[2];
    br[2] = y;
    bi[2] = -x;
    x = br[3];
    y = bi[3];
    br[3] = R8 * (y - x);
    bi[3] = -R8 * (x + y);
    for (int k = 0; k < 4; ++k) {
        zr[k] = ar[k] + br[k];
        zi[k] = ai[k] + bi[k];
        zr[k + 4] = ar[k] - br[k];
        zi[k + 4] = ai[k] - bi[k];
    }
}

// Length 5 on the five values in (xr, xi), in place.
inline void Dft5(double* xr, double* xi) {
    const double t1r = xr[1] + xr[4], t1i = xi[1] + xi[4];
    const double t2r = xr[2] + xr[3], t2i = xi[2] + xi[3];
    const double t3r = xr[1] - xr[4], t3i = xi[1] - xi[4];
    const double t4r = xr[3] - xr[2], t4i = xi[3] - xi[2];
    const double t5r = t1r + t2r, t5i = t1i + t2i;
    xr[0] += t5r;
    xi[0] += t5i;
    // i (x, y) = (-y, x)
    const double p1r = A5 * t5r, p1i = A5 * t5i;
    const double p2r = B5 * (t1r - t2r), p2i = B5 * (t1i - t2i);
    const double p3r = -C5 * (t3i + t4i), p3i = C5 * (t3r + t4r);
    const double p4r = -D5 * t4i, p4i = D5 * t4r;
    const double p5r = -E5 * t3i, p5i = E5 * t3r;
    const double s1r = xr[0] + p1r, s1i = xi[0] + p1i;
    const double s2r = s1r + p2r, s2i = s1i + p2i;
    const double s3r = p3r - p4r, s3i = p3i - p4i;
    const double s4r = s1r - p2r, s4i = s1i - p2i;
    const double s5r = p3r + p5r, s5i = p3i + p5i;
    xr[1] = s2r + s3r;
    xi[1] = s2i + s3i;
    xr[2] = s4r + s5r;
    xi[2] = s4i + s5i;
    xr[3] = s4r - s5r;
    xi[3] = s4i - s5i;
    xr[4] = s2r - s3r;
    xi[4] = s2i - s3i;
}

// Good-Thomas 10 = 2 * 5: no twiddles between the two short passes.
inline void Dft10(double* zr, double* zi) {
    double ar[5] = {zr[0], zr[2], zr[4], zr[6], zr[8]};
    double ai[5] = {zi[0], zi[2], zi[4], zi[6], zi[8]};
    double br[5] = {zr[5], zr[7], zr[9], zr[1], zr[3]};
    double bi[5] = {zi[5], zi[7], zi[9], zi[1], zi[3]};
    Dft5(ar, ai);
    Dft5(br, bi);
    constexpr int kSum[5] = {0, 6, 2, 8, 4};
    constexpr int kDifference[5] = {5, 1, 7, 3, 9};
    for (int k = 0; k < 5; ++k) {
        zr[kSum[k]] = ar[k] + br[k];
        zi[kSum[k]] = ai[k] + bi[k];
        zr[kDifference[k]] = ar[k] - br[k];
        zi[kDifference[k]] = ai[k] - bi[k];
    }
}

// Any odd length r (also 1), from the root table of r: pairs j, r - j share the products.
void DftOdd(FftWorkspace& w, int r) {
    double* zr = w.zRe.data();
    double* zi = w.zIm.data();
    const int h = (r + 1) / 2;
    for (int j = 1; j < h; ++j) {
        w.sigmaRe[j] = zr[j] + zr[r - j];
        w.sigmaIm[j] = zi[j] - zi[r - j];
        w.deltaRe[j] = zr[j] - zr[r - j];
        w.deltaIm[j] = zi[j] + zi[r - j];
    }
    for (int j = 1; j < h; ++j) {
        double lowRe = zr[0], lowIm = zi[0];    // z_j
        double highRe = zr[0], highIm = zi[0];  // z_(r-j)
        int k = j;
        for (int l = 1; l < h; ++l) {
            const double p1 = w.rootRe[k] * w.sigmaRe[l];
            const double p2 = w.rootIm[k] * w.sigmaIm[l];
            const double p3 = w.rootRe[k] * w.deltaIm[l];
            const double p4 = w.rootIm[k] * w.deltaRe[l];
            highRe += p1 + p2;
            highIm += p3 - p4;
            lowRe += p1 - p2;
            lowIm += p3 + p4;
            k += j;
            if (k >= r) k -= r;
        }
        zr[j] = lowRe;
        zi[j] = lowIm;
        zr[r - j] = highRe;
        zi[r - j] = highIm;
    }
    for (int j = 1; j < h; ++j) {
        zr[0] += w.sigmaRe[j];
        zi[0] += w.deltaIm[j];
    }
}

template <int R>
inline void ShortDft(double* zr, double* zi) {
    if constexpr (R == 2) Dft2(zr, zi);
    if constexpr (R == 3) Dft3(zr, zi);
    if constexpr (R == 4) Dft4(zr, zi, 1);
    if constexpr (R == 5) Dft5(zr, zi);
    if constexpr (R == 8) Dft8(zr, zi);
    if constexpr (R == 10) Dft10(zr, zi);
}

// The pass's root table: rho_k = rho_1^k by repeated products.
void MakeRoots(FftWorkspace& w, int r, double pi) {
    w.rootRe[0] = 1.0;
    w.rootIm[0] = 0.0;
    if (r < 2) return;
    w.rootRe[1] = std::cos(2.0 * pi / r);
    w.rootIm[1] = -std::sin(2.0 * pi / r);
    for (int k = 2; k < r; ++k) {
        w.rootRe[k] = w.rootRe[1] * w.rootRe[k - 1] - w.rootIm[1] * w.rootIm[k - 1];
        w.rootIm[k] = w.rootRe[1] * w.rootIm[k - 1] + w.rootIm[1] * w.rootRe[k - 1];
    }
}

// Running twiddle of one pass: group g gets T_j = t^j with t = e^(-2 pi i g / (s r)), and t moves
// on by one rotation per group.
struct Twiddler {
    double cosOmega, sinOmega;
    double tRe = 1.0, tIm = 0.0;

    Twiddler(int s, int r, double pi) {
        const double omega = 2.0 * pi / (static_cast<double>(s) * r);
        cosOmega = std::cos(omega);
        sinOmega = std::sin(omega);
    }
    void NextGroup(double* tableRe, double* tableIm, int r) {
        tableRe[0] = 1.0;
        tableIm[0] = 0.0;
        tableRe[1] = tRe;
        tableIm[1] = tIm;
        for (int j = 2; j < r; ++j) {
            tableRe[j] = tRe * tableRe[j - 1] - tIm * tableIm[j - 1];
            tableIm[j] = tRe * tableIm[j - 1] + tIm * tableRe[j - 1];
        }
        const double nextRe = cosOmega * tRe + sinOmega * tIm;
        tIm = -sinOmega * tRe + cosOmega * tIm;
        tRe = nextRe;
    }
};

// One pass: for every group g of the span, m blocks of r elements at stride s, each twiddled by
// T_j and run through the short DFT of length r. The short lengths keep z and the twiddles in
// registers; the arithmetic is the same as through the workspace.
template <int R>
void RunShortPass(int s, int m, double pi, double* re, double* im) {
    Twiddler twiddler(s, R, pi);
    double twRe[R] = {}, twIm[R] = {};
    double zr[R], zi[R];
    const int blockStride = s * R;
    for (int g = 0; g < s; ++g) {
        if (s > 1) twiddler.NextGroup(twRe, twIm, R);
        for (int b = 0; b < m; ++b) {
            double* bre = re + g + b * blockStride;
            double* bim = im + g + b * blockStride;
            for (int j = 0; j < R; ++j) {
                zr[j] = bre[j * s];
                zi[j] = bim[j * s];
            }
            if (g > 0) {
                for (int j = 1; j < R; ++j) {
                    const double x = zr[j], y = zi[j];
                    zr[j] = twRe[j] * x - twIm[j] * y;
                    zi[j] = twRe[j] * y + twIm[j] * x;
                }
            }
            ShortDft<R>(zr, zi);
            for (int j = 0; j < R; ++j) {
                bre[j * s] = zr[j];
                bim[j * s] = zi[j];
            }
        }
    }
}

// A pass of any other (odd) radix, through the workspace tables.
void RunOddPass(FftWorkspace& w, int r, int s, int m, double pi, double* re, double* im) {
    MakeRoots(w, r, pi);
    Twiddler twiddler(s, r, pi);
    double* zr = w.zRe.data();
    double* zi = w.zIm.data();
    const int blockStride = s * r;
    for (int g = 0; g < s; ++g) {
        if (s > 1) twiddler.NextGroup(w.twiddleRe.data(), w.twiddleIm.data(), r);
        for (int b = 0; b < m; ++b) {
            const int base = g + b * blockStride;
            for (int j = 0; j < r; ++j) {
                zr[j] = re[base + j * s];
                zi[j] = im[base + j * s];
            }
            if (g > 0) {
                for (int j = 1; j < r; ++j) {
                    const double x = zr[j], y = zi[j];
                    zr[j] = w.twiddleRe[j] * x - w.twiddleIm[j] * y;
                    zi[j] = w.twiddleRe[j] * y + w.twiddleIm[j] * x;
                }
            }
            DftOdd(w, r);
            for (int j = 0; j < r; ++j) {
                re[base + j * s] = zr[j];
                im[base + j * s] = zi[j];
            }
        }
    }
}

void RunPass(FftWorkspace& w, int r, int s, int m, double pi, double* re, double* im) {
    switch (r) {
        case 2:
            return RunShortPass<2>(s, m, pi, re, im);
        case 3:
            return RunShortPass<3>(s, m, pi, re, im);
        case 4:
            return RunShortPass<4>(s, m, pi, re, im);
        case 5:
            return RunShortPass<5>(s, m, pi, re, im);
        case 8:
            return RunShortPass<8>(s, m, pi, re, im);
        case 10:
            return RunShortPass<10>(s, m, pi, re, im);
        default:
            return RunOddPass(w, r, s, m, pi, re, im);
    }
}

}  // namespace

void MixedRadixFft(FftWorkspace& work, int n, const std::int16_t* samples, double* re, double* im) {
    if (n < 1) return;  // nothing to transform, and no last element to write
    const double pi = 4.0 * std::atan(1.0);
    const FftPlan plan = MakePlan(n);
    for (int i = 0; i < plan.count; ++i) {
        if (plan.radix[i] > kMaxFftFactor) {
            std::printf("\nPrime factor of FFT length too large : %6d", plan.radix[i]);
            std::fflush(stdout);
            std::exit(1);
        }
    }
    PermuteInput(plan, n, samples, re, im);
    for (int i = 0; i < plan.count; ++i) {
        RunPass(work, plan.radix[i], plan.span[i], plan.after[i + 1], pi, re, im);
    }
}

std::vector<int> FftStages(int n) {
    if (n < 1) return {};
    const FftPlan plan = MakePlan(n);
    return std::vector<int>(plan.radix.begin(), plan.radix.begin() + plan.count);
}

}  // namespace dahlo
