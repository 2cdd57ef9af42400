#pragma once
// dahlo-decode --live: the default sound input through the capture ring and the receiver's own
// loop, until `stop` is set (Ctrl-C).

#include <atomic>
#include <cstdio>
#include <functional>

#include "decode/decode_session.h"
#include "decode/presets.h"
#include "decode/soft_session.h"

namespace dahlo {

// Whether this build has a live sound input.
bool LiveInputAvailable();

// Decodes from the default sound input until `stop` becomes true; returns the exit status. A
// failure to open the input is reported on `err` as one line. With `presets`, the input is held
// back by the look-ahead of LookAheadDecode and preset from it; without, the window's loop runs
// on the capture buffers as they come, and `chooseSoft` may hand the input to the soft decoder at
// the first look (LookAheadDecode::chooseSoft). `verbose`: the presets of the first look on `err`.
int RunLiveDecode(const ReceiverControls& controls, const PresetRequest* presets, DecodeHost& host,
                  const std::atomic<bool>* stop, std::FILE* err, bool verbose = false,
                  std::function<SoftSession*(const PresetPlan&)> chooseSoft = {});

}  // namespace dahlo
