#pragma once
// dahlo-decode --skim: the skimmer over a recording, standard input or the live input.

#include "cli/decode_main.h"
#include "cli/decode_options.h"

namespace dahlo {

int RunSkim(const DecodeOptions& options, const DecodeStreams& streams);

}  // namespace dahlo
