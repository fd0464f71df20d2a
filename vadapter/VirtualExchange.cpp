#include "vadapter/VirtualExchange.h"

#include "vadapter/Scenario.h"

#include <algorithm>
#include <cstring>

namespace parvane {

namespace {

bool ApplyTone(const std::string& value, std::string& tone, std::string& error)
{
    std::vector<ToneSegment> segments;
    if (!ParseToneList(value, segments, error))
        return false;
    tone = value;
    return true;
}

bool ApplyDialTone(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyTone(value, scenario.exchange.dialTone, error);
}

bool ApplyRingbackTone(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyTone(value, scenario.exchange.ringbackTone, error);
}

bool ApplyCongestionTone(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyTone(value, scenario.exchange.congestionTone, error);
}

bool ApplyNumber(const std::string& value, std::string& number, std::string& error)
{
    if (value.empty() || value.size() > 20 || value.find_first_not_of("0123456789*#ABCD") != std::string::npos) {
        error = "expected 1 to 20 DTMF digits (0-9, *, #, A-D)";
        return false;
    }
    number = value;
    return true;
}

bool ApplyOwnNumber(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyNumber(value, scenario.exchange.ownNumber, error);
}

bool ApplyRingNumber(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyNumber(value, scenario.exchange.ringNumber, error);
}

bool ApplyTimeout(const std::string& value, uint32_t& ms, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, 600000, number) || number < 500) {
        error = "expected milliseconds from 500 to 600000";
        return false;
    }
    ms = static_cast<uint32_t>(number);
    return true;
}

bool ApplyDialTimeout(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyTimeout(value, scenario.exchange.dialTimeoutMs, error);
}

bool ApplyDigitTimeout(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyTimeout(value, scenario.exchange.digitTimeoutMs, error);
}

const ScenarioKeys g_exchangeKeys = {
    {"exchange", "dial_tone", ApplyDialTone},
    {"exchange", "ringback_tone", ApplyRingbackTone},
    {"exchange", "congestion_tone", ApplyCongestionTone},
    {"exchange", "own_number", ApplyOwnNumber},
    {"exchange", "ring_number", ApplyRingNumber},
    {"exchange", "dial_timeout", ApplyDialTimeout},
    {"exchange", "digit_timeout", ApplyDigitTimeout},
};

constexpr int64_t kFramesPerMs = LineAudio::kRate / 1000;

// A tone of the exchange: the scenario's level and noise, from its start.
std::shared_ptr<const LineAudio> ExchangeTone(const LineAudioSettings& line, const std::string& tone)
{
    LineAudioSettings settings;
    settings.answerDelayMs = 0;
    settings.levelDbfs = line.levelDbfs;
    settings.noiseDbfs = line.noiseDbfs;
    settings.tone = tone;
    return std::make_shared<const LineAudio>(settings, "");
}

} // namespace

void VirtualExchange::Configure(const Scenario& scenario)
{
    m_settings = scenario.exchange;
    m_dial = ExchangeTone(scenario.lineAudio, m_settings.dialTone);
    m_quiet = ExchangeTone(scenario.lineAudio, "");
    m_ringback = ExchangeTone(scenario.lineAudio, m_settings.ringbackTone);
    m_congestion = ExchangeTone(scenario.lineAudio, m_settings.congestionTone);
    // The own number is busy with the line's busy tone (or recording), as
    // a call coming in hears it, without the delay of an answer.
    LineAudioSettings busy = scenario.lineAudio;
    busy.answerDelayMs = 0;
    m_busy = std::make_shared<const LineAudio>(busy, scenario.presetBusyTone);
    m_streams.clear();
    m_offHook = false;
    m_outgoing = false;
    m_digits.clear();
    m_answer = Answer::None;
}

void VirtualExchange::OffHook(uint64_t now, bool outgoing)
{
    m_offHook = true;
    m_outgoing = outgoing;
    m_offHookAt = now;
    m_digits.clear();
    m_firstDigitAt = m_lastDigitAt = 0;
    m_answer = Answer::None;
    m_answerAt = 0;
}

void VirtualExchange::OnHook()
{
    m_offHook = false;
}

void VirtualExchange::BeginPlayback(int playback, uint32_t sampleRate, uint16_t channels)
{
    Stream& stream = m_streams[playback];
    stream.sampleRate = sampleRate;
    stream.channels = std::max<uint16_t>(1, channels);
    stream.started = false;
    stream.decoder = sampleRate > 0 ? std::make_unique<DtmfDecoder>(sampleRate) : nullptr;
}

