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

SpotKind KindFrom(const std::deque<std::string>& before) {
    bool cq = false, test = false, dx = false, beacon = false;
    for (const std::string& w : before) {
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

std::optional<HeardCall> CallWatcher::AddWord(std::string_view word) {
    std::optional<HeardCall> heard;
    const bool cue =
        word == "CQ" || word == "TEST" || word == "DE" || (word == "DX" && previous_ == "CQ");
    if (IsCallsign(word)) {
        if (cued_ || previous_ == word) {
            heard = HeardCall{std::string(word), KindFrom(before_)};
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
    before_.emplace_back(word);
    if (before_.size() > kKindWords) before_.pop_front();
    previous_ = std::string(word);
    return heard;
}

}  // namespace dahlo
