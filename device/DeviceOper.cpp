#include "device/DeviceOper.h"

#include "platform/AdapterNodes.h"
#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"
#include "platform/VirtualAdapterLink.h"
#include "vadapter/VirtualAdapter.h"

#ifndef _WIN32
#include <hidapi.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>

DeviceClock DeviceClock::System()
{
    return DeviceClock{&parvane::GetTickCount32, &parvane::SleepMs};
}

CDeviceOper::CDeviceOper(DeviceClock clock)
    : m_clock(std::move(clock)), m_pDeviceATA(std::make_unique<CDeviceATABase>())
{
    m_nPortIndex = -1;
    m_bDllsLoaded = 0;
    m_szModuleDir = GetModuleDir();
    InitiVariable();
    m_nLedMode = LED_MODE_OFF;
    m_dwLedBlinkTickCount = 0;
}

CDeviceOper::~CDeviceOper()
{
    if (!Close()) {
        // Deliberately never freed: the parked thread holds these locks, and
        // the library stays loaded for it.
        static_cast<void>(m_pDeviceATA.release());
        static_cast<void>(m_pDeviceLock.release());
        return;
    }
    Sleep(500);
    m_pDeviceATA->UnloadDlls();
    m_pDeviceATA.reset();
}

bool CDeviceOper::Close()
{
    if (m_bClosed)
        return !m_bWorkerParked;
    m_bClosed = true;
    // No new call into the library: a worker's pass runs out quickly.
    m_pDeviceATA->BeginTeardown();
    StopThread();
    // Nothing may be freed under a worker that outlived the stop bound
    // (stuck in a slow USB transfer): it would return into freed code. A
    // call already found stuck is not waited for again.
    if (WaitForWorkerExit(m_pDeviceATA->CallStuck() ? 0 : m_dwWorkerExitWaitMs))
        return true;
    const long index = m_nPortIndex;
    if (m_pDeviceATA->AbandonCaller(LingeringWorker())) {
        DebugPrint("The device thread is still inside the FXO library; it is left there, and the library stays "
                   "loaded for it (index=%ld)",
                   index);
        AbandonWorker();
        // The binding and the device lock stay: a front end that keeps this
        // object may still call through them (every call is refused now).
        m_bWorkerParked = true;
        return false;
    }
    // Outside the library the worker runs only its own short steps: sleeps
    // that end once closing has begun and a look at the node list.
    DebugPrint("The device thread is still busy; waiting for it (index=%ld)", index);
    WaitForWorkerExit();
    return true;
}

void CDeviceOper::InitiVariable()
{
    DebugPrint("InitiVariable run");
    m_bDaaReady = 0;
}

void CDeviceOper::SetPortIndex(int portIndex)
{
    m_nPortIndex = portIndex;
    m_pDeviceATA->m_nPortIndex = portIndex;
}

// ---- start-up -----------------------------------------------------------------

int CDeviceOper::LoadDlls()
{
    if (m_bDllsLoaded)
        return 1;
    const bool firstPort = m_nPortIndex == 0;
    const std::string fxoPath = m_szModuleDir + (firstPort ? kFxoLibraryPort1 : kFxoLibraryOtherPorts);
    const std::string busyTonePath = m_szModuleDir + (firstPort ? kBusyToneLibraryPort1 : kBusyToneLibraryOtherPorts);
    DebugPrint("*********LoadDlls:%s*********", fxoPath.c_str());
    m_bDllsLoaded = m_pDeviceATA->LoadDll(fxoPath, m_nPortIndex);
    if (!m_bDllsLoaded)
        return 0;
    if (m_pDeviceATA->LoadBusyToneDll(busyTonePath, m_nPortIndex)) {
        DebugPrint("Load Vexlin.dll success!");
        return 1;
    }
    DebugPrint("Load Vexlin.dll failed!");
    return 0;
}

