#include "vadapter/VirtualSlic.h"

#include "vadapter/Scenario.h"

#include <algorithm>

namespace parvane {

namespace {

constexpr uint8_t kIdentification = 0;
constexpr uint8_t kPowerDown1 = 14;      // bit 4: converter powered down
constexpr uint8_t kInterruptStatus1 = 18;
constexpr uint8_t kInterruptStatus2 = 19;
constexpr uint8_t kInterruptStatus3 = 20; // bit 0 DTMF digit, bit 2 calibration error
constexpr uint8_t kDtmfDecode = 24;
constexpr uint8_t kIndirectDataLow = 28;
constexpr uint8_t kIndirectDataHigh = 29;
constexpr uint8_t kIndirectAddress = 30;
constexpr uint8_t kIndirectStatus = 31;
constexpr uint8_t kLinefeed = 64;
constexpr uint8_t kLoopStatus = 68;      // bit 0: loop closed
constexpr uint8_t kBatterySense = 82;
constexpr uint8_t kRingMismatch = 88;
constexpr uint8_t kTipMismatch = 89;
constexpr uint8_t kCalibration1 = 96;    // bit 6 starts a calibration
constexpr uint8_t kRingGainStep = 98;
constexpr uint8_t kTipGainStep = 99;

constexpr uint8_t kConverterOff = 0x10;
constexpr uint8_t kDtmfDigit = 0x01;
constexpr uint8_t kCalibrationErrorFlag = 0x04;
constexpr uint8_t kCalibrate = 0x40;
constexpr uint8_t kLinefeedMask = 0x07;
constexpr uint8_t kLinefeedOpen = 0x00;
constexpr uint8_t kForwardActive = 0x01;
constexpr uint8_t kRinging = 0x04;

// Battery sense with the converter up, and how fast it gets there and sags.
constexpr double kBatteryFull = 0xCA;
constexpr double kBatteryRisePerMs = 2.0;
constexpr double kBatterySagPerMs = 0.02;
constexpr uint64_t kCalibrationMs = 150;
// What 88 and 89 read while the gain step is above the matching one.
constexpr uint8_t kMismatch = 0x1F;

constexpr size_t kLogLimit = 200000;

bool ApplyOffHook(const std::string& value, Scenario& scenario, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, 3600 * 1000, number)) {
        error = "expected milliseconds from 0 to 3600000";
        return false;
    }
    scenario.phoneOffHookMs = static_cast<int64_t>(number);
    return true;
}

bool ApplyDigits(const std::string& value, Scenario& scenario, std::string& error)
{
    for (char digit : value) {
        if (VirtualSlic::DtmfCode(digit) < 0) {
            error = "expected DTMF digits: 0-9, *, #, A-D";
            return false;
        }
    }
    scenario.phoneDigits = value;
    return true;
}

bool ApplyDigitGap(const std::string& value, Scenario& scenario, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, 3600 * 1000, number) || number == 0) {
        error = "expected milliseconds from 1 to 3600000";
        return false;
    }
    scenario.phoneDigitGapMs = static_cast<uint32_t>(number);
    return true;
}

const ScenarioKeys g_phoneKeys = {
    {"phone", "off_hook", ApplyOffHook},
    {"phone", "digits", ApplyDigits},
    {"phone", "digit_gap", ApplyDigitGap},
};

} // namespace

int VirtualSlic::DtmfCode(char digit)
{
    if (digit >= '1' && digit <= '9')
        return digit - '0';
    switch (digit) {
    case '0': return 10;
    case '*': return 11;
    case '#': return 12;
    case 'A': case 'a': return 13;
    case 'B': case 'b': return 14;
    case 'C': case 'c': return 15;
    case 'D': case 'd': return 0;
    default: return -1;
    }
}

void VirtualSlic::Configure(const Scenario& scenario)
{
    m_scheduledOffHookMs = scenario.phoneOffHookMs;
    m_scheduledDigits = scenario.phoneDigits;
    m_digitGapMs = scenario.phoneDigitGapMs;
    m_scheduleArmed = true;
    m_liftPending = false;
    m_phoneOffHook = false;
    m_dialled.clear();
}

