#pragma once
// What the virtual adapter is and what happens on its line: its identifiers,
// EEPROM model name, serial number and the calls that come in. A scenario is
// a country preset or an INI file (sections [adapter] and [call]).

#include "vadapter/LineAudio.h"
#include "vadapter/VirtualExchange.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace parvane {

struct Scenario {
    // Where the scenario came from: the preset name or the file's path.
    std::string source;
    // Directory of the scenario file with its trailing '/' (empty for a
    // preset); relative paths in the file are taken from there.
    std::string directory;

    // [adapter]
    uint16_t vendorId = 0;            // set to the program's vendor id
    uint16_t productId = 0x0110;
    std::string model = "Tarnbox";    // at most 10 UTF-16 units: EEPROM words 17 to 26
    std::array<uint8_t, 6> serial = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

    // [call]
    uint32_t ringDelayMs = 1000;                  // from opening the adapter to the first burst
    std::vector<uint32_t> ringCadenceMs = {2000, 4000}; // on,off[,on,off...], repeated
    uint32_t redialMs = 5000;                     // after a released call; 0: never again
    // The busy tone of the country the preset stands for, in tone-list
    // notation (f1[+f2]/on_ms,0/off_ms); empty for a file without a preset.
    std::string presetBusyTone;

    // ---- Further keys of other parts of the adapter add their fields here,
    // ---- each group under a comment naming its section.

    // [call] line audio: answer_delay, tone, level, noise, wav
    // (vadapter/LineAudio.cpp)
    LineAudioSettings lineAudio;

    // [adapter] unplug_after_answer: the adapter is pulled out this long
    // after it first answers a call (-1: never); it stays out
    // (vadapter/VirtualAdapterDevice.cpp).
    int64_t unplugAfterAnswerMs = -1;
    // [adapter] lose_answer: 1: once the line has rung, every report that
    // would take the DAA off-hook is lost on its way (the send fails), so
    // no call can be answered (vadapter/VirtualAdapterDevice.cpp).
    bool loseAnswer = false;
    // [adapter] audio_name: the name the adapter's USB audio interface goes
    // by; empty: the model's ("<model> USB Audio (virtual)"). A name without
    // the model stands for a sound card the program cannot pick by name
    // (vadapter/VirtualAdapterAudio.cpp).
    std::string audioName;

    // [exchange]: the exchange behind the line, for the program's own
    // calls (vadapter/VirtualExchange.h); a preset's tones by default.
    ExchangeSettings exchange;

    // [phone]: the telephone set on the phone port (vadapter/VirtualSlic.cpp).
    int64_t phoneOffHookMs = -1;  // from opening the adapter until it is lifted; -1: stays on-hook
    std::string phoneDigits;      // DTMF digits dialled once it is lifted
    uint32_t phoneDigitGapMs = 300; // before each digit

    Scenario();
};

// One key of a scenario file. Apply parses the value into the scenario; on a
// bad value it returns false and says what is wrong in error.
struct ScenarioKey {
    const char* section;
    const char* key;
    bool (*apply)(const std::string& value, Scenario& scenario, std::string& error);
};

// Adds keys to the ones a scenario file may hold. A file that owns keys
// declares one static ScenarioKeys object listing them.
class ScenarioKeys {
public:
    ScenarioKeys(std::initializer_list<ScenarioKey> keys);
};

struct ScenarioPreset {
    const char* name;
    const char* country;
    std::vector<uint32_t> ringCadenceMs;
    const char* busyTone;
    // The exchange's tones, in tone-list notation.
    const char* dialTone;
    const char* ringbackTone;
    const char* congestionTone;
};

// The country presets: us, uk, cn, de, fr, jp, au, in, ru, br.
const std::vector<ScenarioPreset>& ScenarioPresets();

// Loads a preset by name (case-insensitive) or, when no preset has that
// name, the scenario file at that path. On failure returns false with a
// message naming the file, line and key.
bool LoadScenario(const std::string& presetOrPath, Scenario& scenario, std::string& error);

// Parses the text of a scenario file; fileName is used in messages and
// relative paths.
bool ParseScenarioText(const std::string& text, const std::string& fileName, Scenario& scenario,
                       std::string& error);

// Small value parsers for key tables (false on anything but the whole text
// being one value in range).
bool ParseScenarioNumber(const std::string& text, uint64_t maximum, uint64_t& value);
bool ParseScenarioMsList(const std::string& text, std::vector<uint32_t>& values);

} // namespace parvane
