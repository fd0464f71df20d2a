// The virtual adapter's USB audio interface: its device name, the line audio
// and the playback log.
#include "vadapter/VirtualAdapterDevice.h"

namespace parvane {

namespace {

bool ApplyAudioName(const std::string& value, Scenario& scenario, std::string& error)
{
    if (value.empty() || value.size() > 64) {
        error = "expected a name of 1 to 64 bytes";
        return false;
    }
    scenario.audioName = value;
    return true;
}

const ScenarioKeys g_audioKeys = {
    {"adapter", "audio_name", ApplyAudioName},
};

} // namespace

std::string VirtualAdapterDevice::AudioDeviceName()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_scenario.audioName.empty() ? m_scenario.model + " USB Audio (virtual)" : m_scenario.audioName;
}

void VirtualAdapterDevice::RenderLineAudio(int16_t* interleaved, size_t frames, int64_t firstFrame)
{
    std::shared_ptr<const LineAudio> audio;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        audio = m_lineAudio;
    }
    // Rendering runs outside the lock: the line audio never changes once built.
    if (audio)
        audio->Render(interleaved, frames, firstFrame);
    else
        std::fill(interleaved, interleaved + 2 * frames, int16_t{0});
}

int VirtualAdapterDevice::BeginPlayback(uint32_t sampleRate, uint16_t channels)
{
    return m_playbacks.Begin(sampleRate, channels);
}

void VirtualAdapterDevice::PlayAudio(int playback, const int16_t* interleaved, size_t frames)
{
    m_playbacks.Append(playback, interleaved, frames);
}

void VirtualAdapterDevice::EndPlayback(int playback)
{
    m_playbacks.End(playback);
}

std::vector<PlaybackRecord> VirtualAdapterDevice::Playbacks()
{
    return m_playbacks.Records();
}

} // namespace parvane
