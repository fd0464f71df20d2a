#pragma once
// CDeviceATABase: one port's binding of the FXO line-device library and of
// the tone-detection library.
//
// It loads both library files, looks their entry points up by name and wraps
// every FXO call: a missing entry point is reported with a trace line
// ("m_p<Name>Exp = NULL") and never called, the wrapper then answering a fixed
// default; and one call lock per port keeps two threads from being inside the
// FXO library at once. The call lock is always the innermost lock. A call
// that does not get the lock within kStuckCallMs (the library has not come
// back from another call for that long) is refused with a trace line, and so
// is every call after it until that call has come back.
//
// The nine tone-detection entry points have no wrappers: the verification
// worker calls them directly, without the call lock.

#include "device/VexlinApi.h"
#include "platform/DynamicLibrary.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// The FXO library's entry points in the form the wrappers call them.
using ZorvLoadFn = uint8_t (*)(int vendorId, int productId);
using ZorvCloseFn = uint8_t (*)();
using WriteByteFn = uint8_t (*)(uint8_t reg, uint8_t value);
using ReadByteFn = uint8_t (*)(uint8_t reg);
using DaaPstnHookFn = uint8_t (*)();
using FupLedSwitchFn = int (*)(int on);
using SetPortIndexFn = int (*)(int portIndex);
using FupInitDaaFn = uint8_t (*)();
using FupPhoneSwitchFn = uint8_t (*)(uint8_t on);
using DaaSetCountryFn = void (*)(const char* country);
using FupReadEEPromFn = uint16_t (*)(uint8_t address);
using WriteDAARegisterFn = uint8_t (*)(uint8_t reg, uint8_t value);
using ReadDAARegisterFn = uint8_t (*)(uint8_t reg);
using DaaRingDetectFn = uint8_t (*)();
using DaaSetOnhookFn = uint8_t (*)();
using DaaSetOffhookFn = uint8_t (*)();
using DaaOnHookMonitorFn = uint8_t (*)(uint8_t on);
// Phone-side entry points: members exist, but the program never binds them.
using ReadSlicDirectRegisterFn = uint8_t (*)(uint8_t reg);
using SlicStopFn = uint8_t (*)();

class CDeviceATABase {
public:
    // Number of model-name cells ReadModelName fills (EEPROM words 17 to 26).
    static constexpr int kModelNameCells = 10;

    CDeviceATABase();
    // Frees both libraries.
    virtual ~CDeviceATABase();

    CDeviceATABase(const CDeviceATABase&) = delete;
    CDeviceATABase& operator=(const CDeviceATABase&) = delete;

    // Loads the FXO library and binds its 17 entry points; calls SetPortIndex
    // with the port index when it is exported. TRUE only when all 17 were
    // found. When the library is already loaded: TRUE without looking up
    // again. A refused library stays loaded and the entry points it has work.
    int LoadDll(const std::string& path, int portIndex);
    // Loads the tone-detection library and binds its nine entry points, then
    // calls VexlinLoad(port index). TRUE when all nine were found (or it was
    // already loaded).
    int LoadBusyToneDll(const std::string& path, int portIndex);
    // Frees the FXO library. Waits for a call in progress and empties the
    // entry points, so that a wrapper called afterwards is refused with its
    // trace line instead of jumping into freed code.
    void UnloadDlls();

    // ---- closing ------------------------------------------------------------
    // From now on every FXO wrapper answers its failure value with one trace
    // line instead of calling the library; a call already inside it goes on.
    void BeginTeardown();
    bool TearingDown() const { return m_bTearingDown.load(); }
    // Gives up on a thread still inside an FXO call: true when `caller` is
    // inside one now. Coming back from it, that thread parks for good in the
    // binding and never returns into its caller's code, so whatever that
    // code uses may go away; the binding itself and the library must stay.
    // False when `caller` is not inside the library (it then runs the
    // program's own code, which ends by itself).
    bool AbandonCaller(std::thread::id caller);

    // Longer than the kernel lets one report exchange with the adapter take
    // (about 5 s): a call holding the library longer is taken as stuck.
    static constexpr uint32_t kStuckCallMs = 6000;
    // True while a call has been in the library longer than kStuckCallMs
    // (found so by a caller that waited for it).
    bool CallStuck();
    // Tests shorten it.
    void SetStuckCallWaitForTest(uint32_t milliseconds) { m_dwStuckCallMs = milliseconds; }

    // ---- FXO wrappers -----------------------------------------------------
    // Results named "TRUE" below are 1 only when the library returned exactly
    // 1 (any other value, 2 included, gives 0).

    // Opens the adapter; nonzero when opened. Calls only when the ZorvLoad and
    // ReadByte entry points are both bound (no trace line otherwise: 0).
    int ZorvLoad(int vendorId, int productId);
    int ZorvClose();                                    // TRUE; unbound: 0
    int WriteByte(uint8_t reg, uint8_t value);          // TRUE; unbound: 0
    uint8_t ReadByte(uint8_t reg);                      // unbound: 0
    uint8_t DaaPstnHook();                              // unbound: 1
    // Passes 1 for any nonzero argument and records the argument itself as
    // the LED state (under the call lock). TRUE; unbound: 1, state unchanged.
    int FupLedSwitch(int on);
    int FupInitDaa();                                   // TRUE; unbound: 0
    int FupPhoneSwitch(int value);                      // low 8 bits passed; TRUE; unbound: 0
    void DaaSetCountry(const char* country);
    uint16_t FupReadEEProm(uint8_t address);            // unbound: 0
    uint8_t WriteDAARegister(uint8_t reg, uint8_t value);
    uint8_t ReadDAARegister(uint8_t reg);
    uint8_t DaaRingDetect();                            // nonzero while ringing
    uint8_t DaaSetOnhook();
    uint8_t DaaSetOffhook();
    uint8_t DaaOnHookMonitor(uint8_t on);
    // Phone side: never bound, so these only write their trace line and
    // answer 0.
    uint8_t ReadSlicDirectRegister(uint8_t reg);
    uint8_t SlicStopBusyTone();
    uint8_t SlicStopDialTone();
    uint8_t SlicStopRing();