void VirtualSlic::PowerOn()
{
    m_direct.fill(0);
    m_indirect.fill(0);
    m_direct[kIdentification] = m_identity;
    m_direct[8] = 0x02;  // audio loopback control
    m_direct[11] = 0x33; // hybrid control
    m_direct[kPowerDown1] = kConverterOff;
    m_direct[kLinefeed] = kLinefeedOpen;
    m_dataWritten = false;
    m_busyLeft = 0;
    m_converterOn = false;
    m_batteryBase = 0;
    m_batterySince = 0;
    m_calibrating = false;
    m_calibrationReads = 0;
}

void VirtualSlic::Opened(uint64_t now)
{
    if (!m_scheduleArmed)
        return;
    m_scheduleArmed = false;
    uint64_t start = now;
    if (m_scheduledOffHookMs >= 0) {
        m_liftAt = now + static_cast<uint64_t>(m_scheduledOffHookMs);
        m_liftPending = true;
        start = m_liftAt;
    }
    for (size_t i = 0; i < m_scheduledDigits.size(); ++i)
        m_dialled.push_back({static_cast<uint8_t>(DtmfCode(m_scheduledDigits[i])),
                             start + static_cast<uint64_t>(m_digitGapMs) * (i + 1)});
}

void VirtualSlic::SetIdentity(uint8_t identity)
{
    m_identity = identity;
    m_direct[kIdentification] = identity;
}

void VirtualSlic::SetGainMismatchSteps(int ring, int tip)
{
    m_ringStep = ring;
    m_tipStep = tip;
}

void VirtualSlic::SetIndirectReadBackError(uint8_t reg, uint16_t flippedBits)
{
    m_faultyIndirect = reg;
    m_flippedBits = flippedBits;
}

void VirtualSlic::SetPhoneOffHook(bool offHook, uint64_t now)
{
    m_liftPending = false; // the test's word is the last one
    m_phoneOffHook = offHook;
    Advance(now);
}

bool VirtualSlic::PhoneOffHook(uint64_t now)
{
    Advance(now);
    return m_phoneOffHook;
}

bool VirtualSlic::DialFromPhone(const std::string& digits, uint64_t now)
{
    for (char digit : digits)
        if (DtmfCode(digit) < 0)
            return false;
    for (char digit : digits)
        m_dialled.push_back({static_cast<uint8_t>(DtmfCode(digit)), now});
    return true;
}

bool VirtualSlic::LoopClosed() const
{
    return m_phoneOffHook && (m_direct[kLinefeed] & kLinefeedMask) != kLinefeedOpen;
}

uint8_t VirtualSlic::Battery(uint64_t now) const
{
    const double elapsed = static_cast<double>(now >= m_batterySince ? now - m_batterySince : 0);
    double level = 0;
    if (m_converterOn)
        level = m_fast ? kBatteryFull : std::min(kBatteryFull, m_batteryBase + elapsed * kBatteryRisePerMs);
    else
        level = std::max(0.0, m_batteryBase - elapsed * kBatterySagPerMs);
    return static_cast<uint8_t>(level);
}

void VirtualSlic::SetConverter(bool on, uint64_t now)
{
    if (on == m_converterOn)
        return;
    m_batteryBase = Battery(now);
    m_batterySince = now;
    m_converterOn = on;
}

void VirtualSlic::FinishCalibration()
{
    m_calibrating = false;
    m_direct[kCalibration1] = 0;
    if (m_calibrationError)
        m_direct[kInterruptStatus3] |= kCalibrationErrorFlag;
}

void VirtualSlic::Advance(uint64_t now)
{
    if (m_liftPending && now >= m_liftAt) {
        m_liftPending = false;
        m_phoneOffHook = true;
    }
    if (m_calibrating && !m_calibrationStuck && !m_fast && now >= m_calibrationStart &&
        now - m_calibrationStart >= kCalibrationMs)
        FinishCalibration();
    // Lifting the phone while it rings trips the ringing.
    if (m_phoneOffHook && (m_direct[kLinefeed] & kLinefeedMask) == kRinging)
        m_direct[kLinefeed] = static_cast<uint8_t>((m_direct[kLinefeed] & ~kLinefeedMask) | kForwardActive);
}

