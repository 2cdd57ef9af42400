// Live capture check against a real sound server:
//   live_capture_main write-morse FILE TEXT   raw s16le 11025 Hz mono Morse audio of TEXT
//   live_capture_main capture SECONDS EXPECT  records from the default input through PortAudio
//                                             into a receiver until EXPECT is decoded
//   live_capture_main overrun                 keeps the loop from running until all sixteen
//                                             buffers are full and 2 s more, and checks the lost
//                                             audio is counted and capture goes on afterwards
//   live_capture_main watch BACKEND SECONDS   records from BACKEND (pulse or portaudio) for
//                                             SECONDS, until SIGINT or until the loop hears of a
//                                             fatal error, printing the wall-clock time of each
//                                             block, then stops and prints how long that took
// Exit codes of capture and watch: 0 decoded (capture) or ran its time (watch), 1 not decoded in
// time, 3 the input reported a fatal error (the message is printed), 2 usage.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "capture/capture.h"
#include "capture/portaudio_input.h"
#ifdef DAHLO_HAVE_PULSE
#include "capture/pulse_input.h"
#endif
#include "capture_harness.h"
#include "receiver/block_pump.h"
#include "support/morse_synth.h"

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

int WriteMorse(const char* path, const char* text) {
    dahlo::test::MorseSynthOptions options;
    options.wpm = 20;
    options.signal.pitch_hz = dahlo::kDefaultCentreBin * dahlo::kHzPerBin;
    options.signal.level_dbfs = -6.0;
    options.lead_silence_s = 1.0;
    const auto audio = dahlo::test::SynthesizeMorse(text, options);
    std::ofstream out(path, std::ios::binary);
    for (std::int16_t s : audio) {
        const char bytes[2] = {static_cast<char>(s & 0xFF), static_cast<char>((s >> 8) & 0xFF)};
        out.write(bytes, 2);
    }
    return out ? 0 : 2;
}

int Capture(int seconds, const std::string& expect) {
    using namespace std::chrono;
    dahlo::CaptureRing ring;
    dahlo::test::RecordingHost host;
    dahlo::BlockPump receiver(ring, host);
    dahlo::test::BlockEventLoop loop;
    host.loop = &loop;
    host.receiver = &receiver;
    dahlo::PortAudioInput input;

    if (!dahlo::OpenCapture(ring, input, loop, host, [&] { receiver.PrepareForCapture(); })) {
        for (const auto& fatal : host.fatals) {
            std::cout << "fatal: [" << fatal.caption << "] " << fatal.text << std::endl;
        }
        return 3;
    }
    std::cout << "capturing from \"" << input.DeviceName() << "\" at " << input.StreamSampleRate()
              << " Hz" << std::endl;

    const std::string wanted = Upper(expect);
    const bool decoded = loop.RunUntil(
        receiver,
        [&] { return !host.fatals.empty() || Upper(host.text).find(wanted) != std::string::npos; },
        duration_cast<milliseconds>(std::chrono::seconds(seconds)));
    const bool stopped = dahlo::StopCapture(ring);

    std::cout << "decoded: \"" << host.text << "\"\n"
              << "dropped samples: " << input.DroppedSamples() << ", overruns: " << input.Overruns()
              << ", stopped: " << stopped << std::endl;
    if (!host.fatals.empty()) {
        std::cout << "fatal: [" << host.fatals[0].caption << "] " << host.fatals[0].text
                  << std::endl;
        return 3;
    }
    return decoded ? 0 : 1;
}

