#include "device/DeviceATABase.h"

#include "platform/DebugPrint.h"

#include <chrono>

namespace {

// TRUE-style result: only exactly 1 counts as success.
int ExactlyOne(long value)
{
    return value == 1 ? 1 : 0;
}

// Looks one entry point up and stores it; false (with a trace line naming
// the export) when the library lacks it.
template <typename Fn>
bool Bind(const parvane::DynamicLibrary& library, const char* name, Fn& member)
{
    Fn entry = library.Function<Fn>(name);
    if (entry == nullptr) {
        DebugPrint("LoadDll: %s has no export %s", library.Path().c_str(), name);
        return false;
    }
    member = entry;
    return true;
}

template <typename Fn>
bool Bind(const parvane::DynamicLibrary& library, const char* name, std::atomic<Fn>& member)
{
    Fn entry = nullptr;
    if (!Bind(library, name, entry))
        return false;
    member = entry;
    return true;
}

// The entry point named in a refusal line: only ZorvLoad passes no name (it
// writes no NULL line).
const char* NameOf(const char* traceName)
{
    return traceName != nullptr ? traceName : "m_pZorvLoadExp";
}

} // namespace

CDeviceATABase::CDeviceATABase() = default;

CDeviceATABase::~CDeviceATABase()
{
    UnloadDlls();
    m_busyToneLibrary.Close();
}

void CDeviceATABase::WriteNullLine(const char* traceName) const
{
    DebugPrint("%s = NULL", traceName);
}

void CDeviceATABase::WriteRefusedLine(const char* traceName) const
{
    DebugPrint("The device is closing: %s is not called (index=%d)", NameOf(traceName), m_nPortIndex);
}

void CDeviceATABase::BeginTeardown()
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_bTearingDown = true;
}

bool CDeviceATABase::AbandonCaller(std::thread::id caller)
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (caller == std::thread::id() || m_callingThread != caller)
        return false;
    m_abandonedThread = caller;
    return true;
}

bool CDeviceATABase::CallStuck()
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_bCallStuck;
}

bool CDeviceATABase::EnterCall(const char* traceName)
{
    {
        std::lock_guard<std::mutex> lock(m_stateLock);
        if (!m_bTearingDown) {
            m_callingThread = std::this_thread::get_id();
            return true;
        }
    }
    WriteRefusedLine(traceName);
    return false;
}

bool CDeviceATABase::TakeCallLock(std::unique_lock<std::timed_mutex>& lock, const char* traceName)
{
    if (lock.try_lock())
        return true;
    const char* name = NameOf(traceName);
    if (CallStuck()) {
        DebugPrint("The FXO library is stuck in a call: %s is not called (index=%d)", name, m_nPortIndex);
        return false;
    }
    // Timed against the system clock: a steady-clock wait becomes
    // pthread_mutex_clocklock, which this toolchain's ThreadSanitizer does not
    // see, so every later unlock would look like an unlock of a free mutex.
    if (lock.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(m_dwStuckCallMs.load())))
        return true;
    {
        std::lock_guard<std::mutex> state(m_stateLock);
        // Given up on until the call in the library comes back.
        if (m_callingThread != std::thread::id())
            m_bCallStuck = true;
    }
    DebugPrint("The FXO library has not come back from a call for %u ms: %s is not called (index=%d)",
               static_cast<unsigned>(m_dwStuckCallMs.load()), name, m_nPortIndex);
    return false;
}

void CDeviceATABase::LeaveCall()
{
    std::unique_lock<std::mutex> lock(m_stateLock);
    m_callingThread = std::thread::id();
    m_bCallStuck = false;
    if (m_abandonedThread != std::this_thread::get_id())
        return;
    // The code that called us may be gone: going back into it could run
    // freed code or touch freed memory. Stay here instead, for good.
    DebugPrint("The device thread came back from the FXO library after its device was closed; it stays parked "
               "(index=%d)",
               m_nPortIndex);
    m_parked.wait(lock, [] { return false; });
}

