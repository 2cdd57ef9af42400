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
    // From the few words before it: BEACON after VVV, TEST after CQ TEST, DX after CQ DX, CQ
    // after CQ, else DE.
    SpotKind kind = SpotKind::kDe;
};

// Follows the words of one channel. A callsign counts when it comes right after CQ, TEST or DE
// (or after those and one garbled word of five or more letters without a digit), or twice in a
// row; its kind comes from the few words before it.
class CallWatcher {
  public:
    std::optional<HeardCall> AddWord(std::string_view word);

  private:
    std::string previous_;
    bool cued_ = false;  // the next callsign answers a CQ, TEST or DE
    std::deque<std::string> before_;  // the words before this one, newest last
};

}  // namespace dahlo
