#include "display/WaveBox.h"

#include "audio/AudioMessages.h"
#include "platform/AudioDevices.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

#include <atomic>
#include <mutex>
#include <cstdio>
#include <random>

using namespace parvane;

namespace {

std::atomic<uint32_t> g_nextFileDeviceId{1};

// A random (version 4) UUID in its usual text form.
std::string NewUuid()
{
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    uint64_t high, low;
    {
        std::lock_guard<std::mutex> lock(mutex);
        high = random();
        low = random();
    }
    high = (high & ~0xF000ull) | 0x4000ull;                  // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull; // variant 1
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                  static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

} // namespace

CWaveBox::CWaveBox() = default;

CWaveBox::~CWaveBox()
{
    // Nothing else to release; a play left running would otherwise call a
    // notify target that may be gone.
    if (m_pPlayer) {
        m_pNotify = nullptr;
        m_pPlayer->Close();
    }
}

std::string CWaveBox::ErrorText(int code)
{
    const char* text = WavePlayErrorText(code);
    return (text != nullptr && text[0] != '\0') ? text : "Unknown Error";
}

void CWaveBox::ShowError(int code)
{
    ShowAudioMessage(AudioMessage{ErrorText(code), AudioMessageIcon::None, AudioMessageCaption::Application});
}

int CWaveBox::SetAudioOut(const std::string& name)
{
    m_strDeviceName = name;
    const int device = FindDeviceByNameIn(AudioOutputDeviceNames(), m_strDeviceName);
    if (device < 0)
        return -1;
    DebugOutput("SetAudioOut:find audio device");
    m_nOutputDevice = device;
    return device;
}

int CWaveBox::PlayWave(const char* path)
{
    if (path == nullptr)
        return -1;
    char alias[128];
    std::snprintf(alias, sizeof alias, "Audio_%ld_%s", static_cast<long>(GetTickCount32()), NewUuid().c_str());
    m_strAlias = alias;
    DebugOutput("PlayWave:1");
    DebugOutput(m_strAlias);

    auto player = std::make_unique<WavePlayer>();
    int result = player->Open(path);
    if (result != kWavePlayOk) {
        DebugPrint("PlayWave: %s", player->LastErrorDetail().c_str());
        ShowError(result);
        return -1;
    }

    DebugOutput("PlayWave:2");
    m_nFileDeviceId = g_nextFileDeviceId++;
    m_pPlayer = std::move(player);
    // The output device must still be there to be selected.
    if (m_nOutputDevice < 0 || m_nOutputDevice >= static_cast<int>(AudioOutputDeviceNames().size())) {
        ShowError(kWavePlayBadDevice);
        m_pPlayer->Close();
        m_pPlayer.reset();
        m_nFileDeviceId = 0;
        return -1;
    }

    DebugOutput("PlayWave:3");
    if (m_pNotify != nullptr) {
        DebugOutput("********PlayWave:mciSendCommand:m_hParent != NULL *********\n");
        DebugOutput("********PlayWave:mciSendCommand:command = MCI_PLAY,flag = MCI_NOTIFY *********\n");
        WaveBoxNotify* notify = m_pNotify;
        const uint32_t id = m_nFileDeviceId;
        result = m_pPlayer->Play(m_nOutputDevice, [notify, id](WavePlayer::End end) {
            const int flag = end == WavePlayer::End::Completed ? kWaveNotifySuccessful
                             : end == WavePlayer::End::Stopped ? kWaveNotifyAborted
                                                               : kWaveNotifyFailure;
            notify->OnWaveNotify(flag, id);
        });
    } else {
        DebugOutput("********PlayWave:mciSendCommand:m_hParent = NULL *********\n");
        DebugOutput("********PlayWave:mciSendCommand:command = MCI_PLAY,flag = MCI_WAIT *********\n");
        result = m_pPlayer->PlaySync(m_nOutputDevice);
        const int closed = m_pPlayer->Close();
        DebugPrint("Close wave device return %ld", static_cast<long>(closed));
        m_pPlayer.reset();
        m_nFileDeviceId = 0;
        if (result == kWavePlayOk)
            result = closed;
    }
    if (result == kWavePlayOk) {
        DebugOutput("PlayWave return");
        return 0;
    }
    if (m_pPlayer)
        DebugPrint("PlayWave: %s", m_pPlayer->LastErrorDetail().c_str());
    ShowError(result);
    return -1;
}

int CWaveBox::Close()
{
    if (m_nFileDeviceId == 0)
        return 0;
    const int result = m_pPlayer ? m_pPlayer->Close() : kWavePlayOk;
    if (result == kWavePlayOk) {
        m_nFileDeviceId = 0;
        m_pPlayer.reset();
    } else {
        ShowError(result);
    }
    return result;
}
