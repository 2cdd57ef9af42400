#include "skimmer/callsign.h"

#include <cctype>

namespace dahlo {

namespace {

bool IsLetter(char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The callsign proper, without portable designators.
bool IsBaseCall(std::string_view w) {
    if (w.size() < 3 || w.size() > 10) return false;
    std::size_t i = 0;
    // Prefix.
    if (IsLetter(w[0])) {
        i = 1;
        if (i < w.size() && IsLetter(w[i])) {
            i = 2;
        } else if (i + 1 < w.size() && IsDigit(w[i]) && IsDigit(w[i + 1])) {
            i = 2;  // a letter and a digit ("E7"), then the area digit
        }
    } else if (IsDigit(w[0]) && w.size() > 1 && IsLetter(w[1])) {
        i = 2;
        if (i < w.size() && IsLetter(w[i]) && i + 1 < w.size() && IsDigit(w[i + 1])) i = 3;
    } else {
        return false;
    }
    // One or two digits.
    std::size_t digits = 0;
    while (i < w.size() && IsDigit(w[i]) && digits < 2) {
        ++i;
        ++digits;
    }
    if (digits == 0) return false;
    // One to four letters to the end.
    std::size_t letters = 0;
    while (i < w.size() && IsLetter(w[i])) {
        ++i;
        ++letters;
    }
    return i == w.size() && letters >= 1 && letters <= 4;
}

bool IsDesignator(std::string_view w) {
    if (w.empty() || w.size() > 4) return false;
    for (const char c : w) {
        if (!IsLetter(c) && !IsDigit(c)) return false;
    }
    return true;
}

// A call's kind is read from this many words before it (CQ TEST and a call twice fit).
constexpr std::size_t kKindWords = 5;

// A beacon's own portable designator.
bool IsBeaconCall(std::string_view call) {
    return call.ends_with("/B") || call.ends_with("/BCN");
}

// From the kKindWords words before the newest of `words`.
SpotKind KindFrom(const std::deque<std::string>& words) {
    bool cq = false, test = false, dx = false, beacon = false;
    const std::size_t first = words.size() > kKindWords + 1 ? words.size() - kKindWords - 1 : 0;
    for (std::size_t i = first; i + 1 < words.size(); ++i) {
        const std::string& w = words[i];
        cq = cq || w == "CQ";
        test = test || w == "TEST";
        dx = dx || (cq && w == "DX");
        beacon = beacon || w == "VVV";
    }
    if (beacon) return SpotKind::kBeacon;
    if (test) return SpotKind::kTest;
    if (dx) return SpotKind::kDx;
    return cq ? SpotKind::kCq : SpotKind::kDe;
}

}  // namespace

bool IsCallsign(std::string_view word) {
    const std::size_t first = word.find('/');
    if (first == std::string_view::npos) return IsBaseCall(word);
    const std::size_t second = word.find('/', first + 1);
    if (second != std::string_view::npos) {
        // PREFIX/CALL/SUFFIX
        return IsDesignator(word.substr(0, first)) &&
               IsBaseCall(word.substr(first + 1, second - first - 1)) &&
               IsDesignator(word.substr(second + 1));
    }
    const std::string_view left = word.substr(0, first);
    const std::string_view right = word.substr(first + 1);
    return (IsBaseCall(left) && IsDesignator(right)) || (IsDesignator(left) && IsBaseCall(right));
}

std::optional<std::string> CallWatcher::FollowRepeats() {
    const std::size_t n = words_.size();
    if (!beaconCall_.empty()) {
        if (words_.back() == words_[n - 1 - beaconWords_]) {
            if (++beaconPhase_ % beaconWords_ == 0) return beaconCall_;
            return std::nullopt;
        }
        beaconCall_.clear();  // the message changed: perhaps a new one starts repeating
    }
    for (std::size_t length = 2; length <= kMaxMessageWords && 2 * length <= n; ++length) {
        bool twice = true;
        for (std::size_t i = n - length; twice && i < n; ++i) twice = words_[i] == words_[i - length];
        if (!twice) continue;
        // One callsign and something else: a message calling another station or only a
        // caller's own call again and again is no beacon's.
        std::string call;
        bool otherWord = false, oneCall = true;
        for (std::size_t i = n - length; i < n; ++i) {
            const std::string& w = words_[i];
            if (w == "CQ" || w == "TEST") return std::nullopt;  // a calling station's loop
            if (!IsCallsign(w)) {
                otherWord = true;
            } else if (call.empty()) {
                call = w;
            } else {
                oneCall = oneCall && w == call;
            }
        }
        if (call.empty() || !otherWord || !oneCall) continue;
        beaconCall_ = call;
        beaconWords_ = length;
        beaconPhase_ = 0;
        return beaconCall_;
    }
    return std::nullopt;
}

std::optional<HeardCall> CallWatcher::AddWord(std::string_view word) {
    words_.emplace_back(word);
    if (words_.size() > 2 * kMaxMessageWords) words_.pop_front();
    std::optional<HeardCall> heard;
    const bool cue =
        word == "CQ" || word == "TEST" || word == "DE" || (word == "DX" && previous_ == "CQ");
    if (IsCallsign(word)) {
        if (cued_ || previous_ == word) {
            heard = HeardCall{std::string(word), KindFrom(words_)};
        }
        cued_ = false;
    } else if (cued_ && !cue && word.size() >= 5 &&
               word.find_first_of("0123456789") == std::string_view::npos) {
        // The call garbled once, its digit taken for letters ("DE OKAORR OK1RR"): the call
        // that follows still answers the cue.
        cued_ = previous_ == "CQ" || previous_ == "TEST" || previous_ == "DE";
    } else {
        cued_ = cue;
    }
    if (cue) cued_ = true;
    previous_ = std::string(word);
    const bool newBeacon = beaconCall_.empty();
    if (std::optional<std::string> repeated = FollowRepeats(); repeated && !heard) {
        heard = HeardCall{*repeated, SpotKind::kBeacon, newBeacon ? 2 : 1};
    }
    if (heard && (IsBeaconCall(heard->call) || heard->call == beaconCall_)) {
        heard->kind = SpotKind::kBeacon;
    }
    return heard;
}

}  // namespace dahlo
