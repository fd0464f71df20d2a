#include "vadapter/LineAudio.h"

#include "vadapter/Scenario.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdlib>
#include <numbers>
#include <random>
#include <sstream>

namespace parvane {

namespace {

constexpr double kFullScale = 32767.0;
constexpr double kHighestFrequency = LineAudio::kRate / 2.0;
constexpr uint32_t kLongestSegmentMs = 3600 * 1000;
// Recordings longer than this are refused rather than held in memory.
constexpr double kLongestRecordingSeconds = 600.0;

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// A whole text that is one non-negative decimal number.
bool ParseFrequency(const std::string& text, double& value)
{
    const std::string number = Trim(text);
    if (number.empty() || !(std::isdigit(static_cast<unsigned char>(number[0]))))
        return false;
    char* end = nullptr;
    value = std::strtod(number.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(value);
}

bool ParseDecibels(const std::string& text, double& value)
{
    const std::string number = Trim(text);
    if (number.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(number.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(value);
}

} // namespace

bool ParseToneList(const std::string& text, std::vector<ToneSegment>& segments, std::string& error)
{
    segments.clear();
    if (Trim(text).empty()) {
        error = "empty tone list; expected f1[+f2][/ms] items such as 480+620/500,0/500";
        return false;
    }
    std::vector<std::string> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');)
        items.push_back(item);
    if (text.back() == ',')
        items.push_back("");
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string item = Trim(items[i]);
        const std::string which = "item " + std::to_string(i + 1) + " \"" + item + "\"";
        if (item.empty()) {
            error = which + " is empty";
            return false;
        }
        ToneSegment segment;
        std::string frequencies = item;
        const auto slash = item.find('/');
        if (slash != std::string::npos) {
            frequencies = item.substr(0, slash);
            uint64_t duration = 0;
            if (!ParseScenarioNumber(item.substr(slash + 1), kLongestSegmentMs, duration) || duration == 0) {
                error = which + ": the duration must be 1 to 3600000 ms";
                return false;
            }
            segment.durationMs = static_cast<uint32_t>(duration);
        } else if (i + 1 < items.size()) {
            error = which + " has no duration; only the last item may last for ever";
            return false;
        }
        const auto plus = frequencies.find('+');
        const auto times = frequencies.find('*');
        if (plus != std::string::npos && times != std::string::npos) {
            error = which + ": expected f1+f2 or f1*fm, not both";
            return false;
        }
        const auto second = plus != std::string::npos ? plus : times;
        double secondValue = 0.0;
        if (!ParseFrequency(frequencies.substr(0, second), segment.frequency1) ||
            (second != std::string::npos && !ParseFrequency(frequencies.substr(second + 1), secondValue))) {
            error = which + ": expected f1[+f2] or f1*fm in Hz";
            return false;
        }
        if (times != std::string::npos) {
            if (segment.frequency1 == 0 || secondValue <= 0 || secondValue >= segment.frequency1) {
                error = which + ": f1*fm needs a modulation fm above 0 and below f1";
                return false;
            }
            segment.modulation = secondValue;
        } else {
            segment.frequency2 = secondValue;
        }
        if (segment.frequency1 >= kHighestFrequency || segment.frequency2 >= kHighestFrequency) {
            error = which + ": frequencies must lie below 24000 Hz";
            return false;
        }
        if (plus != std::string::npos && (segment.frequency1 == 0 || segment.frequency2 == 0)) {
            error = which + ": a silent item is written 0, not with a second frequency";
            return false;
        }
        segments.push_back(segment);
    }
    return true;
}

bool LoadRecording(const std::string& path, std::shared_ptr<const std::vector<float>>& recording,
                   std::string& error)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        error = "cannot read the recording " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.samplerate <= 0) {
        sf_close(file);
        error = "the recording " + path + " holds no audio";
        return false;
    }
    if (static_cast<double>(info.frames) / info.samplerate > kLongestRecordingSeconds) {
        sf_close(file);
        error = "the recording " + path + " is longer than 600 s";
        return false;
    }
    // Read in blocks, mixing as it goes: a damaged header can announce far
    // more frames (or channels) than the file holds, so nothing is sized
    // from it up front.
    constexpr sf_count_t kBlockFrames = 4096;
    std::vector<float> block(static_cast<size_t>(kBlockFrames) * info.channels);
    std::vector<float> mono;
    for (sf_count_t got; (got = sf_readf_float(file, block.data(), kBlockFrames)) > 0;) {
        for (sf_count_t i = 0; i < got; ++i) {
            float sum = 0;
            for (int c = 0; c < info.channels; ++c) {
                const float sample = block[static_cast<size_t>(i) * info.channels + c];
                sum += std::isfinite(sample) ? sample : 0.0f; // not a number: silence
            }
            mono.push_back(sum / info.channels);
        }
        if (static_cast<sf_count_t>(mono.size()) >= info.frames)
            break;
    }
    sf_close(file);
    if (mono.empty()) {
        error = "the recording " + path + " cannot be decoded";
        return false;
    }
    if (info.samplerate == static_cast<int>(LineAudio::kRate)) {
        recording = std::make_shared<const std::vector<float>>(std::move(mono));
        return true;
    }
    // Linear interpolation to the line's rate.
    const double step = static_cast<double>(info.samplerate) / LineAudio::kRate;
    const auto frames = static_cast<size_t>(std::max(1.0, std::floor((mono.size() - 1) / step) + 1));
    std::vector<float> resampled(frames);
    for (size_t i = 0; i < frames; ++i) {
        const double position = i * step;
        const auto index = static_cast<size_t>(position);
        const double fraction = position - index;
        const float next = index + 1 < mono.size() ? mono[index + 1] : mono[index];
        resampled[i] = static_cast<float>(mono[index] * (1 - fraction) + next * fraction);
    }
    recording = std::make_shared<const std::vector<float>>(std::move(resampled));
    return true;
}

LineAudio::LineAudio(const LineAudioSettings& settings, const std::string& presetTone)
    : m_delayFrames(static_cast<int64_t>(settings.answerDelayMs) * kRate / 1000),
      m_amplitude(kFullScale * std::pow(10.0, settings.levelDbfs / 20.0)),
      m_noiseRms(settings.noiseDbfs ? kFullScale * std::pow(10.0, *settings.noiseDbfs / 20.0) : 0.0),
      m_recording(settings.recording)
{
    if (!m_recording) {
        std::string error;
        const std::string& tone = settings.tone.empty() ? presetTone : settings.tone;
        if (!tone.empty() && !ParseToneList(tone, m_segments, error))
            m_segments.clear(); // refused when the scenario loaded; never here
    }
    int64_t end = 0;
    for (const ToneSegment& segment : m_segments) {
        end += static_cast<int64_t>(segment.durationMs) * kRate / 1000;
        m_segmentEnds.push_back(end);
    }
    m_lastForever = !m_segments.empty() && m_segments.back().durationMs == 0;
}

double LineAudio::ToneSample(int64_t position) const
{
    if (m_recording) {
        const auto length = static_cast<int64_t>(m_recording->size());
        return (*m_recording)[static_cast<size_t>(position % length)] * kFullScale;
    }
    if (m_segments.empty())
        return 0.0;
    // A list ending in an item without duration plays its other items once
    // and then holds that item; any other list repeats.
    const size_t count = m_segments.size();
    int64_t at = position;
    size_t searched = count;
    if (m_lastForever) {
        searched = count - 1;
    } else {
        at = position % m_segmentEnds.back();
    }
    const ToneSegment* segment = &m_segments.back();
    for (size_t i = 0; i < searched; ++i) {
        if (at < m_segmentEnds[i]) {
            segment = &m_segments[i];
            break;
        }
    }
    // The phase runs on across items, as one oscillator switched on and off.
    const double t = static_cast<double>(position) / kRate;
    double value = 0.0;
    if (segment->frequency1 > 0)
        value += std::sin(2 * std::numbers::pi * segment->frequency1 * t);
    if (segment->modulation > 0)
        value *= (1.0 + kModulationDepth * std::sin(2 * std::numbers::pi * segment->modulation * t)) /
                 (1.0 + kModulationDepth);
    if (segment->frequency2 > 0)
        value += std::sin(2 * std::numbers::pi * segment->frequency2 * t);
    return value * m_amplitude;
}

void LineAudio::Render(int16_t* interleaved, size_t frames, int64_t firstFrame) const
{
    thread_local std::minstd_rand random{std::random_device{}()};
    std::normal_distribution<double> noise(0.0, m_noiseRms > 0 ? m_noiseRms : 1.0);
    for (size_t i = 0; i < frames; ++i) {
        const int64_t position = firstFrame + static_cast<int64_t>(i);
        double value = 0.0;
        if (position >= 0) {
            if (position >= m_delayFrames)
                value = ToneSample(position - m_delayFrames);
            if (m_noiseRms > 0)
                value += noise(random);
        }
        const auto sample = static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
        interleaved[2 * i] = sample;
        interleaved[2 * i + 1] = sample;
    }
}

// ---- Playback log -----------------------------------------------------------

int PlaybackLog::Begin(uint32_t sampleRate, uint16_t channels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_records.size() >= 64)
        m_records.erase(m_records.begin());
    PlaybackRecord record;
    record.id = m_nextId++;
    record.sampleRate = sampleRate;
    record.channels = channels;
    m_records.push_back(std::move(record));
    return m_records.back().id;
}

