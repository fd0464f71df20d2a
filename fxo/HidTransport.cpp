#include "fxo/HidTransport.h"

#include "platform/VirtualAdapterLink.h"

namespace fxo {

HidBackend& ChosenHidBackend()
{
    return parvane::VirtualAdapterChosen() ? VirtualBackend() : HidrawBackend();
}

} // namespace fxo
