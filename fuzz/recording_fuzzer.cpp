// Recordings handed to dahlo-decode: any bytes, as a file of any format libsndfile knows, must
// either be refused with InputError or read to the end with samples that fit their count.
// The bytes live in an in-memory file reached through /proc/self/fd, so nothing touches disk.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "recording/sample_source.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dahlo;
    const int fd = memfd_create("dahlo-fuzz-recording", 0);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        auto source = OpenAudioFile(path);
        const std::int64_t length = source->Length();
        FUZZ_CHECK(length >= -1);  // -1: the header does not say
        std::vector<std::int16_t> buffer(4096);
        std::int64_t total = 0;
        // A tiny file may announce hours of audio at a low rate; read a bounded amount.
        for (int pass = 0; pass < 2; ++pass) {
            total = 0;
            for (int chunk = 0; chunk < 64; ++chunk) {
                const std::size_t got = source->Read(buffer.data(), buffer.size());
                FUZZ_CHECK(got <= buffer.size());
                total += static_cast<std::int64_t>(got);
                if (got == 0) break;
            }
            if (!source->Rewind()) break;
        }
        FUZZ_CHECK(total >= 0);
    } catch (const InputError&) {
        // Refused with a message: the expected outcome for most inputs.
    }
    close(fd);
    return 0;
}
