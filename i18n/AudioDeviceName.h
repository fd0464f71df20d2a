#pragma once
#include <string>
#include <string_view>

// AudioDeviceName: the adapter's model name, read from its EEPROM at start-up
// ("Tarnbox" until then). It picks the audio input and output devices by
// substring, is handed to the tone-detection library, and replaces
// "[ProductName]" in language-pack texts. The main dialog sets it once the
// model name is known; any thread may read it.

// At most this many characters are kept (the name had room for 128 wide
// characters, the terminating one included).
constexpr size_t kAudioDeviceNameMaxCharacters = 127;

std::string GetAudioDeviceName();

// Replaces the name; a longer name is cut to kAudioDeviceNameMaxCharacters,
// bytes that are not UTF-8 text become U+FFFD.
void SetAudioDeviceName(std::string_view name);
