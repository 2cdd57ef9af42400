#pragma once
// dahlo-decode --iq / --sdr: a wide band of complex baseband from an SDR, its recording or a raw
// stream, cut into sub-bands by the channelizer; each sub-band runs a skimmer of its own that
// opens channels only in the share of the band it owns, and their output is merged into one
// stream with RF frequencies.

#include "cli/decode_main.h"
#include "cli/decode_options.h"

namespace dahlo {

int RunIqSkim(const DecodeOptions& options, const DecodeStreams& streams);

}  // namespace dahlo
