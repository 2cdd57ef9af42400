// SigMF recordings handed to dahlo-decode: any metadata text must either open, with a rate and
// centre the receiver accepts, or be refused with IqError. The input is the metadata; after a
// NUL byte come the bytes of the data file (no NUL: there is no data file). The pair lives in a
// scratch directory, since the reader finds the data beside the metadata by name.

#include <stdlib.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "iq/iq_source.h"

namespace {

// Samples read from an opened recording: enough to cross the reader's chunk of raw bytes.
constexpr std::size_t kSamplesToRead = 20000;

// A directory of this input's own, gone when the input is done (libFuzzer may end the process
// with _Exit, so nothing is left for exit handlers).
struct ScratchDirectory {
    std::filesystem::path path;
    ScratchDirectory() {
        std::string name =
            (std::filesystem::temp_directory_path() / "dahlo-fuzz-sigmf-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) std::abort();
        path = name;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void WriteFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dahlo::iq;
    const ScratchDirectory directory;
    const std::filesystem::path meta = directory.path / "r.sigmf-meta";
    const std::filesystem::path samples = directory.path / "r.sigmf-data";
    std::size_t metaSize = 0;
    while (metaSize < size && data[metaSize] != 0) ++metaSize;
    WriteFile(meta, data, metaSize);
    if (metaSize < size) WriteFile(samples, data + metaSize + 1, size - metaSize - 1);
    try {
        auto source = OpenIqFile(meta.string());
        FUZZ_CHECK(source->RateHz() >= kMinRateHz && source->RateHz() <= kMaxRateHz);
        if (source->CentreHz()) {
            FUZZ_CHECK(*source->CentreHz() >= 0.0 && *source->CentreHz() <= kMaxCentreHz);
        }
        std::vector<std::complex<float>> buffer(kSamplesToRead);
        const std::size_t got = source->Read(buffer.data(), buffer.size());
        FUZZ_CHECK(got <= buffer.size());
        for (std::size_t i = 0; i < got; ++i) {
            FUZZ_CHECK(std::isfinite(buffer[i].real()) && std::isfinite(buffer[i].imag()));
        }
        if (got < buffer.size()) FUZZ_CHECK(source->Ended());
    } catch (const IqError& e) {
        // Refused with a message: the expected outcome for most inputs; one line only.
        FUZZ_CHECK(std::string(e.what()).find('\n') == std::string::npos);
    }
    return 0;
}
