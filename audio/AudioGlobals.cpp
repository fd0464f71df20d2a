#include "audio/AudioGlobals.h"

int32_t CaptureBlockBytes = 65536;