void VirtualExchange::EndPlayback(int playback)
{
    m_streams.erase(playback);
}

void VirtualExchange::Hear(int playback, const int16_t* interleaved, size_t frames, uint64_t now)
{
    const auto found = m_streams.find(playback);
    if (found == m_streams.end() || !found->second.decoder || frames == 0)
        return;
    Stream& stream = found->second;
    if (!stream.started) {
        stream.started = true;
        stream.startMs = now;
    }
    thread_local std::vector<int16_t> mono;
    mono.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        int sum = 0;
        for (uint16_t c = 0; c < stream.channels; ++c)
            sum += interleaved[i * stream.channels + c];
        mono[i] = static_cast<int16_t>(sum / stream.channels);
    }
    stream.decoder->Process(mono.data(), frames, [&](char digit, uint64_t sample) {
        TakeDigit(digit, stream.startMs + sample * 1000 / stream.sampleRate);
    });
}

void VirtualExchange::TakeDigit(char digit, uint64_t atMs)
{
    // Only the program's own call, while the exchange still waits for its
    // number, takes digits.
    if (!m_offHook || !m_outgoing || m_answer != Answer::None || atMs < m_offHookAt)
        return;
    Advance(atMs);
    if (m_answer != Answer::None)
        return;
    if (m_digits.empty())
        m_firstDigitAt = atMs;
    m_digits += digit;
    m_lastDigitAt = atMs;
}

void VirtualExchange::Route(uint64_t atMs, Answer answer)
{
    m_answer = answer;
    m_answerAt = atMs;
}

void VirtualExchange::Advance(uint64_t now)
{
    if (!m_offHook || !m_outgoing || m_answer != Answer::None)
        return;
    if (m_digits.empty()) {
        if (now >= m_offHookAt + m_settings.dialTimeoutMs)
            Route(m_offHookAt + m_settings.dialTimeoutMs, Answer::Congestion);
        return;
    }
    const uint64_t complete = m_lastDigitAt + m_settings.digitTimeoutMs;
    if (now < complete)
        return;
    if (m_digits == m_settings.ownNumber)
        Route(complete, Answer::Busy);
    else if (m_digits == m_settings.ringNumber)
        Route(complete, Answer::Ringback);
    else
        Route(complete, Answer::Congestion);
}

VirtualExchange::Timeline VirtualExchange::Snapshot(uint64_t now)
{
    Advance(now);
    Timeline timeline;
    if (!m_offHook || !m_outgoing)
        return timeline;
    timeline.outgoing = true;
    timeline.dial = m_dial;
    timeline.quiet = m_quiet;
    if (!m_digits.empty())
        timeline.dialEndsFrame = static_cast<int64_t>(m_firstDigitAt - m_offHookAt) * kFramesPerMs;
    if (m_answer != Answer::None) {
        timeline.answerFromFrame = static_cast<int64_t>(m_answerAt - m_offHookAt) * kFramesPerMs;
        timeline.dialEndsFrame = std::min(timeline.dialEndsFrame, timeline.answerFromFrame);
        timeline.answer = m_answer == Answer::Busy       ? m_busy
                          : m_answer == Answer::Ringback ? m_ringback
                                                         : m_congestion;
    }
    return timeline;
}

void VirtualExchange::Render(const Timeline& timeline, int16_t* interleaved, size_t frames, int64_t firstFrame)
{
    // The chunk in runs, each from one source: the dial tone, the silence
    // of dialling, the answer (which starts from its own beginning).
    size_t done = 0;
    while (done < frames) {
        const int64_t position = firstFrame + static_cast<int64_t>(done);
        int64_t runEnd = INT64_MAX;
        const LineAudio* source = nullptr;
        int64_t sourceFrame = position;
        if (position < timeline.dialEndsFrame) {
            source = timeline.dial.get();
            runEnd = timeline.dialEndsFrame;
        } else if (position < timeline.answerFromFrame) {
            source = timeline.quiet.get();
            runEnd = timeline.answerFromFrame;
        } else {
            source = timeline.answer.get();
            sourceFrame = position - timeline.answerFromFrame;
        }
        const auto left = static_cast<int64_t>(frames - done);
        const size_t run = static_cast<size_t>(runEnd == INT64_MAX ? left : std::min(left, runEnd - position));
        if (source)
            source->Render(interleaved + 2 * done, run, sourceFrame);
        else
            std::fill(interleaved + 2 * done, interleaved + 2 * (done + run), int16_t{0});
        done += run;
    }
}

} // namespace parvane
