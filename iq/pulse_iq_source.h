#pragma once
// Complex baseband from the sound server (PulseAudio or PipeWire), as sound-card receivers deliver
// it: a stereo record stream, I left and Q right, from the server's default source (or the one
// named by PULSE_SOURCE), in 32-bit float at the rate asked for.

#include <memory>
#include <optional>

#include "iq/iq_source.h"

namespace dahlo::iq {

// Throws IqError (one line) when the rate or centre is out of range or no server answers with a
// record stream.
std::unique_ptr<IqSource> OpenPulseIq(double rateHz, std::optional<double> centreHz);

}  // namespace dahlo::iq
