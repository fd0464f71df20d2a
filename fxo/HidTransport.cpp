#include "fxo/HidTransport.h"

#include "platform/VirtualAdapterLink.h"

namespace fxo {

HidBackend& ChosenHidBackend()
{
#ifdef _WIN32
    return parvane::VirtualAdapterChosen() ? VirtualBackend() : WindowsHidBackend();
#else
    return parvane::VirtualAdapterChosen() ? VirtualBackend() : HidrawBackend();
#endif
}

} // namespace fxo
