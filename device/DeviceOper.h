#pragma once
// CDeviceOper: the program's object for one telephone port of the adapter.
//
// It owns the port's library binding, finds and opens the adapter,
// initialises the DAA (with one retry), drives the LED, resets the adapter at
// exit, and runs a thread that watches the line for ringing, confirms a ring
// by the timing of its bursts and asks the main dialog to answer it.
//
// Use from the main dialog, in this order (see also AnswerRequester.h):
//   device.m_wVendorId = kAdapterVendorId; device.SetPortIndex(0);
//   device.SetAnswerRequester(&dialog);
//   device.LoadDlls();                         // result may be ignored
//   device.StartThread();
//   if (!device.OpenFirstAdapter(kAdapterProductIds)) ...;   // "Hardware is not found"
//   if (!device.InitializeDaa()) ...;          // "Port 1 init failed"
//   device.Binding().ReadModelName(cells);
//   ... runs: Binding().DaaSetOffhook()/DaaSetOnhook(), m_bLineAnswered,
//       SetLedMode(2), m_bPstnRing ...
//   at exit: device.Stop(); device.Binding().FupLedSwitch(0); device.ResetHardware();
//            device.Close();                   // or delete it

#include "device/AnswerRequester.h"
#include "device/DeviceATABase.h"
#include "display/ThreadBase.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

// The clock the device object reads and sleeps by. Tests put their own in, so
// that the ring rules and the start-up waits are checked without real time.
struct DeviceClock {
    std::function<uint32_t()> now;          // milliseconds; wraps at 2^32
    std::function<void(uint32_t)> sleep;    // milliseconds
    static DeviceClock System();
};

// LED modes (m_nLedMode).
enum LedMode : int {
    LED_MODE_NONE = 0,      // leave the LED alone
    LED_MODE_OFF = 1,
    LED_MODE_ON = 2,
    LED_MODE_BLINK = 3,     // toggled every 250 ms
};

class CDeviceOper : public CThreadBase {
public:
    // Library file names in the program directory, per port.
#ifdef _WIN32
    static constexpr const char* kFxoLibraryPort1 = "FXO.dll";
    static constexpr const char* kFxoLibraryOtherPorts = "FXO_02.dll";
    static constexpr const char* kBusyToneLibraryPort1 = "Vexlin.dll";
    static constexpr const char* kBusyToneLibraryOtherPorts = "Vexlin_02.dll";
#else
    static constexpr const char* kFxoLibraryPort1 = "FXO.so";
    static constexpr const char* kFxoLibraryOtherPorts = "FXO_02.so";
    static constexpr const char* kBusyToneLibraryPort1 = "Vexlin.so";
    static constexpr const char* kBusyToneLibraryOtherPorts = "Vexlin_02.so";
#endif

    // Ring rules (milliseconds).
    static constexpr uint32_t kPassSleepMs = 49;        // each pass begins with it
    static constexpr uint32_t kLedBlinkMs = 250;
    static constexpr uint32_t kSingleBurstMs = 300;     // a burst longer than this confirms
    static constexpr uint32_t kTotalBurstsMs = 400;     // bursts adding up to this within a window confirm
    static constexpr uint32_t kWindowMs = 1000;         // the accumulation window
    static constexpr uint32_t kReleaseSilenceMs = 4200; // silence longer than this releases a reported ring
    // The wait after a failed DAA start-up, in slices that end it early when
    // the device closes.
    static constexpr uint32_t kRetryWaitMs = 5000;
    static constexpr uint32_t kRetrySliceMs = 50;
    // How often the line watch looks whether the adapter is still there.
    static constexpr uint32_t kPresenceCheckMs = 500;

    // The clock may be given only here: the device thread reads it.
    explicit CDeviceOper(DeviceClock clock = DeviceClock::System());
    // Close, then waits 500 ms and frees the FXO library and the binding;
    // when Close left a worker parked, both are kept for it instead.
    ~CDeviceOper() override;
    // The bounded end of the device, for a front end that keeps the object
    // (the dialog never deletes it) as for the destructor. From its start
    // the binding calls the library no more, so a worker's pass ends once
    // its current library call returns; the worker is waited for at most
    // kWorkerExitWaitMs after the thread's own stop bound. A worker still
    // inside the library then is left parked in the binding (see
    // CDeviceATABase::AbandonCaller), which is kept, with the library loaded,
    // for the rest of the process. Every FXO call through the binding is
    // refused with a trace line from then on. False when a worker was
    // parked; a second Close only repeats the first one's answer.
    bool Close();
    // As long as the binding waits for a call in the library to come back.
    static constexpr uint32_t kWorkerExitWaitMs = CDeviceATABase::kStuckCallMs;
    // Tests shorten that wait and the binding's.
    void SetStuckCallWaitForTest(uint32_t milliseconds)
    {
        m_dwWorkerExitWaitMs = milliseconds;
        m_pDeviceATA->SetStuckCallWaitForTest(milliseconds);
    }

