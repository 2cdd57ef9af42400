// Charset files come from the user's disk: any bytes must load without a fault, every entry
// read must keep its promises, and every code word must render within its bound afterwards.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "morse/charset.h"

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dahlo;

    // The line reader on its own: it must always move forward and stop at the end.
    ByteStream stream{data, data + size};
    int entries = 0;
    for (;;) {
        const unsigned char* before = stream.pos;
        int code = -1;
        char text[16];
        std::memset(text, 'x', sizeof text);
        const int r = ReadCharsetLine(stream, code, text);
        FUZZ_CHECK(r >= -1 && r <= 2);
        FUZZ_CHECK(stream.pos >= before && stream.pos <= stream.end);
        if (r == -1) break;
        FUZZ_CHECK(stream.pos > before);
        if (r == 0) {
            ++entries;
            FUZZ_CHECK(code >= 0 && code < 256);
            const std::size_t len = strnlen(text, sizeof text);
            FUZZ_CHECK(len >= 1 && len <= 15);
        }
    }
    FUZZ_CHECK(entries <= static_cast<int>(size));

    // The whole loader, then a rendering of every code word kind.
    Charsets charsets;
    const int loaded =
        charsets.LoadUserCharsetBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(loaded == 0 || loaded == -1);
    for (const auto& entry : charsets.UserCharsetTable()) {
        FUZZ_CHECK(strnlen(entry.data(), entry.size()) < entry.size());
    }
    charsets.Charset = kUserDefined;
    const std::uint32_t codes[] = {0u,   1u,          2u,          5u,          255u,
                                   256u, 0x7fffffffu, 0x80000000u, 0xffffffffu, 0x80012345u};
    for (std::uint32_t code : codes) {
        FUZZ_CHECK(charsets.CodeToText(code).size() <= kMaxCodeText);
    }
    for (std::uint32_t code = 0; code < 256; ++code) {
        FUZZ_CHECK(charsets.CodeToText(code).size() <= kMaxCodeText);
    }
    return 0;
}
