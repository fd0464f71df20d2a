// The phone side once the SLIC runs: ringing, call-progress and DTMF tones
// from the chip's two oscillators, loop closure, DTMF decoding, and the PCM
// path and format of the whole adapter. Each operation is a short fixed
// series of register writes; it is true when every one of them was sent.
#include "fxo/Slic.h"

#include "fxo/FxoLibrary.h"

#include <array>
#include <utility>

namespace fxo {

namespace {

// Direct registers.
constexpr uint8_t kPcmMode = 1;
constexpr uint8_t kInterruptStatus3 = 20; // bit 0: DTMF digit decoded
constexpr uint8_t kDtmfDecode = 24;       // bits 3-0: digit code
constexpr uint8_t kOsc1Control = 32;
constexpr uint8_t kOsc2Control = 33;
constexpr uint8_t kRingOscControl = 34;
constexpr uint8_t kRingActiveLow = 48;
constexpr uint8_t kRingActiveHigh = 49;
constexpr uint8_t kRingInactiveLow = 50;
constexpr uint8_t kRingInactiveHigh = 51;
constexpr uint8_t kLinefeed = 64;
constexpr uint8_t kLoopStatus = 68;       // bit 0: loop closed

// DAA register holding its PCM mode.
constexpr uint8_t kDaaPcmMode = 33;

constexpr uint8_t kRinging = 0x04;
constexpr uint8_t kForwardActive = 0x01;
constexpr uint8_t kDtmfDigit = 0x01;
constexpr uint8_t kLoopClosed = 0x01;

// Oscillator control values.
constexpr uint8_t kDtmfControl = 0x95;
constexpr uint8_t kToneControl = 0x9F;
constexpr uint8_t kInterceptVariantControl = 0x9D;
constexpr uint8_t kOscillatorOff = 0x00;

// One tone: per oscillator its frequency coefficient, amplitude and initial
// phase (indirect 13-15, 16-18) and its active and inactive times in 125 us
// steps, high byte first (direct 37/36, 39/38 and 41/40, 43/42). 20 bytes,
// words little-endian.
struct ToneRecord {
    uint16_t osc1Coefficient;
    uint16_t osc1Amplitude;
    uint16_t osc1Phase;
    uint8_t osc1ActiveHigh;
    uint8_t osc1ActiveLow;
    uint8_t osc1InactiveHigh;
    uint8_t osc1InactiveLow;
    uint16_t osc2Coefficient;
    uint16_t osc2Amplitude;
    uint16_t osc2Phase;
    uint8_t osc2ActiveHigh;
    uint8_t osc2ActiveLow;
    uint8_t osc2InactiveHigh;
    uint8_t osc2InactiveLow;
};
static_assert(sizeof(ToneRecord) == 20);

constexpr ToneRecord Tone(uint16_t coef1, uint16_t x1, uint16_t y1, uint16_t on1, uint16_t off1, uint16_t coef2,
                          uint16_t x2, uint16_t y2, uint16_t on2, uint16_t off2)
{
    return {coef1,
            x1,
            y1,
            static_cast<uint8_t>(on1 >> 8),
            static_cast<uint8_t>(on1 & 0xFF),
            static_cast<uint8_t>(off1 >> 8),
            static_cast<uint8_t>(off1 & 0xFF),
            coef2,
            x2,
            y2,
            static_cast<uint8_t>(on2 >> 8),
            static_cast<uint8_t>(on2 & 0xFF),
            static_cast<uint8_t>(off2 >> 8),
            static_cast<uint8_t>(off2 & 0xFF)};
}

// DTMF digits play 100 ms with no pause; the busy tone is 500 ms on, 500 ms
// off; the intercept tone 500 ms on, about 2 s off.
constexpr std::array<ToneRecord, 19> ToneTable = {
    Tone(0x5EA0, 0x02C0, 0, 0x0320, 0, 0x3FC0, 0x052E, 0, 0x0320, 0), // DTMF 0
    Tone(0x6D50, 0x01FE, 0, 0x0320, 0, 0x4A80, 0x0499, 0, 0x0320, 0), // DTMF 1
    Tone(0x6D50, 0x01FE, 0, 0x0320, 0, 0x3FC0, 0x052E, 0, 0x0320, 0), // DTMF 2
    Tone(0x6D50, 0x01FE, 0, 0x0320, 0, 0x35E0, 0x05B7, 0, 0x0320, 0), // DTMF 3
    Tone(0x6950, 0x0237, 0, 0x0320, 0, 0x4A80, 0x0499, 0, 0x0320, 0), // DTMF 4
    Tone(0x6950, 0x0237, 0, 0x0320, 0, 0x3FC0, 0x052E, 0, 0x0320, 0), // DTMF 5
    Tone(0x6950, 0x0237, 0, 0x0320, 0, 0x35E0, 0x05B7, 0, 0x0320, 0), // DTMF 6
    Tone(0x6460, 0x0278, 0, 0x0320, 0, 0x4A80, 0x0499, 0, 0x0320, 0), // DTMF 7
    Tone(0x6460, 0x0278, 0, 0x0320, 0, 0x3FC0, 0x052E, 0, 0x0320, 0), // DTMF 8
    Tone(0x6460, 0x0278, 0, 0x0320, 0, 0x35E0, 0x05B7, 0, 0x0320, 0), // DTMF 9
    Tone(0x5EA0, 0x02C0, 0, 0x0320, 0, 0x4A80, 0x0499, 0, 0x0320, 0), // DTMF *
    Tone(0x5EA0, 0x02C0, 0, 0x0320, 0, 0x35E0, 0x05B7, 0, 0x0320, 0), // DTMF #
    Tone(0x6D50, 0x01FE, 0, 0x0320, 0, 0x2460, 0x06AF, 0, 0x0320, 0), // DTMF A
    Tone(0x6950, 0x0237, 0, 0x0320, 0, 0x2460, 0x06AF, 0, 0x0320, 0), // DTMF B
    Tone(0x6460, 0x0278, 0, 0x0320, 0, 0x2460, 0x06AF, 0, 0x0320, 0), // DTMF C
    Tone(0x5EA0, 0x02C0, 0, 0x0320, 0, 0x2460, 0x06AF, 0, 0x0320, 0), // DTMF D
    Tone(0x7B31, 0x0090, 0, 0xFA00, 0, 0x726E, 0x00C0, 0, 0xFA00, 0), // dial tone
    Tone(0x7700, 0x0030, 0, 0x0FA0, 0x3FA0, 0x7120, 0x0030, 0, 0x0FA0, 0x3FA0), // intercept tone
    Tone(0x7700, 0x0089, 0, 0x0FA0, 0x0FA0, 0x7120, 0x00B2, 0, 0x0FA0, 0x0FA0), // busy tone
};

constexpr int kDtmfRecords = 16;
constexpr int kDialToneRecord = 16;
constexpr int kInterceptToneRecord = 17;
constexpr int kBusyToneRecord = 18;

// CTRL_MODE values of the PCM paths 0 to 4.
constexpr std::array<uint8_t, 5> kPcmPaths = {0x10, 0x04, 0x08, 0x00, 0x0C};

// Per format (µ-law, A-law, 16-bit linear): CTRL_PCM, DAA 33, SLIC 1.
struct PcmFormatSettings {
    uint8_t controller;
    uint8_t daa;
    uint8_t slic;
};
constexpr std::array<PcmFormatSettings, 3> kPcmFormats = {{{0x00, 0x28, 0x28}, {0x02, 0x20, 0x20}, {0x06, 0x38, 0x3C}}};

// Writes the oscillator's three indirect registers that differ from the
// shadows (the indirect write updates them).
bool LoadOscillatorCoefficients(uint8_t first, const std::array<uint16_t, 3>& values)
{
    bool sent = true;
    for (size_t i = 0; i < values.size(); ++i) {
        const auto reg = static_cast<uint8_t>(first + i);
        if (State().slicIndirectShadow[reg - 13] != values[i])
            sent = WriteSlicIndirectRegister(reg, values[i]) && sent;
    }
    return sent;
}

// Writes the timer registers that differ from the shadows, in the order given.
bool LoadTimers(const std::array<std::pair<uint8_t, uint8_t>, 4>& timers)
{
    bool sent = true;
    for (const auto& [reg, value] : timers) {
        if (State().slicDirectShadow[reg - 36] != value && State().plugged)
            sent = WriteSlicDirectRegister(reg, value) && sent; // updates the shadow
    }
    return sent;
}

// Loads tone record n into the oscillators, writing only the registers that
// the shadows say hold something else.
bool LoadToneRecord(int n)
{
    const ToneRecord& tone = ToneTable[static_cast<size_t>(n)];
    bool sent = LoadOscillatorCoefficients(13, {tone.osc1Coefficient, tone.osc1Amplitude, tone.osc1Phase});
    sent = LoadTimers({{{37, tone.osc1ActiveHigh},
                        {36, tone.osc1ActiveLow},
                        {39, tone.osc1InactiveHigh},
                        {38, tone.osc1InactiveLow}}}) &&
           sent;
    sent = LoadOscillatorCoefficients(16, {tone.osc2Coefficient, tone.osc2Amplitude, tone.osc2Phase}) && sent;
    sent = LoadTimers({{{41, tone.osc2ActiveHigh},
                        {40, tone.osc2ActiveLow},
                        {43, tone.osc2InactiveHigh},
                        {42, tone.osc2InactiveLow}}}) &&
           sent;
    return sent;
}

bool StartTone(int record, uint8_t control)
{
    if (!State().plugged)
        return false;
    bool sent = LoadToneRecord(record);
    sent = WriteSlicDirectRegister(kOsc1Control, control) && sent;
    sent = WriteSlicDirectRegister(kOsc2Control, control) && sent;
    return sent;
}

} // namespace

bool SlicRingPhone()
{
    if (!State().plugged)
        return false;
    // 0x2E80 steps on, 0x5D00 off: about 1.49 s of ringing, 2.98 s of pause.
    bool sent = WriteSlicDirectRegister(kRingActiveLow, 0x80);
    sent = WriteSlicDirectRegister(kRingActiveHigh, 0x2E) && sent;
    sent = WriteSlicDirectRegister(kRingInactiveLow, 0x00) && sent;
    sent = WriteSlicDirectRegister(kRingInactiveHigh, 0x5D) && sent;
    sent = WriteSlicDirectRegister(kRingOscControl, 0x18) && sent;
    sent = WriteSlicDirectRegister(kLinefeed, kRinging) && sent;
    return sent;
}

bool SlicStopRing()
{
    return WriteSlicDirectRegister(kLinefeed, kForwardActive);
}

bool SlicPlayDialTone()
{
    return StartTone(kDialToneRecord, kToneControl);
}

bool SlicPlayBusyTone()
{
    return StartTone(kBusyToneRecord, kToneControl);
}

bool SlicPlayIntpTone(bool variant)
{
    return StartTone(kInterceptToneRecord, variant ? kInterceptVariantControl : kToneControl);
}

bool SlicStopTone()
{
    if (!State().plugged)
        return false;
    const bool sent = WriteSlicDirectRegister(kOsc1Control, kOscillatorOff);
    return WriteSlicDirectRegister(kOsc2Control, kOscillatorOff) && sent;
}

bool FupDialDtmf(int32_t code)
{
    if (code < 0 || code >= kDtmfRecords)
        return false;
    return StartTone(code, kDtmfControl);
}

bool SlicPhoneUnhooked()
{
    const auto status = ReadSlicDirectRegister(kLoopStatus);
    return status && *status != kFailedRead && (*status & kLoopClosed) != 0;
}

uint8_t SlicDetectDtmfCode()
{
    if (!State().plugged)
        return 0;
    // A failed read is not a decoded digit; the flag stays for the next call.
    const auto status = ReadSlicDirectRegister(kInterruptStatus3);
    if (!status || (*status & kDtmfDigit) == 0)
        return 0;
    if (!WriteSlicDirectRegister(kInterruptStatus3, 0xFF))
        return 0;
    const auto digit = ReadSlicDirectRegister(kDtmfDecode);
    if (!digit)
        return 0; // better no digit than a made-up one
    return static_cast<uint8_t>((*digit & 0x0F) | 0x80);
}

bool FupPcmPathSelect(uint8_t path)
{
    if (path >= kPcmPaths.size() || !State().plugged)
        return false;
    return Write_BYTE(CTRL_MODE, kPcmPaths[path]);
}

bool FupSetPcmFormat(uint8_t format)
{
    if (format >= kPcmFormats.size() || !State().plugged)
        return false;
    const PcmFormatSettings& settings = kPcmFormats[format];
    bool sent = Write_BYTE(CTRL_PCM, settings.controller);
    sent = WriteDaaRegister(kDaaPcmMode, settings.daa) && sent;
    sent = WriteSlicDirectRegister(kPcmMode, settings.slic) && sent;
    return sent;
}

} // namespace fxo