void VirtualSlic::DecodeNextDigit(uint64_t now)
{
    if (LoopClosed() && (m_direct[kInterruptStatus3] & kDtmfDigit) == 0 && !m_dialled.empty() &&
        m_dialled.front().at <= now) {
        m_direct[kDtmfDecode] = static_cast<uint8_t>((m_direct[kDtmfDecode] & 0xF0) | m_dialled.front().code);
        m_direct[kInterruptStatus3] |= kDtmfDigit;
        m_dialled.pop_front();
    }
}

void VirtualSlic::WriteIndirectAddress(uint8_t reg)
{
    if (m_dataWritten) {
        const auto value = static_cast<uint16_t>(m_direct[kIndirectDataHigh] << 8 | m_direct[kIndirectDataLow]);
        m_indirect[reg] = value;
        if (m_indirectWrites.size() >= kLogLimit)
            m_indirectWrites.erase(m_indirectWrites.begin(),
                                   m_indirectWrites.begin() + static_cast<long>(kLogLimit / 2));
        m_indirectWrites.push_back({reg, value});
    } else {
        uint16_t value = m_indirect[reg];
        if (m_flippedBits != 0 && reg == m_faultyIndirect)
            value ^= m_flippedBits;
        m_direct[kIndirectDataLow] = static_cast<uint8_t>(value & 0xFF);
        m_direct[kIndirectDataHigh] = static_cast<uint8_t>(value >> 8);
    }
    m_dataWritten = false;
    m_busyLeft = m_busyPolls;
}

void VirtualSlic::Write(uint8_t reg, uint8_t value, uint64_t now)
{
    Advance(now);
    switch (reg) {
    case kIdentification:
    case kIndirectStatus:
    case kLoopStatus:
    case kBatterySense:
    case kRingMismatch:
    case kTipMismatch:
        return; // read-only
    case kInterruptStatus1:
    case kInterruptStatus2:
    case kInterruptStatus3:
        m_direct[reg] &= static_cast<uint8_t>(~value); // a 1 clears the flag
        break;
    case kIndirectDataLow:
    case kIndirectDataHigh:
        m_direct[reg] = value;
        m_dataWritten = true;
        break;
    case kIndirectAddress:
        m_direct[reg] = value;
        WriteIndirectAddress(value);
        break;
    case kPowerDown1:
        m_direct[reg] = value;
        SetConverter((value & kConverterOff) == 0, now);
        break;
    case kCalibration1:
        m_direct[reg] = value;
        m_calibrating = (value & kCalibrate) != 0;
        m_calibrationStart = now;
        m_calibrationReads = 0;
        break;
    default:
        m_direct[reg] = value;
    }
    Advance(now);
}

uint8_t VirtualSlic::Read(uint8_t reg, uint64_t now)
{
    Advance(now);
    switch (reg) {
    case kIndirectStatus:
        if (m_busyLeft > 0) {
            --m_busyLeft;
            return 0x01;
        }
        return 0;
    case kInterruptStatus3:
        // Digits reach the decoder one per look at the status: the next one
        // is never decoded between taking one and reading its code.
        DecodeNextDigit(now);
        return m_direct[reg];
    case kLoopStatus:
        return static_cast<uint8_t>((m_direct[reg] & ~0x01) | (LoopClosed() ? 0x01 : 0));
    case kBatterySense:
        return Battery(now);
    case kRingMismatch:
        return m_ringStep > 0 && m_direct[kRingGainStep] <= m_ringStep ? 0 : kMismatch;
    case kTipMismatch:
        return m_tipStep > 0 && m_direct[kTipGainStep] <= m_tipStep ? 0 : kMismatch;
    case kCalibration1:
        // Settling at once still lets the first read see the calibration run.
        if (m_calibrating && m_fast && !m_calibrationStuck && m_calibrationReads > 0)
            FinishCalibration();
        if (m_calibrating)
            ++m_calibrationReads;
        return m_direct[reg];
    default:
        return m_direct[reg];
    }
}

} // namespace parvane
