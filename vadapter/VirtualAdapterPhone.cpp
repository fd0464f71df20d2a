// The virtual adapter's phone side: test controls of the SLIC and of the
// telephone set on the phone port, and the PCM settings as the adapter holds
// them.
#include "vadapter/VirtualAdapterDevice.h"

namespace parvane {

namespace {

constexpr uint8_t kCtrlMode = 0;
constexpr uint8_t kCtrlPcm = 16;
constexpr uint8_t kDaaPcmMode = 33;
constexpr uint8_t kSlicPcmMode = 1;

// CTRL_MODE values of the PCM paths 0 to 4.
constexpr uint8_t kPcmPaths[] = {0x10, 0x04, 0x08, 0x00, 0x0C};

struct PcmFormat {
    VirtualAdapterDevice::PcmLaw law;
    uint8_t controller;
    uint8_t daa;
    uint8_t slic;
};

constexpr PcmFormat kPcmFormats[] = {
    {VirtualAdapterDevice::PcmLaw::MuLaw, 0x00, 0x28, 0x28},
    {VirtualAdapterDevice::PcmLaw::ALaw, 0x02, 0x20, 0x20},
    {VirtualAdapterDevice::PcmLaw::Linear16, 0x06, 0x38, 0x3C},
};

} // namespace

void VirtualAdapterDevice::SetSlicFastSettling(bool fast)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetFastSettling(fast);
}

void VirtualAdapterDevice::SetSlicCalibrationStuck(bool stuck)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetCalibrationStuck(stuck);
}

void VirtualAdapterDevice::SetSlicCalibrationError(bool error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetCalibrationError(error);
}

void VirtualAdapterDevice::SetSlicIdentity(uint8_t identity)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetIdentity(identity);
}

void VirtualAdapterDevice::SetSlicGainMismatchSteps(int ring, int tip)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetGainMismatchSteps(ring, tip);
}

void VirtualAdapterDevice::SetSlicIndirectBusyPolls(int polls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetIndirectBusyPolls(polls);
}

void VirtualAdapterDevice::SetSlicIndirectReadBackError(uint8_t reg, uint16_t flippedBits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetIndirectReadBackError(reg, flippedBits);
}

void VirtualAdapterDevice::FailSlicRegisterReads(uint8_t reg, int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failingSlicRead = reg;
    m_failingSlicReads = count;
}

std::vector<SlicIndirectWrite> VirtualAdapterDevice::SlicIndirectWrites()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slic.IndirectWrites();
}

void VirtualAdapterDevice::SetPhoneOffHook(bool offHook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slic.SetPhoneOffHook(offHook, NowLocked());
}

bool VirtualAdapterDevice::PhoneOffHook()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slic.PhoneOffHook(NowLocked());
}

bool VirtualAdapterDevice::DialFromPhone(const std::string& digits)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slic.DialFromPhone(digits, NowLocked());
}

VirtualAdapterDevice::PcmState VirtualAdapterDevice::Pcm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PcmState state;
    for (int path = 0; path < static_cast<int>(sizeof kPcmPaths); ++path)
        if (m_registers[kCtrlMode] == kPcmPaths[path])
            state.path = path;
    for (const auto& format : kPcmFormats)
        if (m_registers[kCtrlPcm] == format.controller && m_daa.Register(kDaaPcmMode) == format.daa &&
            m_slic.Register(kSlicPcmMode) == format.slic)
            state.law = format.law;
    return state;
}

} // namespace parvane
