#include "dsp/fft.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <random>
#include <string>
#include <vector>

// Counts every allocation of the test program, so a test can prove the transform makes none.
namespace {
std::atomic<long> allocationCount{0};
}  // namespace

void* operator new(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace dahlo {
namespace {

using LongComplex = std::complex<long double>;

std::vector<std::int16_t> RandomSamples(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::int16_t> samples(n);
    for (auto& s : samples) s = static_cast<std::int16_t>(dist(rng));
    return samples;
}

// Direct O(n^2) forward DFT in long double, roots taken from one exact table.
std::vector<LongComplex> DirectDft(const std::vector<std::int16_t>& x) {
    const int n = static_cast<int>(x.size());
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<LongComplex> roots(n);
    for (int j = 0; j < n; ++j) {
        const long double angle = -2.0L * pi * j / n;
        roots[j] = LongComplex(std::cos(angle), std::sin(angle));
    }
    std::vector<LongComplex> out(n);
    for (int k = 0; k < n; ++k) {
        LongComplex sum = 0;
        for (int m = 0; m < n; ++m) {
            sum += static_cast<long double>(x[m]) * roots[static_cast<long long>(k) * m % n];
        }
        out[k] = sum;
    }
    return out;
}

struct Transform {
    std::vector<double> re, im;
};

Transform RunFft(FftWorkspace& work, const std::vector<std::int16_t>& x) {
    const int n = static_cast<int>(x.size());
    Transform t{std::vector<double>(n), std::vector<double>(n)};
    MixedRadixFft(work, n, x.data(), t.re.data(), t.im.data());
    return t;
}

// Largest error relative to the largest reference magnitude.
double RelativeError(const Transform& t, const std::vector<LongComplex>& ref) {
    long double worst = 0, largest = 0;
    for (std::size_t k = 0; k < ref.size(); ++k) {
        const LongComplex got(t.re[k], t.im[k]);
        worst = std::max(worst, std::abs(got - ref[k]));
        largest = std::max(largest, std::abs(ref[k]));
    }
    return largest == 0 ? static_cast<double>(worst) : static_cast<double>(worst / largest);
}

bool HasFactorAbove37(int n) {
    const auto stages = FftStages(n);
    return std::any_of(stages.begin(), stages.end(), [](int r) { return r > kMaxFftFactor; });
}

// 1..64 without 41, 43, 47, 53, 59 and 61, which the transform refuses (tested below).
std::vector<int> AccuracyLengths() {
    std::vector<int> lengths;
    for (int n = 1; n <= 64; ++n) {
        if (!HasFactorAbove37(n)) lengths.push_back(n);
    }
    for (int n : {2048, 128, 1000, 7 * 11 * 13, 74, 2 * 37 * 3, 1024}) {
        lengths.push_back(n);
    }
    return lengths;
}

TEST(MixedRadixFft, MatchesDirectDftForManyLengths) {
    FftWorkspace work;
    double worstOverall = 0.0;
    int worstLength = 0;
    for (int n : AccuracyLengths()) {
        const auto x = RandomSamples(n, 1234u + n);
        const double error = RelativeError(RunFft(work, x), DirectDft(x));
        EXPECT_LT(error, 1e-9) << "n = " << n;
        if (error > worstOverall) {
            worstOverall = error;
            worstLength = n;
        }
        if (n == 2048 || n == 1001 || n == 222 || n == 37) {
            std::cout << "[ info     ] n = " << n << ": relative error " << error << "\n";
        }
    }
    std::cout << "[ info     ] worst relative error " << worstOverall << " at n = " << worstLength
              << "\n";
}

TEST(MixedRadixFft, WorkspaceCarriesNothingBetweenCalls) {
    FftWorkspace shared;
    for (int n : {37, 2048, 1001, 30, 74, 2048}) {
        const auto x = RandomSamples(n, 99u + n);
        FftWorkspace fresh;
        const Transform reused = RunFft(shared, x);
        const Transform clean = RunFft(fresh, x);
        EXPECT_EQ(reused.re, clean.re) << "n = " << n;
        EXPECT_EQ(reused.im, clean.im) << "n = " << n;
    }
}

TEST(MixedRadixFft, StagesFollowThePreferredRadices) {
    EXPECT_EQ(FftStages(2048), (std::vector<int>{4, 8, 8, 8}));
    EXPECT_EQ(FftStages(128), (std::vector<int>{4, 4, 8}));
    EXPECT_EQ(FftStages(16), (std::vector<int>{4, 4}));
    EXPECT_EQ(FftStages(1024), (std::vector<int>{4, 4, 8, 8}));
    EXPECT_EQ(FftStages(30), (std::vector<int>{3, 10}));
    EXPECT_EQ(FftStages(20), (std::vector<int>{2, 10}));
    EXPECT_EQ(FftStages(1), (std::vector<int>{1}));
    EXPECT_EQ(FftStages(2), (std::vector<int>{2}));
    EXPECT_EQ(FftStages(1001), (std::vector<int>{13, 11, 7}));
    EXPECT_EQ(FftStages(49), (std::vector<int>{7, 7}));
    EXPECT_EQ(FftStages(74), (std::vector<int>{37, 2}));
    EXPECT_EQ(FftStages(82), (std::vector<int>{41, 2}));
    EXPECT_TRUE(FftStages(0).empty());
}

TEST(MixedRadixFft, StagesMultiplyToTheLength) {
    for (int n = 1; n <= 5000; ++n) {
        const auto stages = FftStages(n);
        long long product = 1;
        for (int r : stages) product *= r;
        ASSERT_EQ(product, n) << "n = " << n;
        ASSERT_LE(stages.size(), static_cast<std::size_t>(kMaxFftFactors));
    }
}

TEST(MixedRadixFft, ZeroConstantAndSingleSample) {
    FftWorkspace work;
    const Transform zero = RunFft(work, std::vector<std::int16_t>(2048, 0));
    EXPECT_TRUE(std::all_of(zero.re.begin(), zero.re.end(), [](double v) { return v == 0.0; }));
    EXPECT_TRUE(std::all_of(zero.im.begin(), zero.im.end(), [](double v) { return v == 0.0; }));

    constexpr double kK = -1234.0;
    const Transform constant = RunFft(work, std::vector<std::int16_t>(2048, -1234));
    EXPECT_EQ(constant.re[0], 2048.0 * kK);
    EXPECT_EQ(constant.im[0], 0.0);
    double rest = 0.0;
    for (int k = 1; k < 2048; ++k)
        rest = std::max(rest, std::hypot(constant.re[k], constant.im[k]));
    EXPECT_LT(rest, 1e-9 * 2048.0 * std::abs(kK));

    const Transform single = RunFft(work, std::vector<std::int16_t>{-32768});
    EXPECT_EQ(single.re[0], -32768.0);
    EXPECT_EQ(single.im[0], 0.0);
}

TEST(MixedRadixFft, BinCentredSineGives1024TimesAmplitude) {
    FftWorkspace work;
    constexpr double kAmplitude = 8192.0;
    const double pi = std::acos(-1.0);
    for (int k0 : {1, 185, 450, 1023}) {
        std::vector<std::int16_t> x(2048);
        for (int m = 0; m < 2048; ++m) {
            x[m] = static_cast<std::int16_t>(
                std::lround(kAmplitude * std::sin(2 * pi * k0 * m / 2048)));
        }
        const Transform t = RunFft(work, x);
        const double expected = 1024.0 * kAmplitude;
        // Rounding the samples to integers leaves at most 2048 * 0.5 in any bin.
        const double quantisation = 1024.0;
        EXPECT_NEAR(std::hypot(t.re[k0], t.im[k0]), expected, quantisation) << "k0 = " << k0;
        EXPECT_NEAR(std::hypot(t.re[2048 - k0], t.im[2048 - k0]), expected, quantisation);
        // A sine transforms to -i 1024 A at k0.
        EXPECT_LT(t.im[k0], 0.0);
        double leak = 0.0;
        for (int k = 0; k < 2048; ++k) {
            if (k != k0 && k != 2048 - k0) leak = std::max(leak, std::hypot(t.re[k], t.im[k]));
        }
        EXPECT_LT(leak, quantisation) << "k0 = " << k0;
    }
}

TEST(MixedRadixFft, RealInputGivesConjugateSymmetry) {
    FftWorkspace work;
    for (int n : {2048, 1000, 1001, 222}) {
        const Transform t = RunFft(work, RandomSamples(n, 7u * n));
        double largest = 0.0;
        for (int k = 0; k < n; ++k) largest = std::max(largest, std::hypot(t.re[k], t.im[k]));
        for (int k = 1; k < n; ++k) {
            ASSERT_NEAR(t.re[n - k], t.re[k], 1e-12 * largest) << "n = " << n << ", k = " << k;
            ASSERT_NEAR(t.im[n - k], -t.im[k], 1e-12 * largest) << "n = " << n << ", k = " << k;
        }
    }
}

TEST(MixedRadixFft, AllocatesNothing) {
    FftWorkspace work;
    const auto x = RandomSamples(2048, 5u);
    std::vector<double> re(2048), im(2048);
    const long before = allocationCount.load();
    for (int i = 0; i < 10; ++i) MixedRadixFft(work, 2048, x.data(), re.data(), im.data());
    const long after = allocationCount.load();
    EXPECT_EQ(after - before, 0);
    // The counter must really see allocations, or the check above proves nothing.
    auto probe = std::make_unique<int>(1);
    EXPECT_GT(allocationCount.load(), after);
}

// What a child process running the transform wrote to stdout and stderr, and how it ended.
struct ChildResult {
    int status = -1;
    std::string out, err;
    bool outputUntouched = false;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, got);
    return text;
}

ChildResult TransformInChild(int n) {
    ChildResult result;
    const auto x = RandomSamples(n, 3u);
    // Output arrays shared with the child, so the parent sees whether it wrote anything.
    const std::size_t bytes = 2 * n * sizeof(double);
    auto* shared = static_cast<double*>(
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (shared == MAP_FAILED) return result;
    std::fill(shared, shared + 2 * n, 12345.0);
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        close(outPipe[0]);
        close(errPipe[0]);
        FftWorkspace work;
        MixedRadixFft(work, n, x.data(), shared, shared + n);
        std::fflush(stdout);
        _exit(0);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    result.out = ReadAll(outPipe[0]);
    result.err = ReadAll(errPipe[0]);
    close(outPipe[0]);
    close(errPipe[0]);
    waitpid(pid, &result.status, 0);
    result.outputUntouched =
        std::all_of(shared, shared + 2 * n, [](double v) { return v == 12345.0; });
    munmap(shared, bytes);
    return result;
}

TEST(MixedRadixFft, FactorAbove37IsRefusedOnStdout) {
    const ChildResult refused = TransformInChild(82);  // 2 * 41
    ASSERT_TRUE(WIFEXITED(refused.status));
    EXPECT_EQ(WEXITSTATUS(refused.status), 1);
    EXPECT_EQ(refused.out, "\nPrime factor of FFT length too large :     41");
    EXPECT_EQ(refused.err, "");
    EXPECT_TRUE(refused.outputUntouched);

    for (int prime : {41, 43, 47, 53, 59, 61}) {
        const ChildResult alone = TransformInChild(prime);
        ASSERT_TRUE(WIFEXITED(alone.status));
        EXPECT_EQ(WEXITSTATUS(alone.status), 1) << prime;
        const std::string expected = "\nPrime factor of FFT length too large :     ";
        EXPECT_EQ(alone.out.substr(0, expected.size()), expected) << prime;
        EXPECT_EQ(alone.out.substr(expected.size()), std::to_string(prime));
    }

    // The largest allowed factor goes through, silently.
    const ChildResult accepted = TransformInChild(74);  // 2 * 37
    ASSERT_TRUE(WIFEXITED(accepted.status));
    EXPECT_EQ(WEXITSTATUS(accepted.status), 0);
    EXPECT_EQ(accepted.out, "");
    EXPECT_FALSE(accepted.outputUntouched);
}

TEST(MixedRadixFftDeathTest, FactorAbove37ExitsWithStatus1) {
    const auto x = RandomSamples(43 * 3, 11u);
    std::vector<double> re(x.size()), im(x.size());
    // Death tests capture stderr only: send stdout there and silence the real stderr, so the
    // message matches only if it was written to stdout.
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            const int capture = dup(STDERR_FILENO);
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDERR_FILENO);
            dup2(capture, STDOUT_FILENO);
            FftWorkspace work;
            MixedRadixFft(work, static_cast<int>(x.size()), x.data(), re.data(), im.data());
        },
        ::testing::ExitedWithCode(1), "^\nPrime factor of FFT length too large :     43$");
}

}  // namespace
}  // namespace dahlo
