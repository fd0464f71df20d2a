#include "audio/AudioGlobals.h"

std::string AudioDeviceName = "Tarnbox";
int32_t CaptureBlockBytes = 65536;
