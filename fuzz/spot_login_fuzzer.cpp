// A spot-server client's bytes come from the network: any bytes, cut anywhere, must end in a
// callsign that keeps its promises, a refusal, or more reading — never anything else.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "spots/telnet_login.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using dahlo::LoginReader;
    if (size < 2) return 0;
    // The first byte cuts the rest into reads of 1..16 bytes, as the network may.
    const std::size_t step = 1 + data[0] % 16;
    LoginReader reader(64, 4096);
    LoginReader::State last = LoginReader::State::kReading;
    for (std::size_t at = 1; at < size; at += step) {
        const std::size_t n = size - at < step ? size - at : step;
        const LoginReader::State state = reader.Feed(data + at, n);
        // A login or a refusal is final.
        FUZZ_CHECK(last == LoginReader::State::kReading || state == last);
        last = state;
    }
    const std::string& call = reader.Call();
    FUZZ_CHECK(call.size() <= 64);
    for (const char c : call) FUZZ_CHECK(c >= 0x20 && c < 0x7f && !(c >= 'a' && c <= 'z'));
    if (last == LoginReader::State::kLoggedIn) {
        FUZZ_CHECK(!call.empty() && call.front() != ' ' && call.back() != ' ');
    }
    return 0;
}
