#include "fxo/DaaControl.h"

#include "fxo/CountryTable.h"
#include "fxo/FxoLibrary.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

namespace fxo {

namespace {

// DAA registers.
constexpr uint8_t kControl1 = 1;
constexpr uint8_t kDaaControl1 = 5;      // bit 0 off-hook, bit 3 on-hook line monitor
constexpr uint8_t kDaaControl2 = 6;
constexpr uint8_t kIntlControl1 = 16;
constexpr uint8_t kIntlControl2 = 17;
constexpr uint8_t kIntlControl3 = 18;
constexpr uint8_t kRingValidation1 = 22;
constexpr uint8_t kRingValidation2 = 23;
constexpr uint8_t kRingValidation3 = 24;
constexpr uint8_t kDcTermination = 26;
constexpr uint8_t kLoopCurrent = 28;
constexpr uint8_t kAcTermination = 30;
constexpr uint8_t kDaaControl5 = 31;
constexpr uint8_t kPcmSpiMode = 33;
constexpr uint8_t kTxGain2 = 38;
constexpr uint8_t kRxGain2 = 39;
constexpr uint8_t kTxGain3 = 40;
constexpr uint8_t kRxGain3 = 41;

constexpr uint8_t kOffHook = 0x01;
constexpr uint8_t kOnHookMonitor = 0x08;
constexpr uint8_t kRingInput = 0x02; // CTRL_LINE bit 1, low while ringing

// SLIC direct register holding the line impedance code in bits 2-0.
constexpr uint8_t kSlicImpedance = 10;

// Reads register 5 and writes it back changed; false without the write when
// the read fails, and when the write is not sent.
bool ChangeHookRegister(uint8_t set, uint8_t clear)
{
    const auto value = ReadDaaRegister(kDaaControl1);
    if (!value)
        return false;
    return WriteDaaRegister(kDaaControl1, static_cast<uint8_t>((*value & ~clear) | set));
}

} // namespace

bool FupInitDaa()
{
    if (!State().plugged)
        return false;
    // Every transfer is checked: a sequence that lost a report has not set
    // the chip up, whatever the echo said.
    bool sent = true;
    auto write = [&sent](uint8_t reg, uint8_t value) { sent = WriteDaaRegister(reg, value) && sent; };

    write(kControl1, 0x80); // soft reset
    parvane::SleepMs(20);
    write(kPcmSpiMode, 0x28);
    if (ReadDaaRegister(kPcmSpiMode) != uint8_t{0x28})
        return false; // no DAA answering
    write(kDcTermination, 0xC0);
    write(kDaaControl2, 0x00);
    write(kDaaControl1, 0x01);
    write(kTxGain2, 0x02);
    write(kTxGain3, 0x08);
    write(kRxGain2, 0x01);
    write(kRxGain3, 0x05);
    write(kIntlControl2, 0x00);
    write(kDaaControl1, 0x01);
    parvane::SleepMs(10);
    write(kIntlControl2, 0x08);
    write(kDaaControl1, 0x00);
    parvane::SleepMs(10);
    write(kIntlControl2, 0x00);
    write(kDaaControl1, 0x01);
    write(kIntlControl2, 0x08);
    write(kRingValidation3, 0x11);
    write(kRingValidation2, 0x1D);
    write(kRingValidation1, 0x4D);
    write(kIntlControl1, 0x10);
    write(kIntlControl3, 0x02);
    write(kDcTermination, 0xC0);
    write(kDaaControl5, 0xA0);
    parvane::SleepMs(10);
    write(kDaaControl1, 0x00); // line released
    parvane::SleepMs(300);
    return sent;
}

bool DaaSetOffhook()
{
    if (!State().plugged)
        return false;
    WriteDaaRegister(kIntlControl2, 0x00);
    return ChangeHookRegister(kOffHook, 0);
}

bool DaaSetOnhook()
{
    if (!State().plugged)
        return false;
    WriteDaaRegister(kIntlControl2, 0x08);
    return ChangeHookRegister(0, kOffHook);
}

bool DaaOnHookMonitor(bool on)
{
    if (!State().plugged)
        return false;
    return on ? ChangeHookRegister(kOnHookMonitor, 0) : ChangeHookRegister(0, kOnHookMonitor);
}

int32_t DaaPstnHook()
{
    if (!State().plugged)
        return 1;
    const auto current = ReadDaaRegister(kLoopCurrent);
    if (!current)
        return LastErrorCode();
    return *current <= 10 ? 1 : 0;
}

bool DaaRingDetect()
{
    if (!State().plugged)
        return false;
    const auto line = ReadRegister(CTRL_LINE);
    return line && (*line & kRingInput) == 0;
}

void DaaSetCountry(const char* name)
{
    if (!State().plugged || name == nullptr)
        return;
    DebugPrint("SetDAACountry:szCountryName=%s", name);
    const int index = FindCountryIndex(name);
    if (index >= 0)
        SetDAACountry(index);
}

bool FupSetCountry(int32_t index)
{
    if (index < 0)
        return false;
    SetDAACountry(index);
    SetSlicCountry(index);
    return true;
}

bool SetDAACountry(int32_t index)
{
    DebugPrint("SetDAACountry:nCountryIndex=%ld", static_cast<long>(index));
    if (!State().plugged || index < 0)
        return false;
    const CountryRecord& country = CountryTable[index > kOtherCountry ? kOtherCountry : index];
    // A register whose read failed is left alone rather than rewritten from
    // the failure value.
    if (const auto v = ReadDaaRegister(kIntlControl1))
        WriteDaaRegister(kIntlControl1, static_cast<uint8_t>((country.ohs ? 0x40 : 0) | (country.rz ? 0x02 : 0) |
                                                             (country.rt ? 0x01 : 0) | (*v & 0xBC) | 0x10));
    if (const auto v = ReadDaaRegister(kDcTermination))
        WriteDaaRegister(kDcTermination, static_cast<uint8_t>((country.dcv * 4 + country.mini) * 16 |
                                                              (country.ilim ? 0x02 : 0) | (*v & 0x0D)));
    if (const auto v = ReadDaaRegister(kAcTermination))
        WriteDaaRegister(kAcTermination, static_cast<uint8_t>(country.acim | (*v & 0xF0)));
    if (const auto v = ReadDaaRegister(kDaaControl5))
        WriteDaaRegister(kDaaControl5, static_cast<uint8_t>((*v & 0xF7) | 0x80 | country.ohs2 * 8));
    return true;
}

bool SetSlicCountry(int32_t index)
{
    if (!State().plugged || index < 0)
        return false;
    const CountryRecord& country = CountryTable[index > kOtherCountry ? kOtherCountry : index];
    if (const auto v = ReadSlicDirectRegister(kSlicImpedance))
        WriteSlicDirectRegister(kSlicImpedance, static_cast<uint8_t>((*v & 0xF8) | country.fxsImpedance));
    return true;
}

} // namespace fxo
