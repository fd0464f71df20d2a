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
    VirtualExchange::Timeline call;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        audio = m_lineAudio;
        call = m_exchange.Snapshot(NowLocked());
    }
    // Rendering runs outside the lock: the line audio never changes once
    // built, and the call's timeline is a copy.
    if (call.outgoing)
        VirtualExchange::Render(call, interleaved, frames, firstFrame);
    else if (audio)
        audio->Render(interleaved, frames, firstFrame);
    else
        std::fill(interleaved, interleaved + 2 * frames, int16_t{0});
}

int VirtualAdapterDevice::BeginPlayback(uint32_t sampleRate, uint16_t channels)
{
    const int playback = m_playbacks.Begin(sampleRate, channels);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exchange.BeginPlayback(playback, sampleRate, channels);
    return playback;
}

void VirtualAdapterDevice::PlayAudio(int playback, const int16_t* interleaved, size_t frames)
{
    m_playbacks.Append(playback, interleaved, frames);
    // The exchange hears what the output plays (its DTMF receiver is a few
    // filters per sample: no wait under the lock).
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exchange.Hear(playback, interleaved, frames, NowLocked());
}

void VirtualAdapterDevice::EndPlayback(int playback)
{
    m_playbacks.End(playback);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exchange.EndPlayback(playback);
}

std::vector<PlaybackRecord> VirtualAdapterDevice::Playbacks()
{
    return m_playbacks.Records();
}

} // namespace parvane
