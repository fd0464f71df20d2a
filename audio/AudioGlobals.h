#pragma once
#include <cstdint>
#include <string>

// Name of the audio device to use, matched as a case-sensitive substring of
// the device names. "Tarnbox" until the main dialog replaces it with the
// model name the adapter reports at start-up.
extern std::string AudioDeviceName;

// Length in bytes of one capture buffer and analysis block. The main dialog
// copies the operator's choice (65536 down to 512, each a power of two) into
// it at Start; every engine takes its value when it starts capturing.
extern int32_t CaptureBlockBytes;

// Size of each of the engine's three input buffers: the largest block.
constexpr int32_t kInputBufferBytes = 65536;
