#include "vadapter/VirtualAdapterDevice.h"

#include "platform/AdapterIds.h"
#include "platform/DebugPrint.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace parvane {

namespace {

constexpr size_t kReportLength = 9;
constexpr uint8_t kMarker1 = 243;
constexpr uint8_t kMarker3 = 237;

constexpr uint8_t kKindRead = 0x00;
constexpr uint8_t kKindWrite1 = 0x01;
constexpr uint8_t kKindWrite4 = 0x04;

constexpr uint8_t kCtrlMode = 0;
constexpr uint8_t kCtrlSelect = 1;
constexpr uint8_t kCtrlLine = 10;
constexpr uint8_t kCtrlEeprom = 15;
constexpr uint8_t kCtrlSpi = 25;
constexpr uint8_t kCtrlSlicData = 26;
constexpr uint8_t kCtrlDaaData = 27;
constexpr uint8_t kCtrlSerial = 30;

bool ApplyUnplugAfterAnswer(const std::string& value, Scenario& scenario, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, 3600 * 1000, number)) {
        error = "expected milliseconds from 0 to 3600000";
        return false;
    }
    scenario.unplugAfterAnswerMs = static_cast<int64_t>(number);
    return true;
}

bool ApplyLoseAnswer(const std::string& value, Scenario& scenario, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, 1, number)) {
        error = "expected 0 or 1";
        return false;
    }
    scenario.loseAnswer = number == 1;
    return true;
}

const ScenarioKeys g_plugKeys = {
    {"adapter", "unplug_after_answer", ApplyUnplugAfterAnswer},
    {"adapter", "lose_answer", ApplyLoseAnswer},
};

constexpr uint8_t kResetCommand = 0x20;
constexpr uint8_t kSelectDaa = 0x04;
constexpr uint8_t kSelectSlic = 0x08;
constexpr uint8_t kRingInput = 0x02;   // CTRL_LINE bit 1, low while ringing
constexpr uint8_t kLed = 0x40;         // CTRL_LINE bit 6
constexpr uint8_t kEepromDataOut = 0x10;

// Logs are kept for tests; a long run keeps only the newest entries.
constexpr size_t kLogLimit = 200000;

template <typename T>
void Append(std::vector<T>& log, const T& entry)
{
    if (log.size() >= kLogLimit)
        log.erase(log.begin(), log.begin() + static_cast<long>(kLogLimit / 2));
    log.push_back(entry);
}

} // namespace

VirtualAdapterDevice::VirtualAdapterDevice(const Scenario& scenario)
{
    Reset(scenario);
}

// ---- Transport ----------------------------------------------------------

std::vector<VirtualHidDevice> VirtualAdapterDevice::Enumerate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    FollowScheduleLocked();
    if (!m_plugged)
        return {};
    return {VirtualHidDevice{m_scenario.vendorId, m_scenario.productId, "virtual:" + m_scenario.source}};
}

int VirtualAdapterDevice::Open(uint16_t vendorId, uint16_t productId)
{
    WaitWhileHeld(true);
    std::lock_guard<std::mutex> lock(m_mutex);
    FollowScheduleLocked();
    if (!m_plugged || m_refusingOpens || vendorId != m_scenario.vendorId || productId != m_scenario.productId)
        return 0;
    const int handle = m_nextHandle++;
    m_handles[handle] = m_generation;
    m_call.Opened(NowLocked());
    m_slic.Opened(NowLocked());
    return handle;
}

void VirtualAdapterDevice::Close(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.erase(handle);
}

bool VirtualAdapterDevice::HandleAliveLocked(int handle, int& error) const
{
    const auto found = m_handles.find(handle);
    if (found == m_handles.end()) {
        error = EBADF;
        return false;
    }
    if (!m_plugged || found->second != m_generation) {
        error = ENODEV;
        return false;
    }
    return true;
}

void VirtualAdapterDevice::WaitWhileHeld(bool open)
{
    std::unique_lock<std::mutex> lock(m_holdMutex);
    bool& holding = open ? m_holdingOpens : m_holding;
    if (!holding)
        return;
    ++m_heldExchanges;
    m_holdChanged.notify_all();
    m_holdChanged.wait(lock, [&holding] { return !holding; });
    --m_heldExchanges;
}

