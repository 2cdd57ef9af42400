#pragma once
// The program's live sound input: the sound server's own client API when a PulseAudio or
// PipeWire server answers, otherwise PortAudio on the default device (plain ALSA, JACK, OSS).

#include <memory>

#include "capture/sound_input.h"

namespace dahlo {

std::unique_ptr<SoundInput> MakeLiveSoundInput();

}  // namespace dahlo
