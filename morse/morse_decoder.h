#pragma once
// Morse timing: turns the debounced key into marks and spaces, dots and dashes, code words,
// character ends and word spaces, following the sender's speed with running averages.
// Lengths are in samples. The arithmetic is that of signed 32-bit integers with the product formed
// before a truncating division; it is carried out in 64 bits so that a carrier left on for hours
// cannot overflow, and every run short enough for 32 bits gives the very same results.

#include <cstdint>

#include "morse/keying_detector.h"

namespace dahlo {

// Code word: marker bit 1 above the elements (dash 1, dot 0, first element highest). 1 is a
// character without elements; 0 asks for a word space. Bit 31 set: overflowed (over 31 elements).
using CodeWord = std::uint32_t;

inline constexpr CodeWord kEmptyCodeWord = 1;
inline constexpr CodeWord kOverflowBit = 0x80000000u;

struct DecodeResult {
    enum Kind : std::uint8_t { kNothing = 0, kCharacter, kWordSpace };
    Kind kind = kNothing;
    bool showSpeed = false;  // the speed panels are due (every fifth character, word spaces)
    CodeWord code = 0;       // the finished character; 0 for a word space
};

class MorseDecoder {
  public:
    // A single mark stops being counted here (about 3000 years of carrier), so that no product
    // of the timing rules can leave 64 bits whatever the input.
    static constexpr std::int64_t kMaxMarkLength = std::int64_t{1} << 50;

    std::int64_t KeyWasDown = 0;
    std::int64_t DotLength = 13000;  // D
    std::int64_t MarkLength = 13000;
    std::int64_t SpaceLength = 13000;  // capped at 25 D + 1
    std::int64_t DashAverage = 39000;
    std::int64_t ElementGapAverage = 13000;
    std::int64_t LetterGapAverage = 39000;
    std::int64_t WordGapAverage = 91000;
    CodeWord Code = kEmptyCodeWord;  // the character being received
    std::int64_t LetterSent = 0;     // 1 once the present space has ended a character
    std::int64_t LastElement = 0;    // 1 dash, 0 dot
    std::int64_t CharCount = 0;      // characters handed out since start
    double SilenceDots = 10.0;       // length of the present silence in dot lengths

    // One sample: runs the keying integrator on `rawKeyDown`, then times the debounced key.
    // Must be called exactly once per sample.
    DecodeResult DecodeSample(int rawKeyDown, KeyingDetector& keying, int integrationLength);

    // Speed from the running averages: 661500 / (10 D + 4 dash + 9 element gap + 4 letter gap +
    // word gap) words per minute; letters per minute = wpm * 5 rounded (halves up).
    double Wpm() const;
    int Lpm() const;

    // Starts as if after a long silence at dot length `dot` (for decoding a file whose speed is
    // known beforehand): no start-up character, and the first mark is measured from zero. Also
    // empties the character being received and marks the key up. A dot below 1 is taken as 1.
    void WarmStart(std::int64_t dot);

  private:
    DecodeResult KeyDown();
    DecodeResult MarkEnded();
    DecodeResult SpaceGoesOn();
};

}  // namespace dahlo
