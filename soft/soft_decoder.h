#pragma once
// Soft-decision Morse decoding for weak signals.
//
// The method: the tone is mixed to zero at the given pitch and integrated over slots of a quarter
// dot; each slot's sum gives a log-likelihood ratio of mark against space, partially coherent:
// a carrier phase loop on settled marks (following a pitch a few hertz off) lets marks add as
// one matched filter, mixed with the unknown-phase model by how well each fits; noise floor and
// mark level are tracked from run interiors so slow fading is followed. A Viterbi
// search (a mark run scored on its whole sum where the phase holds across it) over an
// explicit-duration model of Morse timing (dots, dashes, gaps of 1, 3 and 7 dots, as tight
// as the sender keys: measured, a keyer's exact, a hand's spread) and the code tree of the
// English table (only its characters, the rarer punctuation weighed down) finds the likeliest
// keying; runs older than a fixed lag are read as characters. The speed is measured from the
// first seconds of signal
// (the timing model at a ladder of speeds, the best-fitting one wins) and then follows the
// decoded elements.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace dahlo {

inline constexpr int kSoftSampleRateHz = 11025;

struct SoftDecoderConfig {
    double pitch_hz = 700.0;  // the tone to decode, 100..5000 Hz (clamped)
    // The sender's dot length in samples when known (clamped to 5..60 WPM); 0: measured.
    double dot_samples = 0.0;
    // Characters whose confidence is below this are not handed out (0: all of them).
    double min_confidence = 0.0;
    // Mark runs also read as one matched filter over their whole sum: for input as received.
    // Off for input through a narrow channel filter, whose smeared mark tails the whole sums
    // would take into the marks (dots read as dashes).
    bool whole_runs = true;
    // The timing model's spread follows the sender's keying (tight for a keyer): the weak
    // signal's gain. Off: one spread loose enough for any hand, as for every trial speed.
    bool follow_keying = true;
    // Only keyings whose characters are in the English table (punctuation weighed down) are
    // read: a weak signal's doubtful marks resolve to characters. Off: any keying, and codes
    // outside the table are dropped (for input where marks of noise or a neighbour are common).
    bool code_tree = true;
};

struct SoftChar {
    std::int64_t sample = 0;  // input sample index where the character's first mark begins
    std::int64_t end_sample = 0;  // ... and where its last mark ends
    std::array<char, 4> text{};  // Windows-1251 bytes from the English table, zero-terminated
    std::uint32_t code = 0;   // the code word: a leading 1, then 1 per dash and 0 per dot
    bool word_space_before = false;
    double wpm = 0.0;         // the sender's speed at this character
    double confidence = 0.0;  // 0..1: how sure the character's marks are signal, not noise
};

class SoftTrack;

class SoftDecoder {
  public:
    explicit SoftDecoder(const SoftDecoderConfig& config);
    ~SoftDecoder();
    SoftDecoder(const SoftDecoder&) = delete;
    SoftDecoder& operator=(const SoftDecoder&) = delete;

    // Decodes `count` samples following all earlier ones; finished characters are appended to
    // `out` (at most a few seconds after they were sent). Any block size gives the same output.
    // Allocates nothing once `out` has room.
    void Process(const std::int16_t* samples, std::size_t count, std::vector<SoftChar>& out);
    // End of input: hands out everything still held back. Process may not follow without Reset.
    void Flush(std::vector<SoftChar>& out);
    // Back to the state right after construction.
    void Reset();

    // Present speed estimate (0 before the speed is known).
    double Wpm() const;
    // Running estimate 0..1 that a Morse signal is being received (for squelch); 0 until locked.
    double SignalPresence() const;
    // Estimated SNR of the marks in 2500 Hz, in dB (very low before lock).
    double SnrDb() const;
    // True once the speed has been measured and decoding has begun.
    bool Locked() const { return locked_; }
    // Input before this sample index has been read: its characters are out (0 before lock).
    std::int64_t DecidedUntil() const;
    // Whether the input read so far ends inside a character, not yet handed out.
    bool InCharacter() const;

  private:
    void TryAcquire(std::vector<SoftChar>& out, std::size_t valid);
    void EstimateLevels(std::size_t valid, double& noise, double& signal_per_sample);

    SoftDecoderConfig config_;
    std::unique_ptr<SoftTrack> main_;
    std::vector<std::unique_ptr<SoftTrack>> candidates_;
    std::vector<std::int16_t> history_;  // ring of the last acquisition window of input
    std::vector<std::int16_t> window_;   // the same in time order
    std::vector<double> levelSlots_;     // energies of short slots for the first level guess
    std::int64_t received_ = 0;          // samples seen so far
    std::int64_t nextAttempt_ = 0;       // sample count at which to try to lock next
    bool locked_ = false;
};

}  // namespace dahlo