template <typename Fn, typename R, typename Call>
R CDeviceATABase::Guarded(const std::atomic<Fn>& member, const char* traceName, R fallback, bool testInsideLock,
                          Call&& call)
{
    // Closing: refused before waiting for the call lock, which a thread stuck
    // in the library may hold.
    if (m_bTearingDown.load()) {
        WriteRefusedLine(traceName);
        return fallback;
    }
    if (!testInsideLock && member.load() == nullptr) {
        if (traceName != nullptr)
            WriteNullLine(traceName);
        return fallback;
    }
    std::unique_lock<std::timed_mutex> lock(m_callLock, std::defer_lock);
    if (!TakeCallLock(lock, traceName))
        return fallback;
    // Read again under the lock: UnloadDlls may have emptied it meanwhile.
    const Fn entry = member.load();
    if (entry == nullptr) {
        if (traceName != nullptr)
            WriteNullLine(traceName);
        return fallback;
    }
    if (!EnterCall(traceName))
        return fallback;
    const R result = call(entry);
    LeaveCall();
    return result;
}

// ---- loading ----------------------------------------------------------------

int CDeviceATABase::LoadDll(const std::string& path, int portIndex)
{
    if (m_fxoLibrary.IsOpen())
        return 1;
    const bool opened = m_fxoLibrary.Open(path);
    DebugPrint("LoadDll:%s,index=%d", path.c_str(), portIndex);
    if (!opened) {
        DebugPrint("LoadDll: %s", m_fxoLibrary.LastError().c_str());
        return 0;
    }
    bool all = true;
    all &= Bind(m_fxoLibrary, "ZorvLoad", m_pZorvLoadExp);
    all &= Bind(m_fxoLibrary, "ZorvClose", m_pCloseATAExp);
    all &= Bind(m_fxoLibrary, "WriteByte", m_pWriteFupRegisterExp);
    all &= Bind(m_fxoLibrary, "ReadByte", m_pReadFupRegisterExp);
    all &= Bind(m_fxoLibrary, "DaaPstnHook", m_pDaaPstnUnhookedExp);
    all &= Bind(m_fxoLibrary, "FupLedSwitch", m_pFupLedSwitchExp);
    all &= Bind(m_fxoLibrary, "SetPortIndex", m_pSetPortIndexExp);
    all &= Bind(m_fxoLibrary, "FupInitDaa", m_pFupInitDaaExp);
    all &= Bind(m_fxoLibrary, "FupPhoneSwitch", m_pFupPhoneSwitchExp);
    all &= Bind(m_fxoLibrary, "DaaSetCountry", m_pDaaSetCountryExp);
    all &= Bind(m_fxoLibrary, "FupReadEEProm", m_pFupReadEEPromExp);
    all &= Bind(m_fxoLibrary, "WriteDAARegister", m_pWriteDAARegisterExp);
    all &= Bind(m_fxoLibrary, "ReadDAARegister", m_pReadDAARegisterExp);
    all &= Bind(m_fxoLibrary, "DaaRingDetect", m_pDaaRingDetectExp);
    all &= Bind(m_fxoLibrary, "DaaSetOnhook", m_pDaaSetOnhookExp);
    all &= Bind(m_fxoLibrary, "DaaSetOffhook", m_pDaaSetOffhookExp);
    all &= Bind(m_fxoLibrary, "DaaOnHookMonitor", m_pDaaOnHookMonitorExp);
    if (const SetPortIndexFn setPortIndex = m_pSetPortIndexExp.load()) {
        std::lock_guard<std::timed_mutex> lock(m_callLock);
        setPortIndex(portIndex);
    }
    return all ? 1 : 0;
}

int CDeviceATABase::LoadBusyToneDll(const std::string& path, int portIndex)
{
    if (m_busyToneLibrary.IsOpen())
        return 1;
    const bool opened = m_busyToneLibrary.Open(path);
    DebugPrint("LoadDll:%s,index=%d", path.c_str(), portIndex);
    if (!opened) {
        DebugPrint("LoadDll: %s", m_busyToneLibrary.LastError().c_str());
        return 0;
    }
    bool all = true;
    all &= Bind(m_busyToneLibrary, "VexlinLoad", m_pVexlinLoadExp);
    all &= Bind(m_busyToneLibrary, "VexlinUnload", m_pVexlinUnloadExp);
    all &= Bind(m_busyToneLibrary, "StartVexlin", m_pStartVexlinExp);
    all &= Bind(m_busyToneLibrary, "StartVexlin2", m_pStartVexlin2Exp);
    all &= Bind(m_busyToneLibrary, "StopVexlin", m_pStopVexlinExp);
    all &= Bind(m_busyToneLibrary, "GetBusyToneCount", m_pGetBusyToneCountExp);
    all &= Bind(m_busyToneLibrary, "GetPerhapsPeriod", m_pGetPerhapsPeriodExp);
    all &= Bind(m_busyToneLibrary, "IsBusyToneHappened", m_pIsBusyToneHappenedExp);
    all &= Bind(m_busyToneLibrary, "SetOnOffTimeForTest", m_pSetOnOffTimeForTestExp);
    if (!all)
        return 0;
    m_pVexlinLoadExp(portIndex);
    return 1;
}

