#include "skimmer/spot_rules.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace dahlo {

namespace {

bool CallCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/'; }

}  // namespace

KnownCalls KnownCalls::Parse(std::string_view text, const std::string& name) {
    KnownCalls known;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        std::string call;
        for (const char c : line) {
            const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            // A stray character means this is not a list of calls: better said than half used.
            if (!CallCharacter(upper) || call.size() >= 16) {
                throw std::runtime_error(name + " line " + std::to_string(lineNumber) +
                                         ": not a callsign (a list has one call a line)");
            }
            call += upper;
        }
        known.calls_.insert(std::move(call));
    }
    if (known.calls_.empty()) throw std::runtime_error(name + ": no callsigns in it");
    return known;
}

KnownCalls KnownCalls::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        throw std::runtime_error("option --known-calls: cannot read " + path);
    }
    return Parse(text.str(), "option --known-calls: " + path);
}

int EditsUpToOne(std::string_view a, std::string_view b) {
    if (a.size() > b.size()) std::swap(a, b);
    if (b.size() - a.size() > 1) return 2;
    std::size_t head = 0;
    while (head < a.size() && a[head] == b[head]) ++head;
    if (head == a.size()) return a.size() == b.size() ? 0 : 1;
    // Past the first difference the rest must match: after one changed character, or after the
    // one character the longer has in addition.
    const std::size_t skipA = a.size() == b.size() ? 1 : 0;
    return a.substr(head + skipA) == b.substr(head + 1) ? 1 : 2;
}

SpotRules::Standing SpotRules::StandingOf(const std::string& call, double freqKhz,
                                          double nearKhz) const {
    Standing standing{known_ != nullptr && known_->Contains(call), 0, 0.0};
    for (const Copy& copy : copies_) {
        if (copy.call != call || std::fabs(copy.freqKhz - freqKhz) > nearKhz) continue;
        if (standing.copies++ == 0) standing.first = copy.seconds;
    }
    return standing;
}

bool SpotRules::Better(const Standing& a, const Standing& b) const {
    if (a.known != b.known) return a.known;
    if (a.copies != b.copies) return a.copies > b.copies;
    return a.first < b.first;
}

SpotRules::Verdict SpotRules::Hear(const std::string& call, double freqKhz, double seconds) {
    while (!copies_.empty() && seconds - copies_.front().seconds > kMemoryS) copies_.pop_front();
    copies_.push_back({call, freqKhz, seconds});

    const Standing mine = StandingOf(call, freqKhz, kBustedKhz);
    for (const Copy& other : copies_) {
        if (other.call == call || std::fabs(other.freqKhz - freqKhz) > kBustedKhz ||
            EditsUpToOne(call, other.call) != 1) {
            continue;
        }
        if (!Better(mine, StandingOf(other.call, freqKhz, kBustedKhz))) return Verdict::kBusted;
    }
    const bool known = known_ != nullptr && known_->Contains(call);
    if (!known && StandingOf(call, freqKhz, kConfirmKhz).copies < 2) return Verdict::kUnconfirmed;

    auto last = spotted_.find(call);
    if (last != spotted_.end() &&
        std::fabs(last->second.freqKhz - freqKhz) <= kSameFrequencyKhz &&
        seconds - last->second.seconds < respotS_) {
        return Verdict::kDupe;
    }
    // Spots older than the respot time decide nothing any more.
    std::erase_if(spotted_, [&](const auto& entry) {
        return seconds - entry.second.seconds >= respotS_;
    });
    spotted_[call] = {freqKhz, seconds};
    return Verdict::kSpot;
}

}  // namespace dahlo
