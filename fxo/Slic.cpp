// SLIC start-up: check that the chip is there and freshly reset, load its
// indirect registers, bring up the DC-DC converter, calibrate, and leave the
// line fed (forward active). Every failed check ends the start-up with false
// at once and leaves the chip where the sequence stopped.
//
// The waits are the chip's: a second for the leak check, up to 62 x 40 ms
// for the gain-mismatch search and up to 2 x 800 ms of calibration polling,
// so a start-up blocks its caller for well over a second.
#include "fxo/Slic.h"

#include "fxo/FxoLibrary.h"
#include "platform/Tick.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

namespace fxo {

namespace {

// Direct registers.
constexpr uint8_t kIdentification = 0;    // bits 5-4 part number, 3-0 revision
constexpr uint8_t kPcmMode = 1;
constexpr uint8_t kLoopback = 8;
constexpr uint8_t kHybrid = 11;
constexpr uint8_t kPowerDown1 = 14;
constexpr uint8_t kInterruptStatus1 = 18;
constexpr uint8_t kInterruptStatus2 = 19;
constexpr uint8_t kInterruptStatus3 = 20;
constexpr uint8_t kInterruptEnable1 = 21;
constexpr uint8_t kInterruptEnable2 = 22;
constexpr uint8_t kInterruptEnable3 = 23;
constexpr uint8_t kIndirectDataLow = 28;
constexpr uint8_t kIndirectDataHigh = 29;
constexpr uint8_t kIndirectAddress = 30;
constexpr uint8_t kLinefeed = 64;
constexpr uint8_t kBatteryFeed = 66;
constexpr uint8_t kAutoManual = 67;
constexpr uint8_t kLoopCurrentLimit = 71;
constexpr uint8_t kCommonModeVoltage = 73;
constexpr uint8_t kHighBattery = 74;
constexpr uint8_t kBatterySense = 82;
constexpr uint8_t kRingMismatch = 88;
constexpr uint8_t kTipMismatch = 89;
constexpr uint8_t kConverterPeriod = 92;
constexpr uint8_t kConverterDelay = 93;
constexpr uint8_t kCalibration1 = 96;
constexpr uint8_t kCalibration2 = 97;
constexpr uint8_t kRingGainStep = 98;
constexpr uint8_t kTipGainStep = 99;
constexpr uint8_t kEnhancement = 108;

constexpr uint8_t kLinefeedOpen = 0x00;
constexpr uint8_t kForwardActive = 0x01;
constexpr uint8_t kBatteryUp = 0xC0;
constexpr uint8_t kCalibrationError = 0x04; // interrupt status 3

constexpr int kConverterPollsBeforeTimeCheck = 2000;
constexpr uint32_t kConverterTimeoutMs = 500;
constexpr uint32_t kLeakCheckMs = 1000;
constexpr int kCalibrationWaits = 800;
constexpr uint32_t kGainStepSettleMs = 40;

// Indirect registers 0 to 41 after start-up.
constexpr std::array<uint16_t, 42> IndirectInitTable = {
    0x55C2, // DTMF_ROW_0_PEAK
    0x51E6, // DTMF_ROW_1_PEAK
    0x4B85, // DTMF_ROW2_PEAK
    0x4937, // DTMF_ROW3_PEAK
    0x3333, // DTMF_COL1_PEAK
    0x0202, // DTMF_FWD_TWIST
    0x0202, // DTMF_RVS_TWIST
    0x0198, // DTMF_ROW_RATIO
    0x0198, // DTMF_COL_RATIO
    0x0611, // DTMF_ROW_2ND_ARM
    0x0202, // DTMF_COL_2ND_ARM
    0x00E5, // DTMF_PWR_MIN_
    0x0A1C, // DTMF_OT_LIM_TRES
    0x7B30, // OSC1_COEF
    0x0063, // OSC1X
    0x0000, // OSC1Y
    0x7870, // OSC2_COEF
    0x007D, // OSC2X
    0x0000, // OSC2Y
    0x0000, // RING_V_OFF
    0x7EF0, // RING_OSC
    0x01F8, // RING_X
    0x0000, // RING_Y
    0x2000, // PULSE_ENVEL
    0x2000, // PULSE_X
    0x0000, // PULSE_Y
    0x4000, // RECV_DIGITAL_GAIN
    0x4000, // XMIT_DIGITAL_GAIN
    0x1000, // LOOP_CLOSE_TRES
    0x3600, // RING_TRIP_TRES
    0x1000, // COMMON_MIN_TRES
    0x0200, // COMMON_MAX_TRES
    0x07C0, // PWR_ALARM_Q1Q2
    0x2600, // PWR_ALARM_Q3Q4
    0x1B80, // PWR_ALARM_Q5Q6
    0x8000, // LOOP_CLSRE_FlTER
    0x0320, // RING_TRIP_FILTER
    0x008C, // TERM_LP_POLE_Q1Q2
    0x0100, // TERM_LP_POLE_Q3Q4
    0x0010, // TERM_LP_POLE_Q5Q6
    0x0C00, // CM_BIAS_RINGING
    0x0C00, // DCDC_MIN_V
};

// Written after the table, in this order; register 99 ends at 0.
constexpr std::pair<uint8_t, uint16_t> kFurtherIndirect[] = {
    {99, 0x00DA}, {100, 0x6B60}, {101, 0x0074}, {102, 0x79C0}, {103, 0x1120}, {104, 0x3BE0}, {99, 0x0000},
};

// Indirect registers parked at 0x8000 while the converter and calibration run.
constexpr uint8_t kParkedFirst = 35;
constexpr uint8_t kParkedLast = 39;
constexpr uint16_t kParkedValue = 0x8000;

bool Write(uint8_t reg, uint8_t value)
{
    return WriteSlicDirectRegister(reg, value);
}

std::optional<uint8_t> Read(uint8_t reg)
{
    return ReadSlicDirectRegister(reg);
}

// A failed read never matches.
bool Holds(uint8_t reg, uint8_t value)
{
    return Read(reg) == value;
}

// Write whose transfer may be lost: the read-back decides.
bool WriteChecked(uint8_t reg, uint8_t value)
{
    Write(reg, value);
    return Holds(reg, value);
}

// Write that must be sent and read back.
bool WriteSentChecked(uint8_t reg, uint8_t value)
{
    return Write(reg, value) && Holds(reg, value);
}

bool WriteIndirectChecked(uint8_t reg, uint16_t value)
{
    return WriteSlicIndirectRegister(reg, value) && ReadSlicIndirect(reg) == value;
}

bool InitIndirectRegisters()
{
    for (size_t reg = 0; reg < IndirectInitTable.size(); ++reg)
        if (!WriteIndirectChecked(static_cast<uint8_t>(reg), IndirectInitTable[reg]))
            return false;
    // Register 43 goes through the data and address registers directly.
    WaitIndirectReady();
    Write(kIndirectDataLow, 0x00);
    Write(kIndirectDataHigh, 0x10);
    Write(kIndirectAddress, 43);
    if (ReadSlicIndirect(43) != uint16_t{0x1000})
        return false;
    for (const auto& [reg, value] : kFurtherIndirect)
        if (!WriteIndirectChecked(reg, value))
            return false;
    return true;
}

// Powers the converter and waits for the battery; the last battery reading,
// or 0 when it did not come up in time or a write was lost.
uint8_t PowerUpConverter()
{
    if (!Write(kConverterPeriod, 0xFF) || !Write(kConverterDelay, 0x19))
        return 0;
    const uint32_t start = parvane::GetTickCount32();
    if (!Write(kPowerDown1, 0x00))
        return 0;
    uint8_t battery = 0;
    for (int polls = 0;; ++polls) {
        if (!State().plugged)
            return 0;
        if (polls > kConverterPollsBeforeTimeCheck && parvane::GetTickCount32() - start > kConverterTimeoutMs)
            return 0;
        // A failed read is no battery reading (its 243 would pass for one).
        const auto reading = Read(kBatterySense);
        if (reading && *reading >= kBatteryUp) {
            battery = *reading;
            break;
        }
    }
    if (!Write(kConverterDelay, 0x80))
        return 0;
    return battery;
}

// Powers the converter down with the line open and samples the battery a
// second later. The reading is not judged.
bool PowerLeakCheck()
{
    if (!Write(kLinefeed, kLinefeedOpen) || !Write(kPowerDown1, 0x10))
        return false;
    parvane::SleepMs(kLeakCheckMs);
    Read(kBatterySense);
    return false;
}

// Polls register 96 until the calibration clears it: false after 800
// one-millisecond waits without that.
bool WaitCalibrationDone()
{
    for (int waits = 0;; ++waits) {
        if (!State().plugged)
            return false;
        if (Read(kCalibration1) == uint8_t{0})
            return true;
        if (waits == kCalibrationWaits)
            return false;
        parvane::SleepMs(1);
    }
}

// Searches the RING (98, result in 88) and TIP (99, result in 89) gain steps
// from 31 down for the one that reads 0. Bit 0: RING found, bit 1: TIP found.
int CalibrateGainMismatch()
{
    int found = 0;
    Write(kRingGainStep, 0x10);
    Write(kTipGainStep, 0x10);
    const std::pair<uint8_t, uint8_t> searches[] = {{kRingGainStep, kRingMismatch}, {kTipGainStep, kTipMismatch}};
    for (int which = 0; which < 2; ++which) {
        for (uint8_t step = 31; step >= 1 && State().plugged; --step) {
            Write(searches[which].first, step);
            parvane::SleepMs(kGainStepSettleMs);
            if (Read(searches[which].second) == uint8_t{0}) {
                found |= 1 << which;
                break;
            }
        }
    }
    return found;
}

bool CalibrateSlic()
{
    if (!WriteChecked(kInterruptEnable1, 0x00) || !WriteChecked(kInterruptEnable2, 0x00) ||
        !WriteChecked(kInterruptEnable3, 0x00) || !WriteChecked(kLinefeed, kLinefeedOpen))
        return false;
    if (!WriteChecked(kCalibration2, 0x18) || !WriteChecked(kCalibration1, 0x47))
        return false;
    if (!WaitCalibrationDone())
        return false;
    CalibrateGainMismatch();
    // A lost start of the second calibration would let the poll below pass
    // on a calibration that never ran.
    if (!Write(kLinefeed, kLinefeedOpen) || !Write(kInterruptEnable3, 0x04) || !Write(kCalibration2, 0x01) ||
        !Write(kCalibration1, 0x40))
        return false;
    const bool done = WaitCalibrationDone();
    // Without a reading of the error flag the calibration is not known good.
    const auto status = Read(kInterruptStatus3);
    if (!done || !status || (*status & kCalibrationError) != 0)
        return false;
    for (uint8_t reg = 88; reg <= 95; ++reg)
        WriteSlicIndirectRegister(reg, 0);
    WriteSlicIndirectRegister(97, 0);
    for (uint8_t reg = 193; reg <= 211; ++reg)
        WriteSlicIndirectRegister(reg, 0);
    return true;
}

} // namespace

bool FupInitSlic()
{
    if (!State().plugged)
        return false;
    // The chip is there and in its reset state.
    if (!Holds(kLoopback, 0x02) || !Holds(kLinefeed, 0x00) || !Holds(kHybrid, 0x33))
        return false;
    if (!InitIndirectRegisters())
        return false;

    std::array<uint16_t, kParkedLast - kParkedFirst + 1> parked{};
    for (uint8_t reg = kParkedFirst; reg <= kParkedLast; ++reg) {
        const auto value = ReadSlicIndirect(reg);
        if (!value || !WriteIndirectChecked(reg, kParkedValue))
            return false; // without the value there is nothing to put back
        parked[reg - kParkedFirst] = *value;
    }

    if (!WriteSentChecked(kLoopback, 0x00) || !WriteSentChecked(kHighBattery, 0x32) ||
        !WriteChecked(kConverterPeriod, 0x4F) || !WriteChecked(kConverterDelay, 0x03) ||
        !WriteSentChecked(kEnhancement, 0xEB))
        return false;

    PowerUpConverter();
    PowerLeakCheck();
    PowerUpConverter();
    if (!CalibrateSlic())
        return false;

    for (uint8_t reg = kParkedFirst; reg <= kParkedLast; ++reg)
        if (!WriteIndirectChecked(reg, parked[reg - kParkedFirst]))
            return false;

    // Part- and revision-specific settings; a chip that cannot be identified
    // is not set up at all rather than set up for the wrong part.
    const auto identity = Read(kIdentification);
    if (!identity)
        return false;
    if ((*identity & 0x30) == 0 && (!Write(kAutoManual, 0x17) || !Write(kBatteryFeed, 0x01)))
        return false;
    if ((*identity & 0x0F) <= 2 && !Write(kCommonModeVoltage, 0x04))
        return false;

    if (!WriteSentChecked(kInterruptEnable3, 0x01) || !Write(kInterruptStatus3, 0xFF) ||
        !WriteSentChecked(kInterruptEnable2, 0x02) || !Write(kInterruptStatus2, 0xFF) ||
        !WriteSentChecked(kInterruptEnable1, 0x00) || !Write(kInterruptStatus1, 0xFF))
        return false;
    if (!WriteChecked(kLoopCurrentLimit, 0x00) || !WriteChecked(kPcmMode, 0x28))
        return false;
    // A start-up whose line feed write was lost has left the phone unpowered.
    if (!Write(kLinefeed, kForwardActive))
        return false;
    bool sent = true;
    for (const auto& [reg, value] : {std::pair<uint8_t, uint8_t>{12, 0x0F}, {13, 0x0F}, {14, 0xFF}, {14, 0x00}})
        sent = Write_BYTE(reg, value) && sent;
    return sent;
}

} // namespace fxo
