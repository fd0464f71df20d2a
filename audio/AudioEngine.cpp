#include "audio/AudioEngine.h"

#include "audio/AudioGlobals.h"

#include <atomic>
#include <cstring>

namespace {

std::atomic<uint64_t> g_nextSerial{1};
CAudioEngine* g_pCurrentEngine = nullptr;
std::atomic<uint64_t> g_currentSerial{0};

} // namespace

CAudioEngine* CurrentAudioEngine()
{
    return g_pCurrentEngine;
}

void SetCurrentAudioEngine(CAudioEngine* engine)
{
    g_pCurrentEngine = engine;
    g_currentSerial = engine ? engine->Serial() : 0;
}

uint64_t CurrentAudioEngineSerial()
{
    return g_currentSerial.load();
}

CAudioEngine::CAudioEngine(AudioBlockReceiver* notify) : m_pNotify(notify), m_serial(g_nextSerial++)
{
    m_timer.Init();
    m_pRecorder = std::make_unique<CRecordIn>(this);
    for (auto& buffer : m_pInputBuffer) {
        buffer = std::make_unique<uint8_t[]>(kInputBufferBytes);
        std::memset(buffer.get(), 0, kInputBufferBytes);
    }
    SetInputFormat(0);
    SetState(kStartInput);
}

CAudioEngine::~CAudioEngine()
{
    // The recorder stops in its destructor, before the buffers go.
    m_pRecorder.reset();
    if (g_pCurrentEngine == this)
        SetCurrentAudioEngine(nullptr);
}

bool CAudioEngine::SetInputFormat(int rateIndex)
{
    const uint32_t rate = RateOfIndex(rateIndex);
    if (rate == 0)
        return false;
    m_inputFormat.sampleRate = rate;
    m_inputFormat.channels = 2;
    m_inputFormat.bitsPerSample = 16;
    return true;
}

int CAudioEngine::SetState(uint32_t command)
{
    switch (command) {
    case kStartInput:
        m_dwState = (m_dwState & kStopInput) | 0x10000;
        return m_pRecorder->Start();
    case kStopInput:
        m_dwState &= kStopInput;
        return m_pRecorder->Stop();
    case kStopAll:
        m_dwState = 0;
        return m_pRecorder->Stop();
    default:
        return 0;
    }
}

void CAudioEngine::OnCaptured(int index)
{
    if (m_pNotify != nullptr && index >= 0 && index < 3)
        m_pNotify->PostAudioInBlock(m_serial, reinterpret_cast<const int16_t*>(m_pInputBuffer[index].get()),
                                    m_pRecorder->BlockBytes());
}
