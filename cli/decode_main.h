#pragma once
// The whole of dahlo-decode as a function, so that tests can run it without a process.

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace dahlo {

struct DecodeStreams {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool progressBar = false;  // draw progress on `err` for a file longer than a minute
    const std::atomic<bool>* stop = nullptr;  // set to end --live (and any decoding) early
};

inline constexpr int kExitOk = 0;
inline constexpr int kExitPartial = 1;  // the input ended in damage; what came before was decoded
inline constexpr int kExitFailure = 2;

// Runs dahlo-decode with the arguments after the program name; returns the exit status.
int RunDecodeTool(const std::vector<std::string>& args, const DecodeStreams& streams);

}  // namespace dahlo
