#pragma once
// What the skimmer keeps of one station, shared by its files: the loop (skimmer.cpp) and what a
// station prints (station_text.cpp). Not for use outside the skimmer.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/level_histogram.h"
#include "dsp/main_filter.h"
#include "dsp/sample_rate.h"
#include "skimmer/callsign.h"
#include "skimmer/skimmer.h"
#include "soft/soft_decoder.h"

namespace dahlo {

namespace skimmer_detail {
inline double Seconds(std::int64_t sample) { return static_cast<double>(sample) / kSampleRateHz; }
}  // namespace skimmer_detail

struct Skimmer::Station {
    int id = 0;
    int openBin = 0;
    std::int64_t openedSample = 0;
    std::int64_t lastCharSample = 0;
    FadingLevels levels;
    double noise = 0.0;
    double mark = 0.0;
    std::string word;
    std::string line;
    std::string recent;  // the last characters, spaces included
    std::string call;
    CallWatcher watcher;
    std::string pendingEvent;  // a character or space whose speed may still follow
    int blocks = 0;
    bool quiet = false;  // the last character was noise: its word space is not told either
    // A weak station is read by the soft decoder instead of its channel's decoder; the channel
    // still follows its levels, tone and tuning. Its characters wait for their word's end, to
    // be judged whole.
    std::unique_ptr<SoftDecoder> soft;
    std::int64_t softFirstSample = 0;  // the input sample the soft decoder's first one was
    std::int64_t softLastEnd = 0;      // input sample where its last character's last mark ends
    MainFilter softFilter;  // the narrow filter at the station, as the channel's
    MainFilter softSecondFilter;
    std::vector<SoftChar> softFresh;
    std::vector<SoftChar> softWord;
    int softLpm = 0;
};

}  // namespace dahlo
