// dahlo-iq-score: scores `dahlo-decode --iq ... --events` against the synthesizer's truth.
//   dahlo-iq-score TRUTH.tsv < EVENTS
// Each channel belongs to the station nearest its RF (within kSameStationKhz); the station's
// text is its busiest channel's, scored by CER; its other channels are duplicates, channels at no
// station are ghosts. Spots: recall (the station's call spotted near its RF), precision (spots
// that are a station's call near its RF), and calls spotted more than once.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/text_compare.h"

namespace {

// A channel's RF is its centre bin's (5.4 Hz steps) and its AFC may move it by 16 Hz.
constexpr double kSameStationKhz = 0.025;
// Spots carry 0.1 kHz.
constexpr double kSpotToleranceKhz = 0.1;

struct Station {
    double rfKhz = 0.0;
    std::string snr, wpm, qsb, call, text;
};

struct ChannelText {
    double rfKhz = 0.0;
    std::string text;
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dahlo-iq-score TRUTH.tsv < EVENTS\n");
        return 2;
    }
    std::ifstream truth(argv[1]);
    std::string row;
    std::getline(truth, row);
    std::vector<Station> stations;
    while (std::getline(truth, row)) {
        std::istringstream fields(row);
        std::string rf, offset;
        Station s;
        std::getline(fields, rf, '\t');
        std::getline(fields, offset, '\t');
        std::getline(fields, s.snr, '\t');
        std::getline(fields, s.wpm, '\t');
        std::getline(fields, s.qsb, '\t');
        std::getline(fields, s.call, '\t');
        std::getline(fields, s.text);
        s.rfKhz = std::stod(rf) / 1000.0;
        s.call = Upper(s.call);
        s.text = Upper(s.text);
        stations.push_back(s);
    }

    std::map<int, ChannelText> channels;
    std::vector<nlohmann::json> spots;
    for (std::string line; std::getline(std::cin, line);) {
        const auto event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_discarded()) continue;
        const std::string type = event.value("type", "");
        if (type == "spot") {
            spots.push_back(event);
        } else if (type == "char" || type == "space") {
            ChannelText& c = channels[event["ch"].get<int>()];
            c.rfKhz = event["rf_khz"].get<double>();
            if (type == "space") {
                if (!c.text.empty() && c.text.back() != ' ') c.text += ' ';
            } else {
                c.text += Upper(event["text"].get<std::string>());
            }
        }
    }

    std::vector<std::vector<const ChannelText*>> heard(stations.size());
    int ghosts = 0;
    for (const auto& [id, c] : channels) {
        std::size_t best = stations.size();
        for (std::size_t i = 0; i < stations.size(); ++i) {
            const double d = std::abs(stations[i].rfKhz - c.rfKhz);
            if (d <= kSameStationKhz &&
                (best == stations.size() || d < std::abs(stations[best].rfKhz - c.rfKhz)))
                best = i;
        }
        if (best == stations.size()) {
            ++ghosts;
            std::fprintf(stderr, "  ghost channel %d at %.2f kHz: %s\n", id, c.rfKhz,
                         c.text.c_str());
        } else {
            heard[best].push_back(&c);
        }
    }
    std::size_t errors = 0, sent = 0;
    int duplicates = 0, callsSpotted = 0;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const Station& s = stations[i];
        const ChannelText* busiest = nullptr;
        for (const ChannelText* c : heard[i]) {
            if (busiest == nullptr || c->text.size() > busiest->text.size()) busiest = c;
        }
        duplicates += std::max<int>(0, static_cast<int>(heard[i].size()) - 1);
        std::string decoded = busiest ? busiest->text : "";
        while (!decoded.empty() && decoded.back() == ' ') decoded.pop_back();
        const std::size_t distance = dahlo::test::EditDistance(s.text, decoded);
        errors += distance;
        sent += s.text.size();
        int spotted = 0;
        for (const auto& spot : spots) {
            if (spot["call"] == s.call &&
                std::abs(spot["freq_khz"].get<double>() - s.rfKhz) <= kSpotToleranceKhz)
                ++spotted;
        }
        callsSpotted += spotted > 0 ? 1 : 0;
        std::printf("%11.3f kHz %4s dB %3s WPM qsb %2s %-8s channels %zu  CER %5.1f%%  spots %d\n",
                    s.rfKhz, s.snr.c_str(), s.wpm.c_str(), s.qsb.c_str(), s.call.c_str(),
                    heard[i].size(),
                    100.0 * static_cast<double>(distance) /
                        static_cast<double>(std::max<std::size_t>(s.text.size(), 1)),
                    spotted);
    }
    int rightSpots = 0;
    std::map<std::string, int> perCall;
    for (const auto& spot : spots) {
        const std::string call = spot["call"];
        ++perCall[call];
        const bool right = std::any_of(stations.begin(), stations.end(), [&](const Station& s) {
            return s.call == call &&
                   std::abs(spot["freq_khz"].get<double>() - s.rfKhz) <= kSpotToleranceKhz;
        });
        if (right) {
            ++rightSpots;
        } else {
            std::fprintf(stderr, "  wrong spot %s at %.1f kHz\n", call.c_str(),
                         spot["freq_khz"].get<double>());
        }
    }
    int twice = 0;
    for (const auto& [call, n] : perCall) twice += n > 1 ? 1 : 0;
    const int n = static_cast<int>(stations.size());
    std::printf(
        "stations %d  CER %.2f%%  channels: duplicates %d, ghosts %d  spots %zu: recall %d/%d "
        "(%.1f%%), precision %d/%zu (%.1f%%), calls spotted twice %d\n",
        n,
        100.0 * static_cast<double>(errors) / static_cast<double>(std::max<std::size_t>(sent, 1)),
        duplicates, ghosts, spots.size(), callsSpotted, n, 100.0 * callsSpotted / std::max(n, 1),
        rightSpots, spots.size(),
        100.0 * rightSpots / std::max<double>(1.0, static_cast<double>(spots.size())), twice);
    return 0;
}
