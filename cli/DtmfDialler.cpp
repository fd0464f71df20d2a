#include "cli/DtmfDialler.h"

#include "i18n/AudioDeviceName.h"
#include "platform/AudioDevices.h"
#include "platform/DebugPrint.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace parvane::cli {

namespace {

constexpr uint32_t kRate = 48000;
constexpr double kFullScaleDbm0 = 3.14;

bool DigitTones(char digit, double& low, double& high)
{
    static const std::string keys = "123A456B789C*0#D";
    static constexpr double kLow[4] = {697, 770, 852, 941};
    static constexpr double kHigh[4] = {1209, 1336, 1477, 1633};
    const size_t key = keys.find(digit);
    if (key == std::string::npos)
        return false;
    low = kLow[key / 4];
    high = kHigh[key % 4];
    return true;
}

} // namespace

std::vector<int16_t> DtmfSamples(const std::string& digits, const DtmfTiming& timing, uint32_t rate)
{
    const double amplitude = 32767.0 * std::pow(10.0, (timing.levelDbm0 - kFullScaleDbm0) / 20.0);
    const size_t on = static_cast<size_t>(rate) * static_cast<size_t>(timing.onMs) / 1000;
    const size_t off = static_cast<size_t>(rate) * static_cast<size_t>(timing.offMs) / 1000;
    std::vector<int16_t> samples;
    samples.reserve(digits.size() * (on + off));
    for (char digit : digits) {
        double low = 0;
        double high = 0;
        if (!DigitTones(digit, low, high))
            continue;
        for (size_t i = 0; i < on; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double value = amplitude * (std::sin(2 * std::numbers::pi * low * t) +
                                              std::sin(2 * std::numbers::pi * high * t));
            samples.push_back(static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)));
        }
        samples.insert(samples.end(), off, 0);
    }
    return samples;
}

DtmfDialler::~DtmfDialler()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool DtmfDialler::Start(const std::string& digits, const DtmfTiming& timing)
{
    if (m_thread.joinable()) {
        if (!m_done.load())
            return false;
        m_thread.join();
    }
    m_done = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failure.clear();
    }
    m_thread = std::thread([this, digits, timing] { Play(digits, timing); });
    return true;
}

std::string DtmfDialler::Failure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}

void DtmfDialler::Play(std::string digits, DtmfTiming timing)
{
    std::string failure;
    const std::string name = GetAudioDeviceName();
    const int device = FindDeviceByNameIn(AudioOutputDeviceNames(), name);
    if (device < 0) {
        failure = "no audio output named after the adapter (\"" + name + "\") to dial through";
    } else {
        AudioFormat format;
        format.sampleRate = kRate;
        format.channels = 2;
        std::string error;
        std::unique_ptr<PlaybackStream> stream = OpenPlaybackDevice(device, format, &error);
        if (!stream) {
            failure = "the adapter's audio output cannot be opened to dial: " + error;
        } else {
            DebugPrint("Dialling %s with DTMF, %d ms on, %d ms off, %d dBm0", digits.c_str(), timing.onMs,
                       timing.offMs, timing.levelDbm0);
            const std::vector<int16_t> mono = DtmfSamples(digits, timing, kRate);
            // In pieces of 20 ms, each written as it plays.
            constexpr size_t kPiece = kRate / 50;
            std::vector<int16_t> stereo(kPiece * 2);
            for (size_t at = 0; at < mono.size() && failure.empty(); at += kPiece) {
                const size_t frames = std::min(kPiece, mono.size() - at);
                for (size_t i = 0; i < frames; ++i)
                    stereo[2 * i] = stereo[2 * i + 1] = mono[at + i];
                if (!stream->Write(stereo.data(), frames, &error))
                    failure = "the adapter's audio output failed while dialling: " + error;
            }
            if (failure.empty())
                stream->Drain();
        }
    }
    if (!failure.empty())
        DebugPrint("%s", failure.c_str());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failure = failure;
    }
    m_done = true;
}

} // namespace parvane::cli
