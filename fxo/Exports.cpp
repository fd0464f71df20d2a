// The library's flat C interface: 40 names, plain integer arguments and
// results (byte and 8-bit bool = uint8_t, word = uint16_t, int = int32_t).
#include "fxo/DaaControl.h"
#include "fxo/FxoExport.h"
#include "fxo/FxoLibrary.h"
#include "fxo/Peripherals.h"
#include "fxo/Slic.h"

using namespace fxo;

namespace {

uint8_t Bool(bool value)
{
    return value ? 1 : 0;
}

} // namespace

// ---- Opening and transport ----------------------------------------------

FXO_EXPORT uint8_t ZorvLoad(int32_t vendorId, int32_t productId)
{
    return Bool(UsbHidOpen(static_cast<uint16_t>(vendorId & 0xFFFF), static_cast<uint16_t>(productId & 0xFFFF)) !=
                nullptr);
}

FXO_EXPORT uint8_t ZorvClose()
{
    CloseDevice();
    return 1;
}

FXO_EXPORT int32_t SetPortIndex(int32_t index)
{
    State().portIndex = index;
    return index;
}

FXO_EXPORT uint8_t WriteByte(uint8_t reg, uint8_t value)
{
    return Bool(Write_BYTE(reg, value));
}

FXO_EXPORT uint8_t ReadByte(uint8_t reg)
{
    return Read_BYTE(reg);
}

FXO_EXPORT uint8_t Write4Byte(uint8_t reg, const uint8_t* data)
{
    return Bool(Write_4BYTE(reg, data));
}

FXO_EXPORT uint8_t GetSerialNumber(uint8_t* out)
{
    return Bool(GetSerial(out));
}

// ---- Chip registers -----------------------------------------------------

FXO_EXPORT uint8_t WriteDAARegister(uint8_t reg, uint8_t value)
{
    return Bool(WriteDaaRegister(reg, value));
}

FXO_EXPORT uint8_t ReadDAARegister(uint8_t reg)
{
    if (!State().plugged)
        return 0;
    return ReadDaaRegister(reg).value_or(kFailedRead);
}

FXO_EXPORT uint8_t WriteProSlicDirectRegister(uint8_t reg, uint8_t value)
{
    return Bool(WriteSlicDirectRegister(reg, value));
}

FXO_EXPORT uint8_t ReadProSlicDirectRegister(uint8_t reg)
{
    if (!State().plugged)
        return 0;
    return ReadSlicDirectRegister(reg).value_or(kFailedRead);
}

FXO_EXPORT uint8_t WriteProSlicInDirectRegister(uint8_t reg, uint16_t value)
{
    return Bool(WriteSlicIndirectRegister(reg, value));
}

FXO_EXPORT uint16_t ReadProSlicInDirectRegister(uint8_t reg)
{
    return ReadSlicIndirectRegister(reg);
}

// ---- Line side ----------------------------------------------------------

FXO_EXPORT uint8_t FupInitDaa()
{
    return Bool(fxo::FupInitDaa());
}

FXO_EXPORT uint8_t DaaSetOffhook()
{
    return Bool(fxo::DaaSetOffhook());
}

FXO_EXPORT uint8_t DaaSetOnhook()
{
    return Bool(fxo::DaaSetOnhook());
}

FXO_EXPORT uint8_t DaaOnHookMonitor(uint8_t on)
{
    return Bool(fxo::DaaOnHookMonitor(on != 0));
}

FXO_EXPORT int32_t DaaPstnHook()
{
    return fxo::DaaPstnHook();
}

FXO_EXPORT uint8_t DaaRingDetect()
{
    return Bool(fxo::DaaRingDetect());
}

FXO_EXPORT void DaaSetCountry(const char* name)
{
    fxo::DaaSetCountry(name);
}

FXO_EXPORT uint8_t FupSetCountry(int32_t index)
{
    return Bool(fxo::FupSetCountry(index));
}

FXO_EXPORT uint8_t FupCalledHangUpDetect()
{
    return Bool(fxo::FupCalledHangUpDetect());
}

// ---- Phone side ---------------------------------------------------------

FXO_EXPORT uint8_t FupInitSlic()
{
    return Bool(fxo::FupInitSlic());
}

FXO_EXPORT uint8_t SlicPhoneUnhooked()
{
    return Bool(fxo::SlicPhoneUnhooked());
}

FXO_EXPORT uint8_t SlicRingPhone()
{
    return Bool(fxo::SlicRingPhone());
}

FXO_EXPORT uint8_t SlicStopRing()
{
    return Bool(fxo::SlicStopRing());
}

FXO_EXPORT uint8_t SlicPlayDialTone()
{
    return Bool(fxo::SlicPlayDialTone());
}

FXO_EXPORT uint8_t SlicPlayBusyTone()
{
    return Bool(fxo::SlicPlayBusyTone());
}

FXO_EXPORT uint8_t SlicPlayIntpTone(uint8_t variant)
{
    return Bool(fxo::SlicPlayIntpTone(variant != 0));
}

// One function behind the three stop names.
FXO_EXPORT uint8_t SlicStopDialTone()
{
    return Bool(fxo::SlicStopTone());
}
FXO_EXPORT uint8_t SlicStopBusyTone() __attribute__((alias("SlicStopDialTone")));
FXO_EXPORT uint8_t SlicStopIntpTone() __attribute__((alias("SlicStopDialTone")));

FXO_EXPORT uint8_t SlicDetectDtmfCode()
{
    return fxo::SlicDetectDtmfCode();
}

FXO_EXPORT uint8_t FupDialDtmf(int32_t code)
{
    return Bool(fxo::FupDialDtmf(code));
}

FXO_EXPORT uint8_t FupPcmPathSelect(uint8_t path)
{
    return Bool(fxo::FupPcmPathSelect(path));
}

FXO_EXPORT uint8_t FupSetPcmFormat(uint8_t format)
{
    return Bool(fxo::FupSetPcmFormat(format));
}

// ---- Peripherals --------------------------------------------------------

FXO_EXPORT int32_t FupLedSwitch(int32_t on)
{
    return fxo::FupLedSwitch(on);
}

FXO_EXPORT uint8_t FupPhoneSwitch(uint8_t on)
{
    return Bool(fxo::FupPhoneSwitch(on != 0));
}

FXO_EXPORT uint16_t FupReadEEProm(uint8_t address)
{
    return fxo::FupReadEEProm(address);
}

FXO_EXPORT int32_t FupWriteEEProm(uint8_t address, uint16_t value)
{
    return fxo::FupWriteEEProm(address, value);
}