bool CDeviceOper::FindHidDevice(uint16_t vendorId, uint16_t productId)
{
    // A device that cannot be opened never matches, as with real hardware.
    if (parvane::VirtualAdapterChosen()) {
        parvane::VirtualAdapter* adapter = parvane::ChosenVirtualAdapter();
        if (adapter == nullptr)
            return false;
        for (const parvane::VirtualHidDevice& device : adapter->Enumerate()) {
            if (device.vendorId != vendorId || device.productId != productId)
                continue;
            const int handle = adapter->Open(vendorId, productId);
            if (handle > 0) {
                adapter->Close(handle);
                return true;
            }
        }
        return false;
    }
#ifdef _WIN32
    // The platform's SetupAPI listing, which also opens each device.
    const uint16_t productIds[] = {productId};
    for (const parvane::AdapterNode& node : parvane::FindAdapterNodes(vendorId, productIds)) {
        if (node.openError == 0)
            return true;
        DebugPrint("FindHidDevice: cannot open %s (error %d)", node.path.c_str(), node.openError);
    }
    return false;
#else
    bool found = false;
    hid_device_info* devices = hid_enumerate(vendorId, productId);
    for (hid_device_info* info = devices; info != nullptr && !found; info = info->next) {
        errno = 0;
        hid_device* device = hid_open_path(info->path);
        if (device == nullptr) {
            DebugPrint("FindHidDevice: cannot open %s (%s): install the udev rule (make install-udev) and replug",
                       info->path, errno != 0 ? std::strerror(errno) : "refused");
            continue;
        }
        hid_close(device);
        found = info->vendor_id == vendorId && info->product_id == productId;
    }
    hid_free_enumeration(devices);
    return found;
#endif
}

int CDeviceOper::InitDllHandle()
{
    const long index = m_nPortIndex;
    // Identifiers of no adapter: a ZorvLoad with them makes the library drop
    // a handle it may still hold.
    const int noVendorId = static_cast<uint16_t>(m_wVendorId + 1);
    const int noProductId = static_cast<uint16_t>(m_wProductId + 100);
    if (FindHidDevice(m_wVendorId, m_wProductId))
        return OpenThroughLibrary(true);
    DebugPrint("************* Start reset dll handle (index=%ld)*************\n", index);
    m_pDeviceATA->ZorvLoad(noVendorId, noProductId);
    return 0;
}

int CDeviceOper::OpenThroughLibrary(bool startLine)
{
    // Identifiers of no adapter first: the library drops the handle it may
    // still hold, then opens afresh.
    m_pDeviceATA->ZorvLoad(static_cast<uint16_t>(m_wVendorId + 1), static_cast<uint16_t>(m_wProductId + 100));
    if (startLine)
        DebugPrint("************* Start init dll handle (index=%ld)*************\n", static_cast<long>(m_nPortIndex));
    if (m_pDeviceATA->ZorvLoad(m_wVendorId, m_wProductId) == 0)
        return 0;
    m_bWatchPresence = true;
    return 1;
}

int CDeviceOper::OpenFirstAdapter(std::span<const uint16_t> productIds)
{
    for (const uint16_t productId : productIds) {
        m_wProductId = productId;
        if (InitDllHandle())
            return 1;
    }
    return 0;
}

int CDeviceOper::InitializeDaa()
{
    CDeviceATABase& binding = *m_pDeviceATA;
    DebugPrint("InitializeDaa Start, index=%d\n", m_nPortIndex);
    bool ready = false;
    for (int attempt = 0; attempt < 2 && !ready; ++attempt) {
        binding.WriteByte(0, 0x20); // controller mode: reset
        Sleep(100);
        binding.WriteByte(0, 0x02);
        Sleep(90);
        binding.FupPhoneSwitch(0);
        if (binding.FupInitDaa()) {
            DebugPrint("FupInitDaa success, index=%d", m_nPortIndex);
            binding.DaaSetCountry("Taiwan");
            const uint8_t line = binding.ReadByte(10); // controller line register
            binding.WriteByte(10, static_cast<uint8_t>(line & ~0x01));
            ready = true;
        } else {
            DebugPrint("Error: Port%ld FupInitDaa failed ,retry initial", static_cast<long>(m_nPortIndex) + 1);
            // The device closing ends the wait: no retry to wait for.
            for (uint32_t waited = 0; waited < kRetryWaitMs && !binding.TearingDown(); waited += kRetrySliceMs)
                Sleep(kRetrySliceMs);
            if (binding.TearingDown())
                break;
        }
    }
    if (!ready) {
        m_bDaaReady = 0;
        SetLedMode(LED_MODE_OFF);
        return 0;
    }
    SetLedMode(LED_MODE_ON);
    binding.FupLedSwitch(1);
    m_bDaaReady = 1;
    m_bAdapterPresent = 1;
    DebugPrint("Slic Direct Reg 01 = 0x%x (index=%ld)", binding.ReadSlicDirectRegister(1) & 0xFFu,
               static_cast<long>(m_nPortIndex));
    return 1;
}

