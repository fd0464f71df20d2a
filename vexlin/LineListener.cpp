#include "vexlin/LineListener.h"

#include "platform/AudioDevices.h"

namespace parvane::vexlin {

LineListener::~LineListener()
{
    Stop();
}

bool LineListener::Start(const std::string& deviceName, const BusyToneRequest& request, std::string* why)
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    CloseDevice();
    m_deviceName.clear();
    std::string problem = BusyToneDetector::CheckRequest(request);
    if (problem.empty() && deviceName.empty())
        problem = "no device name";
    int deviceId = -1;
    if (problem.empty()) {
        const std::vector<std::string> names = AudioInputDeviceNames();
        deviceId = FindDeviceByNameIn(names, deviceName);
        if (deviceId == -2)
            problem = "there is no audio input device";
        else if (deviceId < 0)
            problem = "no audio input device name contains \"" + deviceName + "\"";
        else
            m_deviceName = names[static_cast<size_t>(deviceId)];
    }
    {
        std::lock_guard<std::mutex> lock(m_detectorMutex);
        m_detector.Start(request, BusyToneDetector::kSampleRate);
    }
    if (problem.empty() && OpenDevice(deviceId, &problem))
        return true;
    {
        // A refused start leaves nothing found, and a detector that ignores
        // whatever might still arrive.
        std::lock_guard<std::mutex> lock(m_detectorMutex);
        m_detector = BusyToneDetector();
    }
    if (why)
        *why = problem;
    return false;
}

bool LineListener::OpenDevice(int deviceId, std::string* why)
{
    // Stereo as the adapter delivers it; a mono input is taken as it is.
    WaveResult result = WaveResult::BadFormat;
    for (uint16_t channels : {2, 1}) {
        AudioFormat format;
        format.sampleRate = BusyToneDetector::kSampleRate;
        format.channels = channels;
        m_channels = channels;
        result = m_waveIn.Open(deviceId, format, &LineListener::OnWaveIn, this);
        if (result == WaveResult::Ok)
            break;
    }
    if (result != WaveResult::Ok) {
        *why = "cannot open \"" + m_deviceName + "\": " + WaveResultText(result) +
               (m_waveIn.LastError().empty() ? "" : " (" + m_waveIn.LastError() + ")");
        return false;
    }
    m_closing = false;
    m_droppedFrames = m_waveIn.DroppedFrames();
    const uint32_t bytes = kBufferFrames * m_channels * 2;
    m_memory.assign(kBuffers, std::vector<uint8_t>(bytes));
    m_buffers.assign(kBuffers, WaveBuffer{});
    for (int i = 0; i < kBuffers; ++i) {
        WaveBuffer& buffer = m_buffers[i];
        buffer.data = m_memory[i].data();
        buffer.bufferLength = bytes;
        m_waveIn.Prepare(&buffer);
        m_waveIn.AddBuffer(&buffer);
    }
    result = m_waveIn.Start();
    if (result != WaveResult::Ok) {
        *why = "cannot start \"" + m_deviceName + "\": " + WaveResultText(result) +
               (m_waveIn.LastError().empty() ? "" : " (" + m_waveIn.LastError() + ")");
        CloseDevice();
        return false;
    }
    return true;
}

void LineListener::OnWaveIn(WaveIn* device, WaveInMessage message, void* instance, WaveBuffer* buffer)
{
    auto* self = static_cast<LineListener*>(instance);
    if (message != WaveInMessage::Data || buffer == nullptr)
        return;
    const size_t frames = buffer->bytesRecorded / (2u * self->m_channels);
    // Frames the capture had to drop (it fell seconds behind) leave a hole
    // the cadence must not be measured across. The hole lies close to the
    // audio handed over now; the segment under way is given up.
    const uint64_t dropped = device->DroppedFrames();
    const uint64_t lost = dropped - self->m_droppedFrames;
    self->m_droppedFrames = dropped;
    if (frames > 0) {
        std::lock_guard<std::mutex> lock(self->m_detectorMutex);
        if (lost > 0)
            self->m_detector.Discontinuity(static_cast<size_t>(lost));
        self->m_detector.ProcessChannel(reinterpret_cast<const int16_t*>(buffer->data), frames, self->m_channels, 0);
    }
    if (!self->m_closing)
        device->AddBuffer(buffer);
}

void LineListener::CloseDevice()
{
    if (!m_waveIn.IsOpen())
        return;
    m_closing = true;
    m_waveIn.Reset();
    for (WaveBuffer& buffer : m_buffers)
        m_waveIn.Unprepare(&buffer);
    m_waveIn.Close();
    m_buffers.clear();
    m_memory.clear();
}

void LineListener::Stop()
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    CloseDevice();
}

bool LineListener::Listening() const
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    return m_waveIn.IsOpen();
}

int LineListener::Count() const
{
    std::lock_guard<std::mutex> lock(m_detectorMutex);
    return m_detector.Count();
}

bool LineListener::Found() const
{
    std::lock_guard<std::mutex> lock(m_detectorMutex);
    return m_detector.Found();
}

int LineListener::PerhapsPeriod() const
{
    std::lock_guard<std::mutex> lock(m_detectorMutex);
    return m_detector.PerhapsPeriod();
}

int64_t LineListener::HeardMs() const
{
    std::lock_guard<std::mutex> lock(m_detectorMutex);
    return m_detector.ElapsedMs();
}

std::string LineListener::DeviceName() const
{
    std::lock_guard<std::mutex> control(m_controlMutex);
    return m_deviceName;
}

} // namespace parvane::vexlin
