// Raw IQ streams handed to dahlo-decode (`--iq - --iq-format F`): any bytes in any format must
// read to the end as whole samples, each finite and, for integer formats, within full scale;
// a stream that ends inside a sample says so through Damage(). The first byte picks the format
// and how many samples each Read asks for; the rest is the stream.

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "iq/iq_source.h"

namespace {

constexpr dahlo::iq::IqFormat kFormats[] = {
    dahlo::iq::IqFormat::kCu8,  dahlo::iq::IqFormat::kCi8,  dahlo::iq::IqFormat::kCs16,
    dahlo::iq::IqFormat::kCu16, dahlo::iq::IqFormat::kCi32, dahlo::iq::IqFormat::kCf32,
};
constexpr std::size_t kFormatCount = sizeof kFormats / sizeof kFormats[0];
// Read sizes from 1 sample (a sample split over reads of the stream) to more than any input
// holds (a read that meets the end).
constexpr std::size_t kReadSizes[] = {1, 3, 1000, 40000};
constexpr std::size_t kReadSizeCount = sizeof kReadSizes / sizeof kReadSizes[0];
// Rate of the stream: any in range; the reader only uses it for the time in its messages.
constexpr double kRateHz = 48000.0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dahlo::iq;
    if (size == 0) return 0;
    const IqFormat format = kFormats[data[0] % kFormatCount];
    const std::size_t readSize = kReadSizes[(data[0] / kFormatCount) % kReadSizeCount];
    const std::uint8_t* bytes = data + 1;
    const std::size_t byteCount = size - 1;
    // fmemopen refuses a zero-sized buffer; an empty stream is /dev/null's.
    std::FILE* stream = byteCount > 0 ? fmemopen(const_cast<std::uint8_t*>(bytes), byteCount, "rb")
                                      : std::fopen("/dev/null", "rb");
    if (stream == nullptr) std::abort();
    auto source = OpenRawIq(stream, "stdin", format, kRateHz);
    std::vector<std::complex<float>> buffer(readSize);
    const bool integer = format != IqFormat::kCf32;
    std::size_t total = 0;
    for (;;) {
        const std::size_t got = source->Read(buffer.data(), buffer.size());
        FUZZ_CHECK(got <= buffer.size());
        for (std::size_t i = 0; i < got; ++i) {
            const float re = buffer[i].real();
            const float im = buffer[i].imag();
            FUZZ_CHECK(std::isfinite(re) && std::isfinite(im));
            if (integer) FUZZ_CHECK(std::fabs(re) <= 1.0f && std::fabs(im) <= 1.0f);
        }
        total += got;
        if (got < buffer.size()) break;
    }
    FUZZ_CHECK(source->Ended());
    const std::size_t perSample = BytesPerSample(format);
    FUZZ_CHECK(total == byteCount / perSample);
    FUZZ_CHECK(source->Damage().empty() == (byteCount % perSample == 0));
    FUZZ_CHECK(source->Read(buffer.data(), buffer.size()) == 0);
    source.reset();
    std::fclose(stream);
    return 0;
}