    // Writes "InitiVariable run" and clears m_bDaaReady.
    void InitiVariable();
    // Loads FXO.so and Vexlin.so (port index 0) or FXO_02.so and Vexlin_02.so
    // (any other) from the program directory. FALSE when either fails; the
    // FXO side stays usable when only the tone-detection library failed.
    int LoadDlls();
    // Looks for an adapter with m_wVendorId and m_wProductId and opens it
    // through the FXO library. FALSE when there is none (after the "Start
    // reset dll handle" line, having made the library drop any old handle).
    int InitDllHandle();
    // The start-up search: for each product id in turn, sets m_wProductId
    // and calls InitDllHandle until one opens. TRUE when one did (its id is
    // then in m_wProductId).
    int OpenFirstAdapter(std::span<const uint16_t> productIds);
    // Resets the adapter controller and initialises the DAA, at most twice
    // (5 s after each failure; the wait ends when the device closes). TRUE:
    // DAA ready, LED steady on.
    int InitializeDaa();
    void SetLedMode(int mode);
    // Stops the thread, switches the LED off (mode 0). Returns StopThread's
    // result (0 when the thread was not running).
    int Stop();
    // Resets the adapter controller at exit, under the device lock (not at
    // all, with a trace line, while the line watch is stuck in the library
    // holding it).
    void ResetHardware();

    // Sets the port index here and in the binding.
    void SetPortIndex(int portIndex);
    // The dialog that answers rings; nullptr: rings are reported but nobody
    // is asked. May be set or cleared while the thread runs; a requester
    // going away first clears it or stops the thread (Stop). Returns the
    // requester set before, for one that borrows the device for a while
    // and gives it back.
    AnswerRequester* SetAnswerRequester(AnswerRequester* requester) { return m_pAnswerRequester.exchange(requester); }

    CDeviceATABase& Binding() { return *m_pDeviceATA; }

    // True when a HID device with these identifiers is present and can be
    // opened (the virtual adapter's devices when it is chosen).
    static bool FindHidDevice(uint16_t vendorId, uint16_t productId);

    // One pass of the line watch without the pass's leading sleep: LED, ring
    // input, ring rules, report. Run is the sleep plus this; tests call it
    // directly with their own clock.
    void WatchLine();

    // ---- shared with the main dialog (plain values, no lock) ----------------
    std::atomic<int> m_nLedMode{LED_MODE_OFF};
    std::atomic<uint32_t> m_dwLedBlinkTickCount{0};
    std::atomic<int> m_bDllsLoaded{0};
    std::atomic<int> m_bDaaReady{0};
    std::atomic<uint32_t> m_bPstnRing{0};         // a ring is confirmed
    std::atomic<uint32_t> m_bPstnRingReported{0}; // and reported (LED blinking, answer asked)
    std::atomic<int> m_bLineAnswered{0};          // the dialog answered; no answer is asked then
    // 0 while a started adapter is unplugged: the line watch noticed it gone
    // and brings it up again (open, DAA start-up) once it is back.
    std::atomic<int> m_bAdapterPresent{1};

    int m_nPortIndex = -1;
    uint16_t m_wVendorId = 0;
    uint16_t m_wProductId = 0;
    std::string m_szModuleDir; // program directory with its trailing '/'

    // ---- ring timing, written by the device thread under the device lock ---
    // Tick counts; 0 means "not running".
    uint32_t m_dwRingOnTickCount = 0;              // start of the current burst
    uint32_t m_dwRingOffTickCount = 0;             // start of the silence after a reported ring
    uint32_t m_dwTotalPstnRingPeriodIn1s = 0;      // finished bursts since the window last closed
    uint32_t m_dwPstnStartRingTickCountFor1s = 0;  // start of the accumulation window

protected:
    void Run() override;
    void OnStart() override {}
    void OnStop() override {}

private:
    uint32_t Now() const { return m_clock.now(); }
    void Sleep(uint32_t milliseconds) const { m_clock.sleep(milliseconds); }
    void UpdateLed();
    // The open of InitDllHandle once the adapter is found: the library drops
    // any old handle, then opens it. From then on its presence is watched.
    // startLine: the "Start init dll handle" line between the two.
    int OpenThroughLibrary(bool startLine);
    // Notices an unplugged adapter and brings it up again when it is back.
    void CheckPresence();
    void TrackRingInput();
    void ReportRing();

    const DeviceClock m_clock;
    std::unique_ptr<CDeviceATABase> m_pDeviceATA;
    // On the heap: a worker left inside the library may hold it for good.
    std::unique_ptr<std::timed_mutex> m_pDeviceLock = std::make_unique<std::timed_mutex>();
    std::atomic<AnswerRequester*> m_pAnswerRequester{nullptr};
    // An adapter has been found and opened: from then on the line watch
    // follows its presence.
    std::atomic<bool> m_bWatchPresence{false};
    uint32_t m_dwPresenceCheckTickCount = 0;
    uint32_t m_dwWorkerExitWaitMs = kWorkerExitWaitMs;
    // Close has run; it left a worker parked in the binding.
    bool m_bClosed = false;
    bool m_bWorkerParked = false;
};