void CDeviceOper::SetLedMode(int mode)
{
    m_nLedMode = mode;
    m_dwLedBlinkTickCount = Now();
}

int CDeviceOper::Stop()
{
    const int stopped = StopThread();
    Sleep(3);
    DebugPrint("CDeviceOper:Stop,set led power off!\n");
    SetLedMode(LED_MODE_NONE);
    m_pDeviceATA->FupLedSwitch(0);
    return stopped;
}

void CDeviceOper::ResetHardware()
{
    CDeviceATABase& binding = *m_pDeviceATA;
    // The line watch holds the device lock around its library call; stuck
    // there, it would hold it for good.
    std::unique_lock<std::timed_mutex> lock(*m_pDeviceLock, std::defer_lock);
    if (!lock.try_lock() &&
        (binding.CallStuck() ||
         // The system clock, as the binding's call lock does (ThreadSanitizer).
         !lock.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(m_dwWorkerExitWaitMs)))) {
        DebugPrint("ResetHardware: the device thread is stuck in the FXO library; the adapter is not reset "
                   "(index=%ld)",
                   static_cast<long>(m_nPortIndex));
        return;
    }
    binding.SlicStopBusyTone();
    binding.SlicStopDialTone();
    binding.SlicStopRing();
    DebugPrint("ResetHardware \n");
    binding.WriteByte(0, 0x20);
    Sleep(10);
    binding.WriteByte(0, 0x02);
    Sleep(90);
    binding.WriteByte(10, 0xF7);
    Sleep(100);
}

// ---- line watch ---------------------------------------------------------------

void CDeviceOper::Run()
{
    Sleep(kPassSleepMs);
    WatchLine();
}

void CDeviceOper::WatchLine()
{
    if (!m_bDllsLoaded)
        return;
    CheckPresence();
    if (!m_bDaaReady)
        return;
    UpdateLed();
    {
        std::lock_guard<std::timed_mutex> lock(*m_pDeviceLock);
        TrackRingInput();
    }
    ReportRing();
}

void CDeviceOper::CheckPresence()
{
    if (!m_bWatchPresence || static_cast<uint32_t>(Now() - m_dwPresenceCheckTickCount) < kPresenceCheckMs)
        return;
    m_dwPresenceCheckTickCount = Now();
    // A look at the node list, not an open: a node that cannot be opened
    // for a moment (udev setting its permissions, another program holding
    // it) is still plugged in, and an open here would run outside the
    // binding, where closing cannot give up on it.
    const bool present = parvane::AdapterPresent(m_wVendorId, m_wProductId);
    const long index = m_nPortIndex;
    if (m_bAdapterPresent && !present) {
        DebugPrint("The adapter was unplugged (index=%ld)", index);
        m_bAdapterPresent = 0;
        m_bDaaReady = 0;
        {
            std::lock_guard<std::timed_mutex> lock(*m_pDeviceLock);
            m_bPstnRing = 0;
            m_bPstnRingReported = 0;
            m_dwRingOnTickCount = 0;
            m_dwRingOffTickCount = 0;
            m_dwTotalPstnRingPeriodIn1s = 0;
            m_dwPstnStartRingTickCountFor1s = 0;
        }
        if (AnswerRequester* requester = m_pAnswerRequester.load())
            requester->AdapterPresenceChanged(false);
    } else if (!m_bAdapterPresent && present) {
        // Back: the old handle is dead and the chips were powered off.
        DebugPrint("The adapter is back; starting it up again (index=%ld)", index);
        // Opened inside the library, whose calls closing bounds.
        if (OpenThroughLibrary(false) && InitializeDaa()) {
            if (AnswerRequester* requester = m_pAnswerRequester.load())
                requester->AdapterPresenceChanged(true);
        } else {
            DebugPrint("The adapter that came back did not start up; trying again (index=%ld)", index);
        }
    }
}

void CDeviceOper::UpdateLed()
{
    CDeviceATABase& binding = *m_pDeviceATA;
    switch (m_nLedMode.load()) {
    case LED_MODE_OFF:
        if (binding.LedState() != 0)
            binding.FupLedSwitch(0);
        break;
    case LED_MODE_ON:
        if (binding.LedState() != 1)
            binding.FupLedSwitch(1);
        break;
    case LED_MODE_BLINK:
        if (static_cast<uint32_t>(Now() - m_dwLedBlinkTickCount) >= kLedBlinkMs) {
            m_dwLedBlinkTickCount = Now();
            binding.FupLedSwitch(binding.LedState() == 0 ? 1 : 0);
        }
        break;
    default:
        break;
    }
}

