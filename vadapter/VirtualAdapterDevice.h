#pragma once
// The process's virtual adapter: the USB controller with its registers, the
// DAA and SLIC behind its serial bus, the EEPROM behind register 15, the LED,
// the ring-detect input and the caller on the line, all driven only by the
// feature reports it receives. Tests link the library and use the controls
// below on the same instance the line-device library talks to.

#include "vadapter/LineAudio.h"
#include "vadapter/Scenario.h"
#include "vadapter/VirtualAdapter.h"
#include "vadapter/VirtualCall.h"
#include "vadapter/VirtualDaa.h"
#include "vadapter/VirtualEeprom.h"
#include "vadapter/VirtualExchange.h"
#include "vadapter/VirtualSlic.h"

#include <array>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace parvane {

// One feature-report exchange as the adapter saw it.
struct ReportRecord {
    bool send = true;                // SendFeatureReport, else GetFeatureReport
    bool ok = true;                  // the exchange succeeded
    std::array<uint8_t, 9> bytes{};  // sent, or returned
};

// One register access on the serial bus, decoded from a CTRL_SPI transfer.
struct BusAccess {
    enum class Chip { Daa, Slic } chip = Chip::Daa;
    bool write = true;
    uint8_t reg = 0;
    uint8_t value = 0;   // written, or read back
};

class VirtualAdapterDevice final : public VirtualAdapter {
public:
    explicit VirtualAdapterDevice(const Scenario& scenario);

    // The process's instance (the one ParvaneVirtualAdapter returns), or
    // nullptr when no scenario is chosen or it was refused.
    static VirtualAdapterDevice* Instance();

    // ---- VirtualAdapter ---------------------------------------------------
    std::vector<VirtualHidDevice> Enumerate() override;
    int Open(uint16_t vendorId, uint16_t productId) override;
    void Close(int handle) override;
    bool SendFeatureReport(int handle, const uint8_t* report, size_t length, int& error) override;
    bool GetFeatureReport(int handle, uint8_t* report, size_t length, int& error) override;
    uint64_t NowMs() override;
    bool IsOffHook() override;
    uint64_t OffHookSinceMs() override;
    uint64_t LastRingEndMs() override;
    std::string ModelName() override;

    // ---- VirtualAdapter: USB audio (vadapter/VirtualAdapterAudio.cpp) --------
    std::string AudioDeviceName() override;
    void RenderLineAudio(int16_t* interleaved, size_t frames, int64_t firstFrame) override;
    int BeginPlayback(uint32_t sampleRate, uint16_t channels) override;
    void PlayAudio(int playback, const int16_t* interleaved, size_t frames) override;
    void EndPlayback(int playback) override;
    // What was played to the output, oldest first; Reset empties it.
    std::vector<PlaybackRecord> Playbacks();

    // ---- Test controls ----------------------------------------------------
    // Starts over with this scenario (or the one PARVANE_VIRTUAL_ADAPTER
    // names now): powered on, plugged, no handles (old ones stay dead), no
    // faults, empty logs, the real clock. False with the reason when the
    // named scenario is refused; the adapter is then left as it was.
    void Reset(const Scenario& scenario);
    bool ResetFromEnvironment(std::string* error = nullptr);
    Scenario CurrentScenario();

    // Plugging: unplugged, nothing enumerates or opens and every exchange on
    // an open handle fails, and the unpowered DAA releases the line;
    // replugging powers the adapter on again, and handles from before stay
    // dead.
    void Unplug();
    void Replug();
    int OpenHandleCount();

    // Fault injection.
    // The next count exchanges of that direction fail, after the first
    // `after` ones have passed.
    void FailNextSends(int count, int after = 0);
    void FailNextGets(int count, int after = 0);
    void SetDaaAnswering(bool answering);   // false: the DAA never answers
    void FailDaaStartups(int count);        // the next soft resets leave it silent
    void SetLoopCurrent(uint8_t reading);   // register 28 off-hook; 0: a dead line
    // A transfer that does not come back: from HoldExchanges on, every
    // report exchange waits, before anything else, until ReleaseExchanges
    // (or Reset). WaitForHeldExchange: true once one is waiting, within the
    // time given.
    void HoldExchanges();
    void ReleaseExchanges();
    bool WaitForHeldExchange(uint32_t timeoutMs);
    // Opening: refused (as a node whose permissions are not set yet, or that
    // another program holds) while the device stays listed; or held, each
    // Open waiting until ReleaseExchanges like a held exchange (and counted
    // by WaitForHeldExchange).
    void RefuseOpens(bool refuse);
    void HoldOpens();

    // Clock: a manual clock that only AdvanceClock moves, or the real one.
    void UseManualClock(uint64_t startMs = 1000000);
    void AdvanceClock(uint64_t ms);
    void UseRealClock();

