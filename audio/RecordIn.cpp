#include "audio/RecordIn.h"

#include "audio/AudioEngine.h"
#include "audio/AudioGlobals.h"
#include "audio/AudioMessages.h"
#include "i18n/AudioDeviceName.h"
#include "platform/AudioDevices.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

using namespace parvane;

namespace {

void FailToOpen(std::string why)
{
    AudioMessage message{"Fail to open device"};
    message.captureFailure = std::move(why);
    ShowAudioMessage(message);
}

// The input devices there are, for a failure that found none by the name.
std::string InputDeviceList(const std::vector<std::string>& names)
{
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + ("\"" + name + "\"");
    return list.empty() ? "none" : list;
}

void StopFailed()
{
    ShowAudioMessage(AudioMessage{"Stop recording failed\xEF\xBC\x81", AudioMessageIcon::Warning});
}

} // namespace

CRecordIn::CRecordIn(CAudioEngine* owner) : m_pOwner(owner) {}

CRecordIn::~CRecordIn()
{
    Stop();
    if (m_hWaveIn.IsOpen()) {
        // Start failed after opening: the buffers are still queued.
        m_hWaveIn.Reset();
        m_hWaveIn.Close();
    }
}

int CRecordIn::FindDeviceByName(const std::string& name)
{
    return FindDeviceByNameIn(AudioInputDeviceNames(), name);
}

bool CRecordIn::Open()
{
    m_format = m_pOwner->InputFormat();
    const std::string deviceName = GetAudioDeviceName();
    const std::vector<std::string> names = AudioInputDeviceNames();
    const int device = FindDeviceByNameIn(names, deviceName);
    if (device < 0) {
        DebugPrint("CRecordIn::Open: no audio input device contains \"%s\" (%d)", deviceName.c_str(), device);
        m_openFailure = "no audio input device carries the model name \"" + deviceName +
                        "\" (input devices: " + InputDeviceList(names) + ")";
        return false;
    }
    const WaveResult result = m_hWaveIn.Open(device, m_format, &CRecordIn::WaveInProc, this);
    if (result != WaveResult::Ok) {
        DebugPrint("CRecordIn::Open: %s %s", WaveResultText(result), m_hWaveIn.LastError().c_str());
        const std::string opened =
            device < static_cast<int>(names.size()) ? names[static_cast<size_t>(device)] : deviceName;
        m_openFailure = "the audio input device \"" + opened + "\" cannot be opened: " + WaveResultText(result) +
                        (m_hWaveIn.LastError().empty() ? "" : " (" + m_hWaveIn.LastError() + ")");
        return false;
    }
    return true;
}

int CRecordIn::Start()
{
    if (m_bRecording.load())
        return 0;
    if (m_hWaveIn.IsOpen()) {
        // Left open by a start that failed: close it before opening anew.
        m_hWaveIn.Reset();
        m_hWaveIn.Close();
    }
    // Every choice is at most the buffer size; anything else would overrun it.
    m_nBlockBytes = CaptureBlockBytes;
    if (m_nBlockBytes <= 0 || m_nBlockBytes > kInputBufferBytes || m_nBlockBytes % 4 != 0) {
        DebugPrint("CRecordIn::Start: block length %d is not usable", m_nBlockBytes);
        FailToOpen("a capture block of " + std::to_string(m_nBlockBytes) + " bytes is not usable");
        return 0;
    }
    if (!Open()) {
        FailToOpen(m_openFailure);
        return 0;
    }
    for (int i = 0; i < 3; ++i) {
        m_headers[i] = WaveBuffer{};
        m_headers[i].data = m_pOwner->InputBuffer(i);
        m_headers[i].bufferLength = static_cast<uint32_t>(m_nBlockBytes);
        m_headers[i].user = static_cast<uintptr_t>(i);
        m_headers[i].flags = kWaveBufferDone;
        m_headers[i].loops = 1;
        m_hWaveIn.Prepare(&m_headers[i]);
        m_hWaveIn.AddBuffer(&m_headers[i]);
    }
    m_bRecording = 1;
    if (m_hWaveIn.Start() != WaveResult::Ok) {
        DebugPrint("CRecordIn::Start: %s", m_hWaveIn.LastError().c_str());
        FailToOpen("the audio input device did not start: " + m_hWaveIn.LastError());
        return 0;
    }
    return 1;
}

int CRecordIn::Stop()
{
    if (!m_bRecording.load())
        return 0;
    m_bRecording = 0;
    SleepMs(20); // lets a callback already under way finish
    if (m_hWaveIn.Stop() != WaveResult::Ok) {
        StopFailed();
        return 0;
    }
    SleepMs(100);
    if (m_hWaveIn.Reset() != WaveResult::Ok)
        StopFailed();
    m_hWaveIn.Close();
    return 1;
}

void CRecordIn::WaveInProc(WaveIn*, WaveInMessage message, void* instance, WaveBuffer* buffer)
{
    auto* self = static_cast<CRecordIn*>(instance);
    if (message == WaveInMessage::Data)
        self->OnData(buffer);
    else if (message == WaveInMessage::Close)
        self->OnClose();
}

void CRecordIn::OnData(WaveBuffer* buffer)
{
    if (!m_bRecording.load())
        return; // late: capture is being stopped
    if (buffer->bytesRecorded != static_cast<uint32_t>(m_nBlockBytes))
        return; // partly filled (handed back by a stop or reset): dropped, not queued again
    const int index = static_cast<int>(buffer->user);
    m_nLastIndex = index;
    m_pOwner->OnCaptured(index);
    m_hWaveIn.AddBuffer(buffer);
}

void CRecordIn::OnClose()
{
    for (WaveBuffer& header : m_headers) {
        m_hWaveIn.Unprepare(&header);
        header.data = nullptr;
    }
}
