#pragma once
// A band of CW stations for the skimmer: several Morse signals at their own pitch, speed, level
// and start, summed, with white noise under them.

#include <cstdint>
#include <string>
#include <vector>

#include "support/morse_synth.h"

namespace dahlo::test {

struct BandStation {
    std::string text;
    std::string call;  // the callsign the text makes the sender's, if any
    double wpm = 20.0;
    double pitch_hz = 700.0;
    double level_dbfs = -20.0;
    double jitter = 0.0;
    double start_s = 0.0;
    double rise_time_s = 0.005;
};

// The stations summed (clipped to 16 bits) with Gaussian noise of `noise_sigma` (16-bit units).
std::vector<std::int16_t> SynthesizeBand(const std::vector<BandStation>& stations,
                                         double noise_sigma, std::uint64_t seed = 1,
                                         double trail_s = 2.0);

// When the station's last mark ends, in seconds from the start of the band.
double BandStationEndSeconds(const BandStation& station);

// Seven stations from 15 to 35 WPM between 600 and 2000 Hz, 14 dB apart in level, one pair 60 Hz
// apart, one hand-keyed, each sending its call after CQ, TEST or DE.
std::vector<BandStation> TestBand();
// TestBand and five more stations, twelve in all between 600 and 2300 Hz.
std::vector<BandStation> TwelveStationBand();
// TwelveStationBand with each text sent three times and four stations weak: at 0, -2, -4 and
// -6 dB SNR in 2500 Hz over TestBandNoiseSigma (800, 1050, 2000 and 1400 Hz).
std::vector<BandStation> WeakStationBand();
// Noise for TestBand: the weakest station is 10 dB above it in 2500 Hz.
double TestBandNoiseSigma();

}  // namespace dahlo::test
