#pragma once
// How a skimmer channel starts: its filter, dot length, burst speed and threshold from the last
// seconds of audio around a signal the finder found.

#include <cstddef>
#include <cstdint>

namespace dahlo {

// What a channel starts with, from a stretch of audio around its signal.
struct ChannelPreset {
    int bin = 0;
    std::int64_t dot = 0;          // samples; 0 when no marks were found
    int integrationLength = 0;
    double threshold = 0.0;
    double noise = 0.0;            // envelope levels with that burst window
    double mark = 0.0;
};
ChannelPreset PresetChannel(const std::int16_t* samples, std::size_t count, int bin,
                            bool filterTwice);

}  // namespace dahlo
