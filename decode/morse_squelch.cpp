#include "decode/morse_squelch.h"

#include <algorithm>
#include <cstdlib>

namespace dahlo {

double MorseTextScore(std::string_view text) { return LookAtText(text).score; }

TextLook LookAtText(std::string_view text) {
    TextLook look;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ' || text[at] == '\n') {
            ++at;
            continue;
        }
        // A word, with a "{ . - }" form read as one piece even though it holds blanks.
        std::size_t end = at;
        bool undecodable = false;
        bool onlyShort = true;
        int characters = 0;
        while (end < text.size() && text[end] != ' ' && text[end] != '\n') {
            const char c = text[end];
            if (c == '{') {
                const std::size_t close = text.find('}', end);
                end = close == std::string_view::npos ? text.size() : close + 1;
                undecodable = true;
                ++characters;
                continue;
            }
            if (c == '#') undecodable = true;
            if (std::string_view("etianm").find(c) == std::string_view::npos) onlyShort = false;
            // Count characters, not the bytes of a UTF-8 sequence.
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
            ++end;
        }
        if (undecodable || onlyShort) {
            look.score -= 2.0 * characters;
        } else {
            look.score += characters;
            look.plausibleCharacters += characters;
        }
        at = end;
    }
    return look;
}

void WordSquelch::Add(std::string bytes, int characters, std::string_view text, std::int64_t sample,
                      bool out, int marks, int tonedMarks) {
    const bool undecodable = text.find_first_of("#{") != std::string_view::npos;
    words_.push_back(Word{std::move(bytes), characters, MorseTextScore(text), sample, out,
                          undecodable, marks, tonedMarks});
    while (next_ + kSquelchNeighbours < words_.size()) Decide(next_++);
    Trim();
}

void WordSquelch::Advance(std::int64_t sample) {
    // Only a pause in the keying ends the wait: while characters come (a long word at a slow
    // speed takes longer than the wait), each word waits for its neighbours.
    const std::int64_t last =
        words_.empty() ? activity_ : std::max(activity_, words_.back().sample);
    if (sample - last <= kSquelchWaitSamples) return;
    while (next_ < words_.size()) Decide(next_++);
    Trim();
}

void WordSquelch::Finish() {
    while (next_ < words_.size()) Decide(next_++);
    Trim();
}

void WordSquelch::Decide(std::size_t index) {
    const Word& word = words_[index];
    const std::size_t first = index >= kSquelchNeighbours ? index - kSquelchNeighbours : 0;
    const std::size_t last = std::min(words_.size() - 1, index + kSquelchNeighbours);
    double before = 0.0;
    double after = 0.0;
    for (std::size_t j = first; j <= last; ++j) {
        if (j == index || std::llabs(words_[j].sample - word.sample) > kSquelchContextSamples) {
            continue;
        }
        (j < index ? before : after) += words_[j].score;
    }
    // A plausible word needs Morse on one side only, so that the first and last words next to
    // noise stay; a junk word needs it on both, so that the noise next to text goes. Between
    // words of Morse on both sides, a word of short letters is as likely a word of the text
    // that came out garbled: half its weight is enough there.
    const double weight = word.undecodable ? word.score : word.score / 2.0;
    const bool kept = word.score > 0.0 ? word.score + std::max(before, after) > 0.0
                                       : weight + std::min(before, after) > 0.0;
    if (!decided) return;
    if (word.marks > 0 && 2 * word.tonedMarks >= word.marks) {
        decided(word, true);
    } else if (word.marks > 0 && word.tonedMarks == 0) {
        decided(word, false);
    } else {
        decided(word, !word.out && kept);
    }
}

void WordSquelch::Trim() {
    // Decided words stay only as long as a later word may still look back at them.
    while (next_ > static_cast<std::size_t>(kSquelchNeighbours)) {
        words_.pop_front();
        --next_;
    }
}

}  // namespace dahlo