bool VirtualAdapterDevice::SendFeatureReport(int handle, const uint8_t* report, size_t length, int& error)
{
    WaitWhileHeld();
    std::lock_guard<std::mutex> lock(m_mutex);
    FollowScheduleLocked();
    uint8_t bytes[kReportLength] = {};
    if (report != nullptr)
        std::memcpy(bytes, report, length < kReportLength ? length : kReportLength);
    bool ok = HandleAliveLocked(handle, error);
    if (ok && (report == nullptr || length != kReportLength || report[0] != 0)) {
        error = EINVAL;
        ok = false;
    }
    if (ok && m_passSends > 0) {
        --m_passSends;
    } else if (ok && m_failSends > 0) {
        --m_failSends;
        error = EIO;
        ok = false;
    }
    if (ok && (report[1] != kMarker1 || report[3] != kMarker3)) {
        error = EPROTO; // the controller drops reports it cannot frame
        ok = false;
    }
    if (ok && m_scenario.loseAnswer && m_ringSeen && OffHookWriteLocked(report)) {
        error = EIO;
        ok = false;
    }
    LogLocked(true, ok, bytes);
    if (ok)
        ExecuteLocked(report);
    return ok;
}

bool VirtualAdapterDevice::GetFeatureReport(int handle, uint8_t* report, size_t length, int& error)
{
    WaitWhileHeld();
    std::lock_guard<std::mutex> lock(m_mutex);
    FollowScheduleLocked();
    bool ok = HandleAliveLocked(handle, error);
    if (ok && (report == nullptr || length != kReportLength || report[0] != 0)) {
        error = EINVAL;
        ok = false;
    }
    if (ok && m_passGets > 0) {
        --m_passGets;
    } else if (ok && m_failGets > 0) {
        --m_failGets;
        error = EIO;
        ok = false;
    }
    if (ok && m_failNextGet) {
        m_failNextGet = false;
        error = EIO;
        ok = false;
    }
    if (ok)
        std::memcpy(report, m_reply.data(), kReportLength);
    LogLocked(false, ok, ok ? report : m_reply.data());
    return ok;
}

void VirtualAdapterDevice::LogLocked(bool send, bool ok, const uint8_t* bytes)
{
    ReportRecord record;
    record.send = send;
    record.ok = ok;
    std::memcpy(record.bytes.data(), bytes, kReportLength);
    Append(m_reports, record);
}

// ---- Controller ---------------------------------------------------------

void VirtualAdapterDevice::ExecuteLocked(const uint8_t* report)
{
    const uint8_t kind = report[2];
    const uint8_t reg = report[4];
    if (kind == kKindWrite1) {
        WriteControllerLocked(reg, report[5]);
    } else if (kind == kKindWrite4) {
        if (reg == kCtrlSpi)
            SerialTransferLocked(report + 5);
    } else if (kind == kKindRead) {
        m_reply.fill(0);
        if (reg == kCtrlSerial)
            std::memcpy(m_reply.data() + 1, m_scenario.serial.data(), m_scenario.serial.size());
        else
            m_reply[1] = ReadControllerLocked(reg);
    }
}

void VirtualAdapterDevice::WriteControllerLocked(uint8_t reg, uint8_t value)
{
    if (reg == kCtrlMode && value == kResetCommand) {
        // Resets the controller and the chips on the serial bus; the line
        // drops back on-hook.
        const uint8_t line = m_registers[kCtrlLine];
        m_registers.fill(0);
        m_registers[kCtrlMode] = value;
        m_registers[kCtrlSelect] = 0x24;
        m_registers[kCtrlLine] = line;
        m_daa.PowerOn();
        m_slic.PowerOn();
        m_eeprom.PowerOn();
        NoteHookLocked();
        return;
    }
    switch (reg) {
    case kCtrlSlicData:
    case kCtrlDaaData:
    case kCtrlSerial:
        return; // read-only
    case kCtrlEeprom:
        m_registers[reg] = value & 0x0F;
        m_eeprom.SetPort(value & 0x0F);
        return;
    default:
        m_registers[reg] = value;
    }
}

