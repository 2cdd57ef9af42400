#pragma once
// A squelch on the decoded text: stretches whose keying does not look like Morse sent by a person
// (noise keyed into the decoder after a signal ends, in a pause, under a deep fade) print nothing.
// It judges words, each together with its neighbours, by the same score that picks the presets
// of a fading recording, and so holds every word back until its neighbours are known.

#include "dsp/sample_rate.h"
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace dahlo {

// How much decoded text looks like Morse sent by a person rather than noise keyed into the
// decoder: characters of plausible words count +1, characters of junk words -2. Junk words are
// those holding an undecodable form ('#' or "{ ... }") and those made only of the one- and
// two-element letters e, t, i, a, n, m, which noise produces. Empty text scores 0.
double MorseTextScore(std::string_view text);
// The same score, and how many characters stand in plausible words.
struct TextLook {
    double score = 0.0;
    int plausibleCharacters = 0;
};
TextLook LookAtText(std::string_view text);

// Words in, each kept or dropped. Where the signal tells (the word's marks were measured), it
// decides: a word most of whose marks the tone stood out during is the sender's and is kept,
// even where the look at the input thought the signal absent; a word none of whose marks had the
// tone is noise and is dropped. Otherwise (some marks with the tone, or none measured) the
// letters decide, by the scores of up to kSquelchNeighbours words either side
// (those within kSquelchContextSamples of it): a plausible word is kept when its score and those
// of the words on one side add up to more than 0, a junk word when they do on both sides (so that
// the first and last words of text next to noise stay, and the noise next to text goes), a junk
// word of short letters only with half its own score. A word the caller marks as out (sent where
// the signal is not) is dropped whatever its score, and its score still counts for its
// neighbours. A word is decided once kSquelchNeighbours later words are in, once the decode has
// gone kSquelchWaitSamples past the last character without a new one, or at Finish: the squelch
// holds text back by three words, or five seconds into a pause.
inline constexpr int kSquelchNeighbours = 3;
inline constexpr std::int64_t kSquelchContextSamples = 30LL * kSampleRateHz;
inline constexpr std::int64_t kSquelchWaitSamples = 5LL * kSampleRateHz;

class WordSquelch {
  public:
    struct Word {
        std::string bytes;   // as they would be written
        int characters = 0;  // characters in it
        double score = 0.0;
        std::int64_t sample = 0;  // where its last character was given out
        bool out = false;
        bool undecodable = false;  // holds a form no character has
        // Evidence from the signal: the word's marks, and those the tone stood out during
        // (0 marks: not measured).
        int marks = 0;
        int tonedMarks = 0;
    };
    // Told each word in order, and whether it is kept.
    std::function<void(const Word& word, bool kept)> decided;

    // A finished word; `text` is its UTF-8 text, for the score.
    void Add(std::string bytes, int characters, std::string_view text, std::int64_t sample,
             bool out = false, int marks = 0, int tonedMarks = 0);
    // A character came at `sample` (the keying goes on).
    void Activity(std::int64_t sample) { activity_ = sample; }
    // The decode has reached `sample`: decides the words whose context is complete.
    void Advance(std::int64_t sample);
    // Decides every word still held.
    void Finish();
    bool Holding() const { return next_ < words_.size(); }

  private:
    void Decide(std::size_t index);
    void Trim();

    std::deque<Word> words_;  // the decided ones kept for the look back, then the held ones
    std::size_t next_ = 0;    // index of the first word not yet decided
    std::int64_t activity_ = 0;
};

}  // namespace dahlo