PlaybackRecord* PlaybackLog::Find(int id)
{
    for (auto& record : m_records)
        if (record.id == id)
            return &record;
    return nullptr;
}

void PlaybackLog::Append(int id, const int16_t* interleaved, size_t frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (PlaybackRecord* record = Find(id))
        record->samples.insert(record->samples.end(), interleaved, interleaved + frames * record->channels);
}

void PlaybackLog::End(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (PlaybackRecord* record = Find(id))
        record->finished = true;
}

std::vector<PlaybackRecord> PlaybackLog::Records()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

void PlaybackLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
}

// ---- Scenario keys ----------------------------------------------------------

namespace {

bool ApplyAnswerDelay(const std::string& value, Scenario& scenario, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, kLongestSegmentMs, number)) {
        error = "expected milliseconds from 0 to 3600000";
        return false;
    }
    scenario.lineAudio.answerDelayMs = static_cast<uint32_t>(number);
    return true;
}

bool ApplyTone(const std::string& value, Scenario& scenario, std::string& error)
{
    if (!scenario.lineAudio.wavPath.empty()) {
        error = "tone and wav cannot both be given";
        return false;
    }
    std::vector<ToneSegment> segments;
    if (!ParseToneList(value, segments, error))
        return false;
    scenario.lineAudio.tone = value;
    return true;
}

