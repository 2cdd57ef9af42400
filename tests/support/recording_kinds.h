#pragma once
// Synthesized recordings of the kinds that a decoder with no operator meets off the air: speed
// steps, hand keying, Farnsworth and other long gaps, weak signals under a receiver's noise, the
// noise a receiver's AGC lifts after the signal ends, pauses between beacon idents. Four variants
// of each (texts, speeds, pitches, levels and noise differ); deterministic.

#include <cstdint>
#include <string>
#include <vector>

namespace dahlo::test {

enum class RecordingKind {
    kSpeedStep,       // 15 WPM, then 30 WPM from the middle of the text on
    kHandKeyed,       // 18 WPM, every element and gap with 10 % timing jitter
    kFarnsworth,      // characters at 20 WPM, gaps stretched to 10 WPM overall
    kLongLetterGaps,  // 20 WPM, 6..13 dots between the letters of a word, 21 between words
    kPlain800Hz,      // 20 WPM at 800 Hz: for standard input and --live
    kWeakSignal,      // a 4 s call at -48 dBFS, 0 dB SNR, in 50 s of a receiver's noise
    kNoiseTail,       // 10 to 25 s of CW, then the receiver's noise rising by 25 dB for 150 s
    kIdentPause,      // a beacon ident twice with 3.5 s between; the AGC lifts the noise there
};

struct KindRecording {
    std::vector<std::int16_t> samples;
    std::string sent;  // lower case, one blank between words
};

// `variant` 0..3; `noisy` adds white noise at +3 dB SNR in 2500 Hz (kinds that bring no noise of
// their own).
KindRecording MakeKindRecording(RecordingKind kind, int variant, bool noisy = false);

// The kind's name for tables.
const char* KindName(RecordingKind kind);

// A receiver's audio noise: white Gaussian noise through its passband `low_hz`..`high_hz` (fourth
// order), scaled so that a tone of peak `amplitude` stands `snr_db` above all of it, times
// 10^(gain_db[n] / 20) at sample n when `gain_db` is not empty (the AGC); `seed` picks the noise.
struct Passband {
    double low_hz = 300.0;
    double high_hz = 2700.0;
};
std::vector<double> ReceiverNoise(std::size_t samples, double amplitude, double snr_db,
                                  const std::vector<double>& gain_db, std::uint64_t seed,
                                  Passband band = {});

}  // namespace dahlo::test
