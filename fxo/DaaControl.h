#pragma once
// The line side: DAA start-up, hook control, line monitor, loop current,
// ring detect, country settings and the called-party hang-up detector.
#include <cstdint>

namespace fxo {

bool FupInitDaa();
bool DaaSetOffhook();
bool DaaSetOnhook();
bool DaaOnHookMonitor(bool on);
int32_t DaaPstnHook();
bool DaaRingDetect();
void DaaSetCountry(const char* name);
bool FupSetCountry(int32_t index);
bool SetDAACountry(int32_t index);
bool SetSlicCountry(int32_t index);
bool FupCalledHangUpDetect();
// Looks for the on-off pattern of a far end hanging up in a full window.
bool SearchHangUpPattern(const char* window, int length);

} // namespace fxo
