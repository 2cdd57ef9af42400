#pragma once
// Which heard calls become spots, so that loggers and the spotting network can trust them:
//   * busted copies: a call one edit (a character changed, added or dropped) from another heard
//     within 0.3 kHz in the last 10 minutes is the worse of the two unless it is the better:
//     a call in the known list beats one not in it, then the one heard more often there, then
//     the one heard first. The worse is never spotted and never becomes the station's call.
//   * confirmation: a call in the known list is spotted after one copy; any other after two at
//     the same frequency (0.2 kHz) within 10 minutes.
//   * dupes: a call spotted within 1 kHz is spotted again only after the respot time (a move of
//     up to 1 kHz is drift, not a new frequency); one that moved further is spotted at once.
// Times are seconds of the input, frequencies kHz; no clock, no I/O.

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace dahlo {

// A list of known callsigns (MASTER.SCP: one call a line, '#' comments, blank lines).
class KnownCalls {
  public:
    // Throws std::runtime_error with one line naming the file (and the line) when it cannot be
    // read, holds something that is not a call, or holds no call at all.
    static KnownCalls Load(const std::string& path);
    // From the text of such a file; `name` for the error.
    static KnownCalls Parse(std::string_view text, const std::string& name);

    bool Contains(const std::string& call) const { return calls_.count(call) != 0; }
    std::size_t Size() const { return calls_.size(); }

  private:
    std::set<std::string, std::less<>> calls_;
};

// Characters changed, added or dropped to make `a` into `b`, when at most one; else 2.
int EditsUpToOne(std::string_view a, std::string_view b);

class SpotRules {
  public:
    static constexpr double kMemoryS = 600.0;       // copies older than this are forgotten
    static constexpr double kBustedKhz = 0.3;       // a one-edit copy this near is a bust
    static constexpr double kConfirmKhz = 0.2;      // a second copy this near confirms a call
    static constexpr double kSameFrequencyKhz = 1.0;  // within this a respot is a dupe

    enum class Verdict { kSpot, kUnconfirmed, kDupe, kBusted };

    // `known` may be null (no list: every call needs two copies); it must outlive the rules.
    explicit SpotRules(const KnownCalls* known = nullptr, double respotS = 600.0)
        : known_(known), respotS_(respotS) {}

    // A copy of `call` heard at `freqKhz` at `seconds` (never earlier than the last one).
    Verdict Hear(const std::string& call, double freqKhz, double seconds);

  private:
    struct Copy {
        std::string call;
        double freqKhz;
        double seconds;
    };
    struct Standing {
        bool known;
        int copies;
        double first;
    };
    Standing StandingOf(const std::string& call, double freqKhz, double nearKhz) const;
    bool Better(const Standing& a, const Standing& b) const;

    const KnownCalls* known_;
    double respotS_;
    std::deque<Copy> copies_;  // oldest first
    struct Spotted {
        double freqKhz;
        double seconds;
    };
    std::map<std::string, Spotted> spotted_;
};

}  // namespace dahlo
