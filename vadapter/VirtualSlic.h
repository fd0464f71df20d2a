#pragma once
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace parvane {

struct Scenario;

// One completed write of an indirect SLIC register.
struct SlicIndirectWrite {
    uint8_t reg = 0;
    uint16_t value = 0;
    bool operator==(const SlicIndirectWrite& other) const { return reg == other.reg && value == other.value; }
};

// The phone-side chip (SLIC) behind the adapter's serial bus, with the
// telephone set attached to it.
//
// Direct registers come up with their reset values (8 = 0x02, 11 = 0x33,
// 64 = 0x00, 14 = 0x10: converter off). Indirect registers are reached
// through 28 to 31: writing the address (30) right after the data (28, 29)
// writes the indirect register, writing the address alone reads it into 28
// and 29; 31 reads busy for a few polls after each transfer, then 0.
//
// What moves on its own, on the adapter's clock:
// - the battery sense (82) rises once the converter is powered (14 bit 4
//   clear) and sags slowly while it is off;
// - a calibration started by writing 96 with bit 6 keeps 96 as written until
//   it is done, then 96 reads 0;
// - registers 88 and 89 read 0 once the gain step in 98 or 99 is at or below
//   the chip's matching step;
// - 68 bit 0 is set while the loop is closed: the phone off-hook on a fed
//   line (64 not open); lifting the phone while it rings (64 = 0x04) trips
//   the ringing and the line feed goes forward active (0x01);
// - digits the phone dials are decoded one at a time while the loop is
//   closed, the next one when 20 is read after the last was taken: the code
//   in bits 3-0 of 24 and bit 0 of 20 set, until bit 0 of 20 is written 1
//   (interrupt status bits clear when written 1).
//
// Not thread-safe on its own; the adapter holds its lock around every call.
class VirtualSlic {
public:
    VirtualSlic() { PowerOn(); }

    // The scenario's telephone set: when it is lifted and what it dials.
    void Configure(const Scenario& scenario);
    // Power-on or adapter reset: registers to their reset values. The
    // telephone set keeps its state; digits not yet decoded stay dialled.
    void PowerOn();
    // The adapter was opened: the first opening after Configure starts the
    // scenario's telephone schedule.
    void Opened(uint64_t now);

    void Write(uint8_t reg, uint8_t value, uint64_t now);
    uint8_t Read(uint8_t reg, uint64_t now);

    // Inspection for tests: the stored registers as they are, no side effects.
    uint8_t Register(uint8_t reg) const { return m_direct[reg]; }
    void SetRegister(uint8_t reg, uint8_t value) { m_direct[reg] = value; }
    uint16_t IndirectRegister(uint8_t reg) const { return m_indirect[reg]; }
    const std::vector<SlicIndirectWrite>& IndirectWrites() const { return m_indirectWrites; }
    void ClearLog() { m_indirectWrites.clear(); }

    // Test controls.
    // Calibration and converter settle at once: the battery is up as soon as
    // the converter is powered, and a calibration is done after one read has
    // seen it running.
    void SetFastSettling(bool fast) { m_fast = fast; }
    void SetCalibrationStuck(bool stuck) { m_calibrationStuck = stuck; }
    // Calibrations end with the calibration error flag (bit 2 of 20).
    void SetCalibrationError(bool error) { m_calibrationError = error; }
    // Register 0: part number in bits 5-4, revision in bits 3-0.
    void SetIdentity(uint8_t identity);
    // The gain steps at which 88 (RING, step in 98) and 89 (TIP, step in 99)
    // read 0; 0 never matches.
    void SetGainMismatchSteps(int ring, int tip);
    // Polls of 31 that read busy after each indirect transfer.
    void SetIndirectBusyPolls(int polls) { m_busyPolls = polls < 0 ? 0 : polls; }
    // Reads of this indirect register come back with these bits flipped.
    void SetIndirectReadBackError(uint8_t reg, uint16_t flippedBits);

    // The telephone set.
    void SetPhoneOffHook(bool offHook, uint64_t now);
    bool PhoneOffHook(uint64_t now);
    // Dials digits (0-9, *, #, A-D) now, one after another; false, with
    // nothing dialled, when another character is among them.
    bool DialFromPhone(const std::string& digits, uint64_t now);
    // The chip's DTMF code of a digit (1-9 = 1-9, 0 = 10, * = 11, # = 12,
    // A-C = 13-15, D = 0), or -1.
    static int DtmfCode(char digit);

private:
    struct DialledDigit {
        uint8_t code = 0;
        uint64_t at = 0; // when it is on the line
    };

    void Advance(uint64_t now);
    void DecodeNextDigit(uint64_t now);
    bool LoopClosed() const;
    uint8_t Battery(uint64_t now) const;
    void SetConverter(bool on, uint64_t now);
    void FinishCalibration();
    void WriteIndirectAddress(uint8_t reg);

    std::array<uint8_t, 256> m_direct{};
    std::array<uint16_t, 256> m_indirect{};
    bool m_dataWritten = false;
    int m_busyLeft = 0;

    // Converter: the battery level at m_batterySince, rising or sagging since.
    bool m_converterOn = false;
    double m_batteryBase = 0;
    uint64_t m_batterySince = 0;

    bool m_calibrating = false;
    uint64_t m_calibrationStart = 0;
    int m_calibrationReads = 0;

    // The telephone set.
    bool m_phoneOffHook = false;
    std::deque<DialledDigit> m_dialled;
    // The scenario's schedule.
    int64_t m_scheduledOffHookMs = -1;
    std::string m_scheduledDigits;
    uint32_t m_digitGapMs = 300;
    bool m_scheduleArmed = false;
    bool m_liftPending = false;
    uint64_t m_liftAt = 0;

    // Controls.
    bool m_fast = false;
    bool m_calibrationStuck = false;
    bool m_calibrationError = false;
    uint8_t m_identity = 0x02;
    int m_ringStep = 17;
    int m_tipStep = 19;
    int m_busyPolls = 1;
    uint8_t m_faultyIndirect = 0;
    uint16_t m_flippedBits = 0;

    std::vector<SlicIndirectWrite> m_indirectWrites;
};

} // namespace parvane