void CDeviceATABase::UnloadDlls()
{
    std::lock_guard<std::timed_mutex> lock(m_callLock);
    m_pZorvLoadExp = nullptr;
    m_pCloseATAExp = nullptr;
    m_pWriteFupRegisterExp = nullptr;
    m_pReadFupRegisterExp = nullptr;
    m_pDaaPstnUnhookedExp = nullptr;
    m_pFupLedSwitchExp = nullptr;
    m_pSetPortIndexExp = nullptr;
    m_pFupInitDaaExp = nullptr;
    m_pFupPhoneSwitchExp = nullptr;
    m_pDaaSetCountryExp = nullptr;
    m_pFupReadEEPromExp = nullptr;
    m_pWriteDAARegisterExp = nullptr;
    m_pReadDAARegisterExp = nullptr;
    m_pDaaRingDetectExp = nullptr;
    m_pDaaSetOnhookExp = nullptr;
    m_pDaaSetOffhookExp = nullptr;
    m_pDaaOnHookMonitorExp = nullptr;
    m_fxoLibrary.Close();
}

bool CDeviceATABase::BusyToneFunctionsBound() const
{
    return m_pVexlinLoadExp && m_pVexlinUnloadExp && m_pStartVexlinExp && m_pStartVexlin2Exp && m_pStopVexlinExp &&
           m_pGetBusyToneCountExp && m_pGetPerhapsPeriodExp && m_pIsBusyToneHappenedExp && m_pSetOnOffTimeForTestExp;
}

bool CDeviceATABase::FxoLibraryLoaded() const
{
    return m_fxoLibrary.IsOpen();
}

std::string CDeviceATABase::BusyToneLibraryPath() const
{
    return m_busyToneLibrary.IsOpen() ? m_busyToneLibrary.Path() : std::string();
}

bool CDeviceATABase::BusyToneLibraryLoaded() const
{
    return m_busyToneLibrary.IsOpen();
}

// ---- wrappers ---------------------------------------------------------------

int CDeviceATABase::ZorvLoad(int vendorId, int productId)
{
    if (m_pReadFupRegisterExp.load() == nullptr)
        return 0;
    return Guarded(m_pZorvLoadExp, nullptr, 0, false,
                   [&](ZorvLoadFn entry) { return static_cast<int>(entry(vendorId, productId)); });
}

int CDeviceATABase::ZorvClose()
{
    return Guarded(m_pCloseATAExp, "m_pCloseATAExp", 0, false, [](ZorvCloseFn entry) { return ExactlyOne(entry()); });
}

int CDeviceATABase::WriteByte(uint8_t reg, uint8_t value)
{
    return Guarded(m_pWriteFupRegisterExp, "m_pWriteFupRegisterExp", 0, false,
                   [&](WriteByteFn entry) { return ExactlyOne(entry(reg, value)); });
}

uint8_t CDeviceATABase::ReadByte(uint8_t reg)
{
    return Guarded(m_pReadFupRegisterExp, "m_pReadFupRegisterExp", uint8_t{0}, false,
                   [&](ReadByteFn entry) { return entry(reg); });
}

uint8_t CDeviceATABase::DaaPstnHook()
{
    return Guarded(m_pDaaPstnUnhookedExp, "m_pDaaPstnUnhookedExp", uint8_t{1}, false,
                   [](DaaPstnHookFn entry) { return entry(); });
}

int CDeviceATABase::FupLedSwitch(int on)
{
    return Guarded(m_pFupLedSwitchExp, "m_pFupLedSwitchExp", 1, false, [&](FupLedSwitchFn entry) {
        const int result = entry(on != 0 ? 1 : 0);
        m_nLedState = on;
        return ExactlyOne(result);
    });
}

