#include "platform/VirtualAudioBackend.h"

#include "platform/VirtualAdapterLink.h"

namespace parvane {

AudioBackend* VirtualAdapterAudioDevices()
{
    // The virtual adapter's audio joins once its line model is in place.
    return nullptr;
}

} // namespace parvane