bool VirtualAdapterDevice::OffHookWriteLocked(const uint8_t* report) const
{
    // A serial transfer to the DAA writing its hook register with the
    // off-hook bit set.
    const uint8_t* data = report + 5;
    return report[2] == kKindWrite4 && report[4] == kCtrlSpi &&
           (m_registers[kCtrlSelect] & (kSelectDaa | kSelectSlic)) == kSelectDaa && data[0] == 0x20 && data[1] == 5 &&
           (data[2] & 0x01) != 0 && data[3] == 0x61;
}

uint8_t VirtualAdapterDevice::ReadControllerLocked(uint8_t reg)
{
    uint8_t value = m_registers[reg];
    if (reg == kCtrlLine) {
        const bool ringing = !m_daa.OffHook() && m_call.RingBurst(NowLocked());
        m_ringSeen = m_ringSeen || ringing;
        value = static_cast<uint8_t>((value & ~kRingInput) | (ringing ? 0 : kRingInput));
    } else if (reg == kCtrlEeprom) {
        value = static_cast<uint8_t>((value & 0x0F) | (m_eeprom.DataOut() ? kEepromDataOut : 0));
    }
    return value;
}

void VirtualAdapterDevice::SerialTransferLocked(const uint8_t* data)
{
    const uint8_t select = m_registers[kCtrlSelect] & (kSelectDaa | kSelectSlic);
    if (select == kSelectDaa) {
        // DAA: 0x20 reg value 0x61 writes, 0x60 reg 0x00 0x61 reads.
        if (data[3] != 0x61)
            return;
        if (data[0] == 0x20) {
            m_daa.Write(data[1], data[2]);
            Append(m_bus, BusAccess{BusAccess::Chip::Daa, true, data[1], data[2]});
            NoteHookLocked();
        } else if (data[0] == 0x60) {
            m_registers[kCtrlDaaData] = m_daa.Read(data[1]);
            Append(m_bus, BusAccess{BusAccess::Chip::Daa, false, data[1], m_registers[kCtrlDaaData]});
        }
    } else if (select == kSelectSlic) {
        // SLIC: reg value 0x00 0x03 writes, reg|0x80 0x00 0x00 0x03 reads.
        if (data[3] != 0x03)
            return;
        const uint8_t reg = data[0] & 0x7F;
        if ((data[0] & 0x80) == 0) {
            m_slic.Write(reg, data[1], NowLocked());
            Append(m_bus, BusAccess{BusAccess::Chip::Slic, true, reg, data[1]});
        } else {
            m_registers[kCtrlSlicData] = m_slic.Read(reg, NowLocked());
            if (m_failingSlicReads > 0 && reg == m_failingSlicRead) {
                --m_failingSlicReads;
                m_failNextGet = true;
            }
            Append(m_bus, BusAccess{BusAccess::Chip::Slic, false, reg, m_registers[kCtrlSlicData]});
        }
    }
    // No chip selected, or both at once: the transfer reaches nobody.
}

void VirtualAdapterDevice::FollowScheduleLocked()
{
    if (m_scenario.unplugAfterAnswerMs < 0 || m_scheduledUnplugDone || m_firstOffHookMs == 0 || !m_plugged)
        return;
    if (NowLocked() - m_firstOffHookMs < static_cast<uint64_t>(m_scenario.unplugAfterAnswerMs))
        return;
    DebugPrint("Virtual adapter: unplugged by the scenario %lld ms after the answer",
               static_cast<long long>(m_scenario.unplugAfterAnswerMs));
    m_scheduledUnplugDone = true;
    UnplugLocked();
}

void VirtualAdapterDevice::UnplugLocked()
{
    m_plugged = false;
    // Without power the DAA lets go of the line.
    m_daa.PowerOn();
    NoteHookLocked();
}

