#pragma once
#include <cstdint>
#include <string>

// The name of the audio device to use is the adapter's model name,
// GetAudioDeviceName() of i18n/AudioDeviceName.h: one copy for capture,
// playback, the tone-detection library and the language packs.

// Length in bytes of one capture buffer and analysis block. The main dialog
// copies the operator's choice (65536 down to 512, each a power of two) into
// it at Start; every engine takes its value when it starts capturing.
extern int32_t CaptureBlockBytes;

// Size of each of the engine's three input buffers: the largest block.
constexpr int32_t kInputBufferBytes = 65536;
