#pragma once
#include "platform/AudioDevices.h"

namespace parvane {

// The virtual adapter's USB audio device (one input, one output, named after
// the scenario's model name) when the virtual adapter is chosen, else
// nullptr. Its capture is paced in real time by a monotonic clock.
AudioBackend* VirtualAdapterAudioDevices();

} // namespace parvane