int CDeviceATABase::FupInitDaa()
{
    return Guarded(m_pFupInitDaaExp, "m_pFupInitDaaExp", 0, false, [&](FupInitDaaFn entry) {
        DebugPrint("FupInitDaa (index=%ld)", static_cast<long>(m_nPortIndex));
        return ExactlyOne(entry());
    });
}

int CDeviceATABase::FupPhoneSwitch(int value)
{
    return Guarded(m_pFupPhoneSwitchExp, "m_pFupPhoneSwitchExp", 0, false,
                   [&](FupPhoneSwitchFn entry) { return ExactlyOne(entry(static_cast<uint8_t>(value & 0xFF))); });
}

void CDeviceATABase::DaaSetCountry(const char* country)
{
    Guarded(m_pDaaSetCountryExp, "m_pDaaSetCountryExp", 0, true, [&](DaaSetCountryFn entry) {
        entry(country != nullptr ? country : "");
        return 0;
    });
}

uint16_t CDeviceATABase::FupReadEEProm(uint8_t address)
{
    return Guarded(m_pFupReadEEPromExp, "m_pFupReadEEPromExp", uint16_t{0}, false,
                   [&](FupReadEEPromFn entry) { return entry(address); });
}

uint8_t CDeviceATABase::WriteDAARegister(uint8_t reg, uint8_t value)
{
    return Guarded(m_pWriteDAARegisterExp, "m_pWriteDAARegisterExp", uint8_t{0}, true,
                   [&](WriteDAARegisterFn entry) { return entry(reg, value); });
}

uint8_t CDeviceATABase::ReadDAARegister(uint8_t reg)
{
    return Guarded(m_pReadDAARegisterExp, "m_pReadDAARegisterExp", uint8_t{0}, true,
                   [&](ReadDAARegisterFn entry) { return entry(reg); });
}

uint8_t CDeviceATABase::DaaRingDetect()
{
    return Guarded(m_pDaaRingDetectExp, "m_pDaaRingDetectExp", uint8_t{0}, true,
                   [](DaaRingDetectFn entry) { return entry(); });
}

uint8_t CDeviceATABase::DaaSetOnhook()
{
    DebugPrint("DaaSetOnhook");
    return Guarded(m_pDaaSetOnhookExp, "m_pDaaSetOnhookExp", uint8_t{0}, true,
                   [](DaaSetOnhookFn entry) { return entry(); });
}

uint8_t CDeviceATABase::DaaSetOffhook()
{
    DebugPrint("DaaSetOffhook");
    return Guarded(m_pDaaSetOffhookExp, "m_pDaaSetOffhookExp", uint8_t{0}, true,
                   [](DaaSetOffhookFn entry) { return entry(); });
}

uint8_t CDeviceATABase::DaaOnHookMonitor(uint8_t on)
{
    return Guarded(m_pDaaOnHookMonitorExp, "m_pDaaOnHookMonitorExp", uint8_t{0}, true,
                   [&](DaaOnHookMonitorFn entry) { return entry(on); });
}

uint8_t CDeviceATABase::ReadSlicDirectRegister(uint8_t reg)
{
    return Guarded(m_pReadSlicDirectRegisterExp, "m_pReadSlicDirectRegisterExp", uint8_t{0}, false,
                   [&](ReadSlicDirectRegisterFn entry) { return entry(reg); });
}

uint8_t CDeviceATABase::SlicStopBusyTone()
{
    return Guarded(m_pSlicStopBusyToneExp, "m_pSlicStopBusyToneExp", uint8_t{0}, false,
                   [](SlicStopFn entry) { return entry(); });
}

uint8_t CDeviceATABase::SlicStopDialTone()
{
    return Guarded(m_pSlicStopDialToneExp, "m_pSlicStopDialToneExp", uint8_t{0}, false,
                   [](SlicStopFn entry) { return entry(); });
}

uint8_t CDeviceATABase::SlicStopRing()
{
    return Guarded(m_pSlicStopRingExp, "m_pSlicStopRingExp", uint8_t{0}, false,
                   [](SlicStopFn entry) { return entry(); });
}

void CDeviceATABase::ReadModelName(uint16_t* cells)
{
    for (int i = 0; i < kModelNameCells; ++i)
        cells[i] = FupReadEEProm(static_cast<uint8_t>(17 + i));
}
