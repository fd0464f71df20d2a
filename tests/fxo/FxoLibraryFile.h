#pragma once
// One loaded copy of the line-device library, bound by name as a host binds
// it, for tests that drive the library only through its exports.

#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "tests/support/ExportBinder.h"

#include <cstdint>
#include <string>

namespace parvane::test {

// The two copies of the library file in the program directory.
#ifdef _WIN32
constexpr const char* kFxoPort1File = "FXO.dll";
constexpr const char* kFxoPort2File = "FXO_02.dll";
#else
constexpr const char* kFxoPort1File = "FXO.so";
constexpr const char* kFxoPort2File = "FXO_02.so";
#endif

class FxoLibraryFile {
public:
    // Loads the file from the test program's directory and binds all 40 names.
    bool Load(const std::string& fileName)
    {
        if (!m_library.Open(GetModuleDir() + fileName))
            return false;
        ExportBinder bind(m_library);
        bind(ZorvLoad, "ZorvLoad");
        bind(ZorvClose, "ZorvClose");
        bind(SetPortIndex, "SetPortIndex");
        bind(WriteByte, "WriteByte");
        bind(ReadByte, "ReadByte");
        bind(Write4Byte, "Write4Byte");
        bind(GetSerialNumber, "GetSerialNumber");
        bind(WriteDAARegister, "WriteDAARegister");
        bind(ReadDAARegister, "ReadDAARegister");
        bind(WriteProSlicDirectRegister, "WriteProSlicDirectRegister");
        bind(ReadProSlicDirectRegister, "ReadProSlicDirectRegister");
        bind(WriteProSlicInDirectRegister, "WriteProSlicInDirectRegister");
        bind(ReadProSlicInDirectRegister, "ReadProSlicInDirectRegister");
        bind(FupInitDaa, "FupInitDaa");
        bind(DaaSetOffhook, "DaaSetOffhook");
        bind(DaaSetOnhook, "DaaSetOnhook");
        bind(DaaOnHookMonitor, "DaaOnHookMonitor");
        bind(DaaPstnHook, "DaaPstnHook");
        bind(DaaRingDetect, "DaaRingDetect");
        bind(DaaSetCountry, "DaaSetCountry");
        bind(FupSetCountry, "FupSetCountry");
        bind(FupCalledHangUpDetect, "FupCalledHangUpDetect");
        bind(FupInitSlic, "FupInitSlic");
        bind(SlicPhoneUnhooked, "SlicPhoneUnhooked");
        bind(SlicRingPhone, "SlicRingPhone");
        bind(SlicStopRing, "SlicStopRing");
        bind(SlicPlayDialTone, "SlicPlayDialTone");
        bind(SlicPlayBusyTone, "SlicPlayBusyTone");
        bind(SlicPlayIntpTone, "SlicPlayIntpTone");
        bind(SlicStopDialTone, "SlicStopDialTone");
        bind(SlicStopBusyTone, "SlicStopBusyTone");
        bind(SlicStopIntpTone, "SlicStopIntpTone");
        bind(SlicDetectDtmfCode, "SlicDetectDtmfCode");
        bind(FupDialDtmf, "FupDialDtmf");
        bind(FupPcmPathSelect, "FupPcmPathSelect");
        bind(FupSetPcmFormat, "FupSetPcmFormat");
        bind(FupLedSwitch, "FupLedSwitch");
        bind(FupPhoneSwitch, "FupPhoneSwitch");
        bind(FupReadEEProm, "FupReadEEProm");
        bind(FupWriteEEProm, "FupWriteEEProm");
        return bind.AllBound();
    }

    // Unloads the file; the next Load starts from fresh library state.
    void Unload() { m_library.Close(); }
    const std::string& LastError() const { return m_library.LastError(); }

    uint8_t (*ZorvLoad)(int32_t, int32_t) = nullptr;
    uint8_t (*ZorvClose)() = nullptr;
    int32_t (*SetPortIndex)(int32_t) = nullptr;
    uint8_t (*WriteByte)(uint8_t, uint8_t) = nullptr;
    uint8_t (*ReadByte)(uint8_t) = nullptr;
    uint8_t (*Write4Byte)(uint8_t, const uint8_t*) = nullptr;
    uint8_t (*GetSerialNumber)(uint8_t*) = nullptr;
    uint8_t (*WriteDAARegister)(uint8_t, uint8_t) = nullptr;
    uint8_t (*ReadDAARegister)(uint8_t) = nullptr;
    uint8_t (*WriteProSlicDirectRegister)(uint8_t, uint8_t) = nullptr;
    uint8_t (*ReadProSlicDirectRegister)(uint8_t) = nullptr;
    uint8_t (*WriteProSlicInDirectRegister)(uint8_t, uint16_t) = nullptr;
    uint16_t (*ReadProSlicInDirectRegister)(uint8_t) = nullptr;
    uint8_t (*FupInitDaa)() = nullptr;
    uint8_t (*DaaSetOffhook)() = nullptr;
    uint8_t (*DaaSetOnhook)() = nullptr;
    uint8_t (*DaaOnHookMonitor)(uint8_t) = nullptr;
    int32_t (*DaaPstnHook)() = nullptr;
    uint8_t (*DaaRingDetect)() = nullptr;
    void (*DaaSetCountry)(const char*) = nullptr;
    uint8_t (*FupSetCountry)(int32_t) = nullptr;
    uint8_t (*FupCalledHangUpDetect)() = nullptr;
    uint8_t (*FupInitSlic)() = nullptr;
    uint8_t (*SlicPhoneUnhooked)() = nullptr;
    uint8_t (*SlicRingPhone)() = nullptr;
    uint8_t (*SlicStopRing)() = nullptr;
    uint8_t (*SlicPlayDialTone)() = nullptr;
    uint8_t (*SlicPlayBusyTone)() = nullptr;
    uint8_t (*SlicPlayIntpTone)(uint8_t) = nullptr;
    uint8_t (*SlicStopDialTone)() = nullptr;
    uint8_t (*SlicStopBusyTone)() = nullptr;
    uint8_t (*SlicStopIntpTone)() = nullptr;
    uint8_t (*SlicDetectDtmfCode)() = nullptr;
    uint8_t (*FupDialDtmf)(int32_t) = nullptr;
    uint8_t (*FupPcmPathSelect)(uint8_t) = nullptr;
    uint8_t (*FupSetPcmFormat)(uint8_t) = nullptr;
    int32_t (*FupLedSwitch)(int32_t) = nullptr;
    uint8_t (*FupPhoneSwitch)(uint8_t) = nullptr;
    uint16_t (*FupReadEEProm)(uint8_t) = nullptr;
    int32_t (*FupWriteEEProm)(uint8_t, uint16_t) = nullptr;

private:
    DynamicLibrary m_library;
};

} // namespace parvane::test