    // Fills kModelNameCells UTF-16 cells with EEPROM words 17 to 26, one
    // wrapper call per cell, in address order.
    void ReadModelName(uint16_t* cells);

    // The last value passed to FupLedSwitch while it was bound; 0 at first.
    int LedState() const { return m_nLedState.load(); }

    // True when all nine tone-detection entry points are bound.
    bool BusyToneFunctionsBound() const;
    bool FxoLibraryLoaded() const;
    bool BusyToneLibraryLoaded() const;
    // The file the tone-detection library was loaded from ("" when none).
    std::string BusyToneLibraryPath() const;

    // Port index, written into trace lines and passed to SetPortIndex. Set by
    // the device object before loading.
    int m_nPortIndex = 0;

    // ---- tone-detection entry points (called directly, without the lock) ---
    VexlinLoadFn m_pVexlinLoadExp = nullptr;
    VexlinUnloadFn m_pVexlinUnloadExp = nullptr;
    StartVexlinFn m_pStartVexlinExp = nullptr;
    StartVexlin2Fn m_pStartVexlin2Exp = nullptr;
    StopVexlinFn m_pStopVexlinExp = nullptr;
    GetBusyToneCountFn m_pGetBusyToneCountExp = nullptr;
    GetPerhapsPeriodFn m_pGetPerhapsPeriodExp = nullptr;
    IsBusyToneHappenedFn m_pIsBusyToneHappenedExp = nullptr;
    SetOnOffTimeForTestFn m_pSetOnOffTimeForTestExp = nullptr;

private:
    // Calls through an FXO entry point under the call lock. testInsideLock:
    // the member is tested only after the lock is taken (so its " = NULL"
    // line is written under the lock too); otherwise it is tested first and
    // the lock is taken only for a bound one. traceName nullptr: no line.
    template <typename Fn, typename R, typename Call>
    R Guarded(const std::atomic<Fn>& member, const char* traceName, R fallback, bool testInsideLock, Call&& call);
    void WriteNullLine(const char* traceName) const;
    // Around each call into the FXO library, under the call lock: Enter
    // registers the calling thread (false when closing: do not call); Leave
    // clears it, or parks the thread when it was given up on meanwhile.
    bool EnterCall(const char* traceName);
    void LeaveCall();
    void WriteRefusedLine(const char* traceName) const;
    // Takes the call lock, waiting at most kStuckCallMs; false (with its
    // trace line) when the library is stuck in another call.
    bool TakeCallLock(std::unique_lock<std::timed_mutex>& lock, const char* traceName);

    std::timed_mutex m_callLock;
    std::atomic<uint32_t> m_dwStuckCallMs{kStuckCallMs};
    bool m_bCallStuck = false; // under m_stateLock
    // Closing: the thread inside the library and the one given up on.
    std::atomic<bool> m_bTearingDown{false};
    std::mutex m_stateLock;
    std::condition_variable m_parked; // never signalled
    std::thread::id m_callingThread;
    std::thread::id m_abandonedThread;
    parvane::DynamicLibrary m_fxoLibrary;
    parvane::DynamicLibrary m_busyToneLibrary;

    // FXO entry points. Atomic, because UnloadDlls empties them while other
    // threads may be testing them.
    std::atomic<ZorvLoadFn> m_pZorvLoadExp{nullptr};
    std::atomic<ZorvCloseFn> m_pCloseATAExp{nullptr};
    std::atomic<WriteByteFn> m_pWriteFupRegisterExp{nullptr};
    std::atomic<ReadByteFn> m_pReadFupRegisterExp{nullptr};
    std::atomic<DaaPstnHookFn> m_pDaaPstnUnhookedExp{nullptr};
    std::atomic<FupLedSwitchFn> m_pFupLedSwitchExp{nullptr};
    std::atomic<SetPortIndexFn> m_pSetPortIndexExp{nullptr};
    std::atomic<FupInitDaaFn> m_pFupInitDaaExp{nullptr};
    std::atomic<FupPhoneSwitchFn> m_pFupPhoneSwitchExp{nullptr};
    std::atomic<DaaSetCountryFn> m_pDaaSetCountryExp{nullptr};
    std::atomic<FupReadEEPromFn> m_pFupReadEEPromExp{nullptr};
    std::atomic<WriteDAARegisterFn> m_pWriteDAARegisterExp{nullptr};
    std::atomic<ReadDAARegisterFn> m_pReadDAARegisterExp{nullptr};
    std::atomic<DaaRingDetectFn> m_pDaaRingDetectExp{nullptr};
    std::atomic<DaaSetOnhookFn> m_pDaaSetOnhookExp{nullptr};
    std::atomic<DaaSetOffhookFn> m_pDaaSetOffhookExp{nullptr};
    std::atomic<DaaOnHookMonitorFn> m_pDaaOnHookMonitorExp{nullptr};
    // Phone-side members: never looked up, always empty.
    std::atomic<ReadSlicDirectRegisterFn> m_pReadSlicDirectRegisterExp{nullptr};
    std::atomic<SlicStopFn> m_pSlicStopBusyToneExp{nullptr};
    std::atomic<SlicStopFn> m_pSlicStopDialToneExp{nullptr};
    std::atomic<SlicStopFn> m_pSlicStopRingExp{nullptr};

    std::atomic<int> m_nLedState{0};
};