void VirtualAdapterDevice::NoteHookLocked()
{
    const bool offHook = m_daa.OffHook();
    if (offHook == m_offHook)
        return;
    const uint64_t now = NowLocked();
    m_offHook = offHook;
    if (offHook) {
        m_offHookSince = now;
        m_lastRingEnd = m_call.LastBurstEnd(now);
    }
    m_call.HookChanged(offHook, now);
    if (offHook)
        m_exchange.OffHook(now, !m_call.Answered(now));
    else
        m_exchange.OnHook();
    if (offHook && m_firstOffHookMs == 0 && m_call.Answered(now))
        m_firstOffHookMs = now; // the first answered call
}

void VirtualAdapterDevice::PowerOnLocked()
{
    m_registers.fill(0);
    m_registers[kCtrlMode] = 0x02;
    m_registers[kCtrlSelect] = 0x24;
    m_registers[kCtrlLine] = 0xBF; // LED off, ring input idle (high)
    m_reply.fill(0);
    m_daa.PowerOn();
    m_slic.PowerOn();
    m_eeprom.PowerOn();
    m_call.PowerOn();
    m_exchange.OnHook();
    m_offHook = false;
}

// ---- Line and clock -----------------------------------------------------

uint64_t VirtualAdapterDevice::NowLocked() const
{
    if (m_manualClock)
        return m_manualNow;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

uint64_t VirtualAdapterDevice::NowMs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return NowLocked();
}

bool VirtualAdapterDevice::IsOffHook()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offHook;
}

uint64_t VirtualAdapterDevice::OffHookSinceMs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offHookSince;
}

uint64_t VirtualAdapterDevice::LastRingEndMs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastRingEnd;
}

std::string VirtualAdapterDevice::ModelName()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scenario.model;
}

// ---- Test controls ------------------------------------------------------

void VirtualAdapterDevice::Reset(const Scenario& scenario)
{
    ReleaseExchanges();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scenario = scenario;
    m_manualClock = false;
    m_plugged = true;
    ++m_generation;
    m_handles.clear();
    m_failSends = m_passSends = 0;
    m_failGets = m_passGets = 0;
    m_daa = VirtualDaa();
    m_slic = VirtualSlic();
    m_slic.Configure(scenario);
    m_failingSlicReads = 0;
    m_failNextGet = false;
    m_refusingOpens = false;
    m_eeprom.Fill(scenario.model);
    m_call.Configure(scenario.ringDelayMs, scenario.ringCadenceMs, scenario.redialMs);
    m_offHookSince = 0;
    m_lastRingEnd = 0;
    m_firstOffHookMs = 0;
    m_scheduledUnplugDone = false;
    m_ringSeen = false;
    PowerOnLocked();
    m_reports.clear();
    m_bus.clear();
    m_lineAudio = std::make_shared<const LineAudio>(scenario.lineAudio, scenario.presetBusyTone);
    m_exchange.Configure(scenario);
    m_playbacks.Clear();
}

bool VirtualAdapterDevice::ResetFromEnvironment(std::string* error)
{
    const char* chosen = std::getenv(kVirtualAdapterEnv);
    Scenario scenario;
    std::string why;
    if (chosen == nullptr || chosen[0] == '\0')
        why = std::string(kVirtualAdapterEnv) + " is not set";
    else if (LoadScenario(chosen, scenario, why))
        why.clear();
    if (!why.empty()) {
        if (error != nullptr)
            *error = why;
        return false;
    }
    Reset(scenario);
    return true;
}

Scenario VirtualAdapterDevice::CurrentScenario()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scenario;
}

void VirtualAdapterDevice::Unplug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    UnplugLocked();
}

void VirtualAdapterDevice::Replug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_plugged)
        return;
    m_plugged = true;
    ++m_generation;
    PowerOnLocked();
}

int VirtualAdapterDevice::OpenHandleCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_handles.size());
}

void VirtualAdapterDevice::HoldExchanges()
{
    std::lock_guard<std::mutex> lock(m_holdMutex);
    m_holding = true;
}

void VirtualAdapterDevice::HoldOpens()
{
    std::lock_guard<std::mutex> lock(m_holdMutex);
    m_holdingOpens = true;
}

void VirtualAdapterDevice::RefuseOpens(bool refuse)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refusingOpens = refuse;
}

