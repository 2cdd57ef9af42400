// dahlo-decode: the receiver without a window.

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include "cli/decode_main.h"

namespace {

// Set by Ctrl-C; a signal handler can reach nothing but a global.
std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    dahlo::DecodeStreams streams;
    streams.progressBar = ::isatty(STDERR_FILENO) == 1;
    streams.stop = &interrupted;
    // Ctrl-C ends a live run (sound card, SDR or --live-iq), and closes a spot server's
    // connections before the program ends.
    bool stopOnInterrupt = false;
    for (const auto& a : args) {
        stopOnInterrupt = stopOnInterrupt || a == "--live" || a == "--live-iq" ||
                          a.rfind("--sdr", 0) == 0 || a.rfind("--spot-port", 0) == 0;
    }
    if (stopOnInterrupt) {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    return dahlo::RunDecodeTool(args, streams);
}
