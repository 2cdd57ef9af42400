#pragma once
// Morse timing: turns the debounced key into marks and spaces, dots and dashes, code words,
// character ends and word spaces, following the sender's speed with running averages.
// Lengths are in samples. The arithmetic is that of signed 32-bit integers with the product formed
// before a truncating division; it is carried out in 64 bits so that a carrier left on for hours
// cannot overflow, and every run short enough for 32 bits gives the very same results.

#include <cstdint>
#include <string>

#include "dsp/keying_detector.h"

namespace dahlo {

// Code word: marker bit 1 above the elements (dash 1, dot 0, first element highest). 1 is a
// character without elements; 0 asks for a word space. Bit 31 set: overflowed (over 31 elements).
using CodeWord = std::uint32_t;

struct DecodeResult {
    enum Kind : std::uint8_t { kNothing = 0, kCharacter, kWordSpace };
    Kind kind = kNothing;
    bool showSpeed = false;  // the speed panels are due (every fifth character, word spaces)
    CodeWord code = 0;       // the finished character; 0 for a word space
};

class MorseDecoder {
public:
    std::int64_t KeyWasDown = 0;
    std::int64_t DotLength = 13000;
    std::int64_t MarkLength = 13000;
    std::int64_t SpaceLength = 13000;
    std::int64_t DashAverage = 39000;
    std::int64_t ElementGapAverage = 13000;
    std::int64_t LetterGapAverage = 39000;
    std::int64_t WordGapAverage = 91000;
    CodeWord Code = 1;  // the character being received
    std::int64_t LetterSent = 0;
    std::int64_t LastElement = 0;
    std::int64_t CharCount = 0;
    double SilenceDots = 10.0;  // length of the present silence in dot lengths

    // One sample: runs the keying integrator on `rawKeyDown`, then times the debounced key.
    DecodeResult DecodeSample(int rawKeyDown, KeyingDetector& keying, int integrationLength);

    // Speed from the running averages: 661500 / (10 D + 4 dash + 9 element gap + 4 letter gap +
    // word gap) words per minute; letters per minute = wpm * 5 rounded.
    double Wpm() const;
    int Lpm() const;

    // Starts as if after a long silence at dot length `dot` (for decoding a file whose speed is
    // known beforehand).
    void WarmStart(std::int64_t dot);
};

// The panel texts: "100 LPM" and "20.0 WPM".
std::string LpmText(const MorseDecoder& decoder);
std::string WpmText(const MorseDecoder& decoder);

}  // namespace dahlo