void VirtualAdapterDevice::ReleaseExchanges()
{
    {
        std::lock_guard<std::mutex> lock(m_holdMutex);
        m_holding = false;
        m_holdingOpens = false;
    }
    m_holdChanged.notify_all();
}

bool VirtualAdapterDevice::WaitForHeldExchange(uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_holdMutex);
    return m_holdChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_heldExchanges > 0; });
}

void VirtualAdapterDevice::FailNextSends(int count, int after)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failSends = count;
    m_passSends = count > 0 ? after : 0;
}

void VirtualAdapterDevice::FailNextGets(int count, int after)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failGets = count;
    m_passGets = count > 0 ? after : 0;
}

void VirtualAdapterDevice::SetDaaAnswering(bool answering)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_daa.SetAnswering(answering);
    NoteHookLocked();
}

void VirtualAdapterDevice::FailDaaStartups(int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_daa.FailStartups(count);
}

void VirtualAdapterDevice::SetLoopCurrent(uint8_t reading)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_daa.SetLoopCurrent(reading);
}

void VirtualAdapterDevice::UseManualClock(uint64_t startMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_manualClock = true;
    m_manualNow = startMs;
}

void VirtualAdapterDevice::AdvanceClock(uint64_t ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_manualNow += ms;
}

void VirtualAdapterDevice::UseRealClock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_manualClock = false;
}

std::vector<ReportRecord> VirtualAdapterDevice::Reports()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

std::vector<BusAccess> VirtualAdapterDevice::BusAccesses()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bus;
}

void VirtualAdapterDevice::ClearLogs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.clear();
    m_bus.clear();
    m_slic.ClearLog();
}

uint8_t VirtualAdapterDevice::ControllerRegister(uint8_t reg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return ReadControllerLocked(reg);
}

uint8_t VirtualAdapterDevice::DaaRegister(uint8_t reg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_daa.Register(reg);
}

uint8_t VirtualAdapterDevice::SlicRegister(uint8_t reg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slic.Register(reg);
}

void VirtualAdapterDevice::SetSlicRegister(uint8_t reg, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetRegister(reg, value);
}

uint16_t VirtualAdapterDevice::SlicIndirectRegister(uint8_t reg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slic.IndirectRegister(reg);
}

uint16_t VirtualAdapterDevice::EepromWord(int address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_eeprom.Word(address);
}

void VirtualAdapterDevice::SetEepromWord(int address, uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_eeprom.SetWord(address, value);
}

bool VirtualAdapterDevice::LedOn()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return (m_registers[kCtrlLine] & kLed) != 0;
}

bool VirtualAdapterDevice::RingSignal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return (ReadControllerLocked(kCtrlLine) & kRingInput) == 0;
}

std::string VirtualAdapterDevice::ExchangeDigits()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exchange.Digits();
}

VirtualExchange::Answer VirtualAdapterDevice::ExchangeAnswer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exchange.Snapshot(NowLocked());
    return m_exchange.CurrentAnswer();
}

bool VirtualAdapterDevice::CallAnswered()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_call.Answered(NowLocked());
}

// ---- The process's instance ---------------------------------------------

namespace {

std::mutex g_instanceMutex;
VirtualAdapterDevice* g_instance = nullptr; // lives as long as the process
std::string g_refused;                      // the choice last refused

} // namespace

VirtualAdapterDevice* VirtualAdapterDevice::Instance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instance != nullptr)
        return g_instance;
    const char* chosen = std::getenv(kVirtualAdapterEnv);
    if (chosen == nullptr || chosen[0] == '\0')
        return nullptr;
    if (g_refused == chosen)
        return nullptr; // said once already
    Scenario scenario;
    std::string error;
    if (!LoadScenario(chosen, scenario, error)) {
        DebugPrint("Virtual adapter: scenario refused: %s", error.c_str());
        g_refused = chosen;
        return nullptr;
    }
    g_instance = new VirtualAdapterDevice(scenario);
    return g_instance;
}

} // namespace parvane

extern "C" parvane::VirtualAdapter* ParvaneVirtualAdapter()
{
    return parvane::VirtualAdapterDevice::Instance();
}
