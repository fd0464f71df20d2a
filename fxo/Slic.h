#pragma once
// The phone side: SLIC start-up (Slic.cpp); ringing, tones, loop closure,
// DTMF and PCM settings (SlicTones.cpp). While nothing is plugged each
// operation answers at once with false or 0 and sends nothing.
#include <cstdint>

namespace fxo {

bool FupInitSlic();
bool SlicPhoneUnhooked();
bool SlicRingPhone();
bool SlicStopRing();
bool SlicPlayDialTone();
bool SlicPlayBusyTone();
bool SlicPlayIntpTone(bool variant);
bool SlicStopTone();
uint8_t SlicDetectDtmfCode();
bool FupDialDtmf(int32_t code);
bool FupPcmPathSelect(uint8_t path);
bool FupSetPcmFormat(uint8_t format);

} // namespace fxo