    // What the adapter holds and saw.
    std::vector<ReportRecord> Reports();
    std::vector<BusAccess> BusAccesses();
    void ClearLogs();
    uint8_t ControllerRegister(uint8_t reg);
    uint8_t DaaRegister(uint8_t reg);
    uint8_t SlicRegister(uint8_t reg);
    void SetSlicRegister(uint8_t reg, uint8_t value);
    uint16_t SlicIndirectRegister(uint8_t reg);
    uint16_t EepromWord(int address);
    void SetEepromWord(int address, uint16_t value);
    bool LedOn();
    bool RingSignal();        // CTRL_LINE bit 1 is low: a burst on an on-hook line
    bool CallAnswered();
    // The exchange's view of the program's own call: the digits it took
    // from the audio played to the output, and its answer.
    std::string ExchangeDigits();
    VirtualExchange::Answer ExchangeAnswer();

    // ---- Phone side (vadapter/VirtualAdapterPhone.cpp) --------------------
    // The SLIC's calibration and converter settle at once (see VirtualSlic).
    void SetSlicFastSettling(bool fast);
    void SetSlicCalibrationStuck(bool stuck);      // calibrations never end
    void SetSlicCalibrationError(bool error);      // they end flagging an error
    void SetSlicIdentity(uint8_t identity);        // register 0: part number, revision
    void SetSlicGainMismatchSteps(int ring, int tip);
    void SetSlicIndirectBusyPolls(int polls);
    void SetSlicIndirectReadBackError(uint8_t reg, uint16_t flippedBits);
    // The data fetch after each of the next count read transfers of this
    // SLIC register fails (a failed read of it).
    void FailSlicRegisterReads(uint8_t reg, int count);
    std::vector<SlicIndirectWrite> SlicIndirectWrites();
    // The telephone set on the phone port.
    void SetPhoneOffHook(bool offHook);
    bool PhoneOffHook();
    bool DialFromPhone(const std::string& digits);

    // The PCM settings of controller (0 path, 16 format), DAA (33) and SLIC
    // (1): the path index 0-4 (-1 for another value) and the law the three
    // agree on.
    enum class PcmLaw { MuLaw, ALaw, Linear16, Inconsistent };
    struct PcmState {
        int path = -1;
        PcmLaw law = PcmLaw::Inconsistent;
    };
    PcmState Pcm();

private:
    uint64_t NowLocked() const;
    void PowerOnLocked();
    bool HandleAliveLocked(int handle, int& error) const;
    void ExecuteLocked(const uint8_t* report);
    void WriteControllerLocked(uint8_t reg, uint8_t value);
    uint8_t ReadControllerLocked(uint8_t reg);
    bool OffHookWriteLocked(const uint8_t* report) const;
    void SerialTransferLocked(const uint8_t* data);
    void NoteHookLocked();
    // Carries out the scenario's timed unplug once it is due.
    void FollowScheduleLocked();
    void UnplugLocked();
    void LogLocked(bool send, bool ok, const uint8_t* bytes);
    // Waits while exchanges (opens) are held; not under m_mutex.
    void WaitWhileHeld(bool open = false);

    mutable std::mutex m_mutex;
    Scenario m_scenario;

    std::mutex m_holdMutex;
    std::condition_variable m_holdChanged;
    bool m_holding = false;
    bool m_holdingOpens = false;
    int m_heldExchanges = 0;
    bool m_refusingOpens = false;

    bool m_manualClock = false;
    uint64_t m_manualNow = 0;

    bool m_plugged = true;
    int m_generation = 0;
    int m_nextHandle = 1;
    std::map<int, int> m_handles; // handle -> generation it was opened in

    int m_failSends = 0;
    int m_passSends = 0;
    int m_failGets = 0;
    int m_passGets = 0;

    std::array<uint8_t, 256> m_registers{};
    std::array<uint8_t, 9> m_reply{};
    VirtualDaa m_daa;
    VirtualSlic m_slic;
    VirtualEeprom m_eeprom;
    VirtualCall m_call;
    VirtualExchange m_exchange;
    bool m_offHook = false;
    uint64_t m_offHookSince = 0;
    uint64_t m_lastRingEnd = 0;      // of the ring the latest off-hook answered; 0: none
    uint64_t m_firstOffHookMs = 0;   // when a call was first answered; 0: not yet
    bool m_scheduledUnplugDone = false;
    bool m_ringSeen = false;         // the line has rung since the last reset

    // USB audio: rebuilt from the scenario at Reset.
    std::shared_ptr<const LineAudio> m_lineAudio;
    PlaybackLog m_playbacks;

    std::vector<ReportRecord> m_reports;
    std::vector<BusAccess> m_bus;

    uint8_t m_failingSlicRead = 0;   // FailSlicRegisterReads
    int m_failingSlicReads = 0;
    bool m_failNextGet = false;
};

} // namespace parvane
