#pragma once
// Callsigns in decoded text: which words are shaped like an amateur callsign, and when a channel's
// text says that a callsign is the sender's.

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "skimmer/spot.h"

namespace dahlo {

// An upper-case word shaped like an amateur callsign: a prefix (one or two letters, a digit and
// one or two letters, or a letter and a digit), one or two digits, a suffix of one to four
// letters, 3..10 characters in all; optionally with a portable prefix or suffix ("DL/K1ABC",
// "K1ABC/P", "K1ABC/3"). Never 5NN, TU, TNX or a number.
bool IsCallsign(std::string_view word);

struct HeardCall {
    std::string call;
    // BEACON after VVV, for a call ending in /B or /BCN, or in a message sent again unchanged;
    // else from the few words before it: TEST after CQ TEST, DX after CQ DX, CQ after CQ, DE.
    SpotKind kind = SpotKind::kDe;
    // Copies of the call this hearing stands for: 2 when a message was found sent twice.
    int copies = 1;
};

// Follows the words of one channel. A callsign counts when it comes right after CQ, TEST or DE
// (or after those and one garbled word of five or more letters without a digit), or twice in a
// row; its kind comes from the few words before it. A message of 2..kMaxMessageWords words with
// one callsign, another word and no CQ or TEST, sent twice in a row unchanged, is a beacon's:
// its call counts at the end of every copy, and as BEACON while the message goes on unchanged.
class CallWatcher {
  public:
    // A beacon's message: call, locator, a few words; longer repeats are a CQ loop or a QSO.
    static constexpr std::size_t kMaxMessageWords = 12;

    // The callsign this word makes heard as the sender's, if any (at most one per word).
    std::optional<HeardCall> AddWord(std::string_view word);

  private:
    // After `word` was added: a message just sent twice, or one more copy of the beacon's.
    std::optional<std::string> FollowRepeats();

    std::string previous_;
    bool cued_ = false;  // the next callsign answers a CQ, TEST or DE
    std::deque<std::string> words_;  // the last 2 * kMaxMessageWords words, newest last
    std::string beaconCall_;  // the call of the message repeating now, if any
    std::size_t beaconWords_ = 0;  // its length in words
    std::size_t beaconPhase_ = 0;  // words into its current copy
};

}  // namespace dahlo
