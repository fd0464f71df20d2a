#pragma once
#include "platform/AudioDevices.h"

namespace parvane {

// The sound cards PortAudio sees (ALSA, JACK and what else it was built
// with). PortAudio is started on first use and kept for the life of the
// process; its backends' own error chatter (ALSA, JACK) is kept out of stderr.
AudioBackend& PortAudioDevices();

} // namespace parvane