bool ParseLevel(const std::string& value, double& level, std::string& error)
{
    if (!ParseDecibels(value, level) || level > 0 || level < -120) {
        error = "expected dBFS from -120 to 0";
        return false;
    }
    return true;
}

bool ApplyLevel(const std::string& value, Scenario& scenario, std::string& error)
{
    return ParseLevel(value, scenario.lineAudio.levelDbfs, error);
}

bool ApplyNoise(const std::string& value, Scenario& scenario, std::string& error)
{
    double level = 0;
    if (!ParseLevel(value, level, error))
        return false;
    scenario.lineAudio.noiseDbfs = level;
    return true;
}

bool ApplyWav(const std::string& value, Scenario& scenario, std::string& error)
{
    if (!scenario.lineAudio.tone.empty()) {
        error = "tone and wav cannot both be given";
        return false;
    }
    if (value.empty()) {
        error = "expected the path of a recording";
        return false;
    }
    const std::string path = value.front() == '/' ? value : scenario.directory + value;
    if (!LoadRecording(path, scenario.lineAudio.recording, error))
        return false;
    scenario.lineAudio.wavPath = path;
    return true;
}

const ScenarioKeys g_lineAudioKeys = {
    {"call", "answer_delay", ApplyAnswerDelay},
    {"call", "tone", ApplyTone},
    {"call", "level", ApplyLevel},
    {"call", "noise", ApplyNoise},
    {"call", "wav", ApplyWav},
};

} // namespace

} // namespace parvane