int Overrun() {
    dahlo::CaptureRing ring;
    dahlo::test::RecordingHost host;
    dahlo::BlockPump receiver(ring, host);
    dahlo::test::BlockEventLoop loop;
    host.loop = &loop;
    host.receiver = &receiver;
    dahlo::PortAudioInput input;
    if (!dahlo::OpenCapture(ring, input, loop, host, [&] { receiver.PrepareForCapture(); })) {
        std::cout << "fatal: [" << host.fatals[0].caption << "] " << host.fatals[0].text
                  << std::endl;
        return 3;
    }
    std::cout << "capturing from \"" << input.DeviceName() << "\"; stalling" << std::endl;
    // Until every buffer is full, then two seconds more with nowhere to record.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (ring.WaitingBlocks.load() < dahlo::kBufferCount &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const int waiting = ring.WaitingBlocks.load();
    const int freeBuffers = ring.FreeBuffers.load();
    const std::uint64_t dropped = input.DroppedSamples();
    // Afterwards the loop catches up and recording resumes into the handed-back buffers.
    const int before = receiver.levels.newest;
    const bool resumed = loop.RunUntil(
        receiver,
        [&] {
            return (receiver.levels.newest - before + dahlo::kLevelHistorySize) %
                       dahlo::kLevelHistorySize >=
                   16 * 24;
        },
        std::chrono::milliseconds(15000));
    dahlo::StopCapture(ring);
    std::cout << "after the stall: waiting " << waiting << ", free " << freeBuffers
              << ", dropped samples " << dropped << " (" << dropped / dahlo::kBlockSamples
              << " blocks), overruns " << input.Overruns() << "; resumed: " << resumed << std::endl;
    const bool ok = waiting == 16 && freeBuffers == 0 && dropped > 11025 && resumed &&
                    input.Overruns() >= 1 && host.fatals.empty();
    return ok ? 0 : 1;
}

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted.store(true); }

double WallSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Blocks as the loop takes them, with the wall clock, so that a script can line them up with
// what it did to the sound server.
int Watch(const std::string& backend, int seconds) {
    using namespace std::chrono;
    std::unique_ptr<dahlo::SoundInput> input;
    if (backend == "portaudio") input = std::make_unique<dahlo::PortAudioInput>();
#ifdef DAHLO_HAVE_PULSE
    if (backend == "pulse") input = std::make_unique<dahlo::PulseInput>();
#endif
    if (!input) {
        std::cerr << "no such backend here: " << backend << "\n";
        return 2;
    }
    dahlo::CaptureRing ring;
    dahlo::test::RecordingHost host;
    dahlo::BlockPump receiver(ring, host);
    dahlo::test::BlockEventLoop loop;
    host.loop = &loop;
    host.receiver = &receiver;
    std::cout << std::fixed << std::setprecision(3);
    if (!dahlo::OpenCapture(ring, *input, loop, host, [&] { receiver.PrepareForCapture(); })) {
        std::cout << "fatal: [" << host.fatals[0].caption << "] " << host.fatals[0].text
                  << std::endl;
        return 3;
    }
    std::cout << "capturing through " << backend << std::endl;
    std::signal(SIGINT, &OnInterrupt);
    int blocks = 0;
    const auto end = steady_clock::now() + std::chrono::seconds(seconds);
    while (host.fatals.empty() && steady_clock::now() < end && !interrupted.load()) {
        loop.RunUntil(
            receiver, [&] { return !host.fatals.empty(); }, milliseconds(100));
        if (loop.Posted() != blocks) {
            blocks = loop.Posted();
            std::cout << "block " << blocks << " at " << WallSeconds() << std::endl;
        }
    }
    if (!host.fatals.empty()) {
        std::cout << "fatal at " << WallSeconds() << ": [" << host.fatals[0].caption << "] "
                  << host.fatals[0].text << std::endl;
    }
    const auto stopStart = steady_clock::now();
    dahlo::StopCapture(ring);
    input.reset();
    std::cout << "stopped in "
              << duration_cast<milliseconds>(steady_clock::now() - stopStart).count() << " ms"
              << std::endl;
    return host.fatals.empty() ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write-morse" && argc == 4) return WriteMorse(argv[2], argv[3]);
    if (mode == "overrun" && argc == 2) return Overrun();
    if (mode == "capture" && argc == 4) return Capture(std::atoi(argv[2]), argv[3]);
    if (mode == "watch" && argc == 4) return Watch(argv[2], std::atoi(argv[3]));
    std::cerr << "usage: live_capture_main write-morse FILE TEXT | capture SECONDS EXPECT | "
                 "overrun | watch pulse|portaudio SECONDS\n";
    return 2;
}
