#pragma once
// dahlo-decode --skim: the skimmer over a recording, standard input or the live input.

#include <memory>
#include <optional>

#include "cli/decode_main.h"
#include "cli/decode_options.h"
#include "rig/rig_dial.h"
#include "skimmer/skimmer.h"
#include "skimmer/spot_rules.h"

namespace dahlo {

int RunSkim(const DecodeOptions& options, const DecodeStreams& streams);

// What the audio and the IQ skimmer take alike from the options: output, spotter, start time,
// respot time (the dial and live clock are each one's own).
SkimOptions SkimOptionsFrom(const DecodeOptions& options);

// The known-calls list the options name, if any, into `known` and `skim`; false (the reason
// on `err`) when it cannot be read.
bool LoadKnownCalls(const DecodeOptions& options, std::optional<KnownCalls>& known,
                    SkimOptions& skim, std::FILE* err);

// The rig the options name (--rig or --rig-model), or none. Throws RigError as RigDial does.
std::unique_ptr<RigDial> OpenRig(const DecodeOptions& options);

}  // namespace dahlo
