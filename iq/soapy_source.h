#pragma once
// A live SDR through SoapySDR: the device is opened with Device::make(args), tuned, and read on a
// thread of its own that feeds a bounded queue; IqSource::Read takes from the queue. When the
// queue is full (the receiver falls behind) the newest samples are dropped and counted. A device
// that fails while streaming ends the input with Damage() saying so.

#include <memory>
#include <optional>
#include <string>

#include "iq/iq_source.h"

namespace dahlo::iq {

struct SoapyOptions {
    std::string args;        // e.g. "driver=rtlsdr" or "driver=airspy,serial=..."
    double rateHz = 192000.0;
    double centreHz = 0.0;
    std::optional<double> gainDb;  // overall gain; empty leaves the device's automatic gain on
    double queueSeconds = 2.0;     // how far the receiver may fall behind before samples drop
};

// Throws IqError (one line) when no device matches, or it refuses the rate, centre or stream.
std::unique_ptr<IqSource> OpenSoapyIq(const SoapyOptions& options);

}  // namespace dahlo::iq
