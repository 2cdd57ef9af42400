#pragma once
// dahlo-decode --live: the default sound input through the capture ring and the receiver's own
// loop, until `stop` is set (Ctrl-C).

#include <atomic>
#include <cstdio>

#include "tools/decode_session.h"

namespace dahlo {

// Whether this build has a live sound input.
bool LiveInputAvailable();

// Decodes from the default sound input until `stop` becomes true; returns the exit status. A
// failure to open the input is reported on `err` as one line.
int RunLiveDecode(const ReceiverControls& controls, DecodeHost& host, const std::atomic<bool>* stop,
                  std::FILE* err);

}  // namespace dahlo
