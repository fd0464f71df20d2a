// The phone side (SLIC start-up, ringing, tones, DTMF, PCM settings).
// While nothing is plugged every operation answers at once with its failure
// value and sends nothing. The sequences themselves are not part of this
// library yet: while plugged the operations refuse and say so.
#include "fxo/Slic.h"

#include "fxo/FxoLibrary.h"
#include "platform/DebugPrint.h"

namespace fxo {

namespace {

bool Unavailable(const char* operation)
{
    if (State().plugged)
        DebugPrint("FXO: %s: the phone side is not available in this build (index=%ld)", operation,
                   static_cast<long>(State().portIndex));
    return false;
}

} // namespace

bool FupInitSlic() { return Unavailable("FupInitSlic"); }
bool SlicPhoneUnhooked() { return Unavailable("SlicPhoneUnhooked"); }
bool SlicRingPhone() { return Unavailable("SlicRingPhone"); }
bool SlicStopRing() { return Unavailable("SlicStopRing"); }
bool SlicPlayDialTone() { return Unavailable("SlicPlayDialTone"); }
bool SlicPlayBusyTone() { return Unavailable("SlicPlayBusyTone"); }
bool SlicPlayIntpTone(bool) { return Unavailable("SlicPlayIntpTone"); }
bool SlicStopTone() { return Unavailable("SlicStopTone"); }
uint8_t SlicDetectDtmfCode()
{
    Unavailable("SlicDetectDtmfCode");
    return 0;
}
bool FupDialDtmf(int32_t) { return Unavailable("FupDialDtmf"); }
bool FupPcmPathSelect(uint8_t) { return Unavailable("FupPcmPathSelect"); }
bool FupSetPcmFormat(uint8_t) { return Unavailable("FupSetPcmFormat"); }

} // namespace fxo
