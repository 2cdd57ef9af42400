#include "capture/live_input.h"

#include "capture/portaudio_input.h"
#ifdef DAHLO_HAVE_PULSE
#include "capture/pulse_input.h"
#endif

namespace dahlo {

std::unique_ptr<SoundInput> MakeLiveSoundInput() {
#ifdef DAHLO_HAVE_PULSE
    if (PulseInput::ServerAvailable()) return std::make_unique<PulseInput>();
#endif
    return std::make_unique<PortAudioInput>();
}

}  // namespace dahlo