void CDeviceOper::TrackRingInput()
{
    const long index = m_nPortIndex;
    // A stored tick count of 0 means "not running", so a burst or silence
    // that starts on the tick the counter wraps to 0 is stamped 1 instead.
    const auto stamp = [this] {
        const uint32_t now = Now();
        return now != 0 ? now : 1u;
    };
    const auto since = [this](uint32_t tick) { return static_cast<uint32_t>(Now() - tick); };

    if (m_pDeviceATA->DaaRingDetect() != 0) {
        if (m_dwRingOnTickCount == 0) {
            DebugPrint("PSTN ring signal is coming, need to confirm if it is true.(index=%ld)", index);
            m_dwRingOnTickCount = stamp();
            if (m_dwPstnStartRingTickCountFor1s == 0) {
                DebugPrint("Set m_dwPstnStartRingTickCountFor1s=CurrentTime.(index=%ld)", index);
                m_dwPstnStartRingTickCountFor1s = m_dwRingOnTickCount;
            }
        }
        m_dwRingOffTickCount = 0;
    } else {
        if (m_dwRingOnTickCount != 0) {
            const uint32_t burst = since(m_dwRingOnTickCount);
            m_dwTotalPstnRingPeriodIn1s += burst;
            DebugPrint("PSTN ring signal is gone after %ld ms. (m_dwTotalPstnRingPeriodIn1s=%ld)(index=%ld)",
                       static_cast<long>(burst), static_cast<long>(m_dwTotalPstnRingPeriodIn1s), index);
            if (m_dwPstnStartRingTickCountFor1s != 0 && m_dwTotalPstnRingPeriodIn1s >= kTotalBurstsMs) {
                m_bPstnRing = 1;
                DebugPrint("Total PSTN ring signal(in 1 second) is %ld ms (>400ms), so we think PSTN ring happen! "
                           "(index=%ld)",
                           static_cast<long>(m_dwTotalPstnRingPeriodIn1s), index);
                DebugPrint("Reset m_dwPstnStartRingTickCountFor1s 001.(index=%ld)", index);
                m_dwPstnStartRingTickCountFor1s = 0;
                m_dwTotalPstnRingPeriodIn1s = 0;
            }
            if (since(m_dwRingOnTickCount) > kSingleBurstMs)
                m_bPstnRing = 1;
        }
        m_dwRingOnTickCount = 0;
        if (m_dwRingOffTickCount == 0 && m_bPstnRingReported)
            m_dwRingOffTickCount = stamp();
    }

    if (m_dwRingOnTickCount != 0 && since(m_dwRingOnTickCount) > kSingleBurstMs)
        m_bPstnRing = 1;
    if (m_dwRingOffTickCount != 0 && since(m_dwRingOffTickCount) > kReleaseSilenceMs) {
        m_bPstnRing = 0;
        m_dwRingOnTickCount = 0;
        m_dwRingOffTickCount = 0;
    }
    if (m_dwPstnStartRingTickCountFor1s != 0 && since(m_dwPstnStartRingTickCountFor1s) > kWindowMs) {
        DebugPrint("Reset m_dwPstnStartRingTickCountFor1s 002.(index=%ld)", index);
        m_dwPstnStartRingTickCountFor1s = 0;
        m_dwTotalPstnRingPeriodIn1s = 0;
    }
}

void CDeviceOper::ReportRing()
{
    if (!m_bDaaReady)
        return;
    if (m_bPstnRingReported == 0 && m_bPstnRing == 1) {
        DebugPrint("Pstn ring is coming(index=%ld)", static_cast<long>(m_nPortIndex));
        SetLedMode(LED_MODE_BLINK);
        m_bPstnRingReported = 1;
        if (m_bLineAnswered == 0) {
            if (AnswerRequester* requester = m_pAnswerRequester.load())
                requester->RequestAnswer(AnswerRequester::kAnswerDelayMs);
        }
    } else if (m_bPstnRingReported == 1 && m_bPstnRing == 0) {
        SetLedMode(LED_MODE_ON);
        m_bPstnRingReported = 0;
    }
}
