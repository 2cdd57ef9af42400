#include "morse/morse_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>


namespace dahlo {

DecodeResult MorseDecoder::DecodeSample(int rawKeyDown, KeyingDetector& keying,
                                        int integrationLength) {
    const int key = keying.IntegrateKey(rawKeyDown, integrationLength);
    if (key == 1) return KeyDown();
    if (KeyWasDown == 1) return MarkEnded();
    return SpaceGoesOn();
}

DecodeResult MorseDecoder::KeyDown() {
    if (KeyWasDown == 0) {
        // The space that just ended is sorted against the dot length it was measured with.
        const std::int64_t s = SpaceLength;
        const std::int64_t d = DotLength;
        if (s < (17 * d) / 10) {
            ElementGapAverage = (3 * s + ElementGapAverage) / 4;
        } else if (s < 5 * d) {
            LetterGapAverage = (3 * s + LetterGapAverage) / 4;
        } else if (s < 20 * d) {
            WordGapAverage = (3 * s + WordGapAverage) / 4;
        }
    }
    if (MarkLength < kMaxMarkLength) ++MarkLength;
    SpaceLength = 0;
    KeyWasDown = 1;
    SilenceDots = 0.0;
    LetterSent = 0;
    return {};
}

DecodeResult MorseDecoder::MarkEnded() {
    SpaceLength = 1;
    KeyWasDown = 0;
    const std::int64_t m = MarkLength;
    if (m > (16 * DotLength) / 10) {
        LastElement = 1;
        DotLength = (DotLength + m) / 4;  // a dash counts as three dots
        DashAverage = (3 * DashAverage + m) / 4;
    } else {
        LastElement = 0;
        DotLength = (3 * m + DotLength) / 4;
    }
    MarkLength = 0;
    if ((Code & kOverflowBit) == 0) {
        Code = (Code << 1) | static_cast<CodeWord>(LastElement);
    }
    return {};
}

DecodeResult MorseDecoder::SpaceGoesOn() {
    const std::int64_t d = DotLength;
    if (SpaceLength <= 25 * d) ++SpaceLength;
    const std::int64_t s = SpaceLength;
    if (!(SilenceDots > 10.0)) {
        // A dot length of 0 (only after a two-sample mark at D = 1) would make the step infinite.
        SilenceDots += 1.0 / static_cast<double>(d > 0 ? d : 1);
    }

    DecodeResult result;
    if (LetterSent == 0 && (s >= (18 * d) / 10 || s >= (15 * ElementGapAverage) / 10)) {
        result.kind = DecodeResult::kCharacter;
        result.code = Code;
        Code = kEmptyCodeWord;
        LetterSent = 1;
        ++CharCount;
        result.showSpeed = CharCount % 5 == 0;
        return result;
    }
    if (s == 5 * d) {
        result.kind = DecodeResult::kWordSpace;
        result.code = 0;
        result.showSpeed = CharCount > 4;
    }
    return result;
}

double MorseDecoder::Wpm() const {
    const std::int64_t sum = 10 * DotLength + 4 * DashAverage + 9 * ElementGapAverage +
                             4 * LetterGapAverage + WordGapAverage;
    return 661500.0 / static_cast<double>(sum);
}

int MorseDecoder::Lpm() const {
    const double lpm = Wpm() * 5.0 + 0.5;
    // Only a hand-made state (every average zero or negative) can leave the int range.
    if (!(lpm > std::numeric_limits<int>::min() && lpm < std::numeric_limits<int>::max())) {
        return lpm > 0 ? std::numeric_limits<int>::max() : 0;
    }
    return static_cast<int>(lpm);
}

void MorseDecoder::WarmStart(std::int64_t dot) {
    const std::int64_t d = std::clamp<std::int64_t>(dot, 1, kMaxMarkLength);
    DotLength = d;
    DashAverage = 3 * d;
    ElementGapAverage = d;
    LetterGapAverage = 3 * d;
    WordGapAverage = 7 * d;
    MarkLength = 0;
    SpaceLength = 25 * d + 1;
    LetterSent = 1;
    KeyWasDown = 0;
    Code = kEmptyCodeWord;
}

}  // namespace dahlo
