#include "skimmer/spot.h"

#include <cstdio>

namespace dahlo {

namespace {

std::string UtcHhmm(std::time_t utc) {
    std::tm tm{};
    gmtime_r(&utc, &tm);
    char text[8];
    std::snprintf(text, sizeof text, "%02d%02dZ", tm.tm_hour, tm.tm_min);
    return text;
}

}  // namespace

const char* SpotKindName(SpotKind kind) {
    switch (kind) {
        case SpotKind::kCq: return "CQ";
        case SpotKind::kDx: return "DX";
        case SpotKind::kTest: return "TEST";
        case SpotKind::kBeacon: return "BEACON";
        case SpotKind::kDe: break;
    }
    return "DE";
}

std::string FormatDxSpot(const Spot& spot) {
    std::string line = "DX de " + spot.spotter + ":";
    char freq[32];
    std::snprintf(freq, sizeof freq, "%.1f", spot.freqKhz);
    const std::size_t freqEnd = 24;
    std::size_t pad = line.size() + std::string(freq).size() < freqEnd
                          ? freqEnd - line.size() - std::string(freq).size()
                          : 1;
    line.append(pad, ' ');
    line += freq;
    line += "  ";
    char rest[128];
    std::snprintf(rest, sizeof rest, "%-12s CW   %3d dB  %2d WPM  %-2s", spot.call.c_str(),
                  spot.snrDb, spot.wpm, SpotKindName(spot.kind));
    line += rest;
    // The time ends in column 75, or one blank after a long call.
    const std::string time = UtcHhmm(spot.utc);
    const std::size_t timeStart = 70;
    line.append(line.size() < timeStart ? timeStart - line.size() : 1, ' ');
    line += time;
    return line;
}

std::string FormatSpotJson(const Spot& spot) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "{\"type\":\"spot\",\"call\":\"%s\",\"freq_khz\":%.1f,\"snr_db\":%d,\"wpm\":%d,"
                  "\"mode\":\"%s\",\"t\":%.4f,\"ch\":%d,\"utc\":\"%s\"}",
                  spot.call.c_str(), spot.freqKhz, spot.snrDb, spot.wpm, SpotKindName(spot.kind),
                  spot.inputSeconds, spot.channel, UtcHhmm(spot.utc).c_str());
    return text;
}

}  // namespace dahlo
