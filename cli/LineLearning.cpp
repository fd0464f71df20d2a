#include "cli/LineLearning.h"

#include "app/RunControl.h"
#include "audio/AnalysisOutput.h"
#include "cli/ToneRefinement.h"
#include "platform/Tick.h"
#include "vexlin/CadenceTracker.h"

#include <algorithm>
#include <cmath>

namespace parvane::cli {

namespace {

std::string SecondsLeft(uint32_t endsAt, uint32_t now)
{
    const int32_t left = static_cast<int32_t>(endsAt - now);
    return std::to_string(left > 0 ? (left + 999) / 1000 : 0) + " s left";
}

// Bursts of one frequency further apart than this from one turn to the
// next, each turn's bursts within kBurstSpreadHz of each other, take turns.
constexpr double kBurstsApartHz = 3.0;
constexpr double kBurstSpreadHz = 2.0;
constexpr size_t kFewestBursts = 4;

// A cadence of one pair whose bursts take turns between two frequencies
// (425 Hz, then 420 Hz): the cadence becomes the two pairs, each with its
// burst's frequency, the first burst heard the first pair's. The tone's
// frequency stays the mean, which the detector was asked for and heard in
// both.
void SplitAlternatingBursts(const std::vector<int16_t>& mono, ToneProfile& profile)
{
    if (profile.frequencies.size() != 1 || profile.modulationHz != 0 || profile.cadence.size() != 1)
        return;
    const std::vector<double> bursts = ToneRefinement::BurstFrequencies(mono, 48000, profile.frequencies[0]);
    if (bursts.size() < kFewestBursts)
        return;
    double lowest[2] = {1e9, 1e9}, highest[2] = {0, 0}, sum[2] = {0, 0};
    size_t count[2] = {0, 0};
    for (size_t i = 0; i < bursts.size(); ++i) {
        lowest[i % 2] = std::min(lowest[i % 2], bursts[i]);
        highest[i % 2] = std::max(highest[i % 2], bursts[i]);
        sum[i % 2] += bursts[i];
        ++count[i % 2];
    }
    const double first = sum[0] / count[0], second = sum[1] / count[1];
    if (highest[0] - lowest[0] > kBurstSpreadHz || highest[1] - lowest[1] > kBurstSpreadHz ||
        std::abs(first - second) < kBurstsApartHz)
        return;
    profile.cadence.push_back(profile.cadence.front());
    profile.burstFrequencies = {{static_cast<int>(std::lround(first))}, {static_cast<int>(std::lround(second))}};
}

} // namespace

std::string FrequenciesText(int frequency1, int frequency2)
{
    std::string text = std::to_string(frequency1) + " Hz";
    if (frequency2 > 0)
        text += " + " + std::to_string(frequency2) + " Hz";
    return text;
}

std::string ToneText(const ToneProfile& profile)
{
    const auto frequencies = [](const std::vector<int>& burst) {
        return FrequenciesText(burst.empty() ? 0 : burst[0], burst.size() > 1 ? burst[1] : 0);
    };
    if (!profile.burstFrequencies.empty()) {
        std::string text;
        for (const std::vector<int>& burst : profile.burstFrequencies)
            text += (text.empty() ? "" : " then ") + frequencies(burst);
        return text + " in turn";
    }
    std::string text = frequencies(profile.frequencies);
    if (profile.modulationHz > 0)
        text += " modulated at " + std::to_string(profile.modulationHz) + " Hz";
    return text;
}

std::string CadenceText(const ToneProfile& profile)
{
    if (profile.cadence.empty())
        return "continuous";
    std::string text;
    for (const vexlin::CadencePair& pair : profile.cadence)
        text += (text.empty() ? "" : ", ") + std::to_string(pair.onMs) + " ms on, " + std::to_string(pair.offMs) +
                " ms off";
    return text;
}

int ToneOnsets(const std::vector<int16_t>& mono, uint64_t& toneMs)
{
    const std::vector<SampleRange> stretches = ToneRefinement::FindToneStretches(mono, 48000);
    int onsets = 0;
    size_t lastEnd = SIZE_MAX;
    toneMs = 0;
    for (const SampleRange& stretch : stretches) {
        if (stretch.begin != lastEnd)
            ++onsets;
        lastEnd = stretch.end;
        toneMs += stretch.Length() / 48;
    }
    return onsets;
}

bool HeardDetector::Start(const vexlin::BusyToneRequest& request, size_t fromSample)
{
    m_next = fromSample;
    return m_detector.Start(request);
}

void HeardDetector::Catch(const LineSession& session)
{
    // Should the detector have fallen behind the kept audio, it goes on
    // from the oldest sample kept.
    size_t from = m_next;
    const std::vector<int16_t> fresh = session.HeardAudioFrom(m_next, &from);
    m_detector.Process(fresh.data(), fresh.size());
    m_next = from + fresh.size();
}

bool LineLearning::Step()
{
    const uint32_t now = GetTickCount32();
    if (m_stageEndsAt == 0)
        m_stageEndsAt = now + kAnalysingMs;
    if (now - m_lookedAt < 200)
        return false;
    m_lookedAt = now;
    if (m_stage == Stage::Analysing && !Analyse(now))
        return m_stage == Stage::Done;
    if (m_stage == Stage::Measuring && !Measure(now))
        return m_stage == Stage::Done;
    if (m_stage == Stage::Verifying)
        Verify(now);
    return m_stage == Stage::Done;
}

std::string LineLearning::Progress() const
{
    const uint32_t now = GetTickCount32();
    switch (m_stage) {
    case Stage::Analysing:
        return "Learning: analysing the frequencies, " + SecondsLeft(m_stageEndsAt, now);
    case Stage::Measuring:
        return "Learning: measuring the cadence of " + ToneText(m_profile) + ", " +
               SecondsLeft(m_stageEndsAt, now);
    case Stage::Verifying:
        return "Learning: verifying " + ToneListText(m_profile) + " (count " +
               std::to_string(m_verify.Detector().Count()) + "), " + SecondsLeft(m_stageEndsAt, now);
    case Stage::Done:
        break;
    }
    return "Learning: done";
}

void LineLearning::Fail(uint32_t now, const std::string& why)
{
    m_failure = why;
    m_resultAt = now;
    m_stage = Stage::Done;
}

bool LineLearning::Analyse(uint32_t now)
{
    const bool late = static_cast<int32_t>(now - m_stageEndsAt) >= 0;
    if (m_session.HeardMs() < m_from / 48 + 1500 && !late)
        return false;
    const std::vector<int16_t> heard = m_session.HeardAudioFrom(m_from);
    uint64_t toneMs = 0;
    const int onsets = ToneOnsets(heard, toneMs);
    if (onsets < 3 && !(onsets == 1 && toneMs >= 3000) && !late)
        return false;
    // Analyze Mode's analysis, in the blocks the run uses, over what it
    // heard so far.
    std::vector<int16_t> stereo(heard.size() * 2);
    for (size_t i = 0; i < heard.size(); ++i)
        stereo[2 * i] = stereo[2 * i + 1] = heard[i];
    MemoryAnalysisOutput output;
    AnalyseRecording(stereo, m_blockBytes, output);
    m_report = BuildAnalysisReport(m_blockBytes, output.frequencies, output.changes, heard);
    if (!m_report.FoundTone()) {
        if (late)
            Fail(now, "no tone was heard on the line");
        return false;
    }
    // Steady noise (a noisy line between the last digit and the answer) is
    // as even in level as a continuous tone; the analysis tells them apart,
    // a tone being the strongest frequency in most blocks. Until the stage
    // ends, a tone so weak that it is not goes on being listened to.
    if (!late && onsets == 1 && !m_report.ToneLeadsMostBlocks(heard.size()))
        return false;
    m_profile.frequencies = m_report.Frequencies();
    m_profile.modulationHz = m_report.Profile().modulationHz;
    m_period.Start(RequestFor(Frequency1(), Frequency2(), {}), m_from);
    m_stage = Stage::Measuring;
    m_stageEndsAt = now + kMeasuringMs;
    return true;
}

bool LineLearning::Measure(uint32_t now)
{
    m_period.Catch(m_session);
    const vexlin::BusyToneDetector& detector = m_period.Detector();
    if (detector.Found() && detector.Count() >= kPeriodCycles) {
        m_profile.cadence = LearntCadence(detector);
        m_periodMs = detector.PerhapsPeriod();
    } else if (!detector.Found() && detector.ToneHeldMs() > vexlin::CadenceTracker::kLongestSegmentMs) {
        m_profile.cadence.clear(); // a continuous tone
    } else {
        if (static_cast<int32_t>(now - m_stageEndsAt) >= 0)
            Fail(now, "the tone " + FrequenciesText(Frequency1(), Frequency2()) + " has no steady cadence");
        return false;
    }
    // Verified on the audio that follows.
    m_verify.Start(RequestFor(Frequency1(), Frequency2(), m_profile.cadence), m_period.Next());
    uint32_t cycleMs = 0;
    for (const vexlin::CadencePair& pair : m_profile.cadence)
        cycleMs += static_cast<uint32_t>(pair.onMs + pair.offMs);
    // The window is audio heard, not time asked: a capture that delivers
    // late or slowly must not shorten it. The clock only bounds a
    // capture that stops delivering.
    m_verifyFrom = m_period.Next();
    m_verifyWindowMs = m_profile.cadence.empty()
                           ? kContinuousVerifyMs
                           : std::clamp<uint32_t>(cycleMs * (RunControl::kFoundCount + 3), 10000, kVerifyLongestMs);
    m_stageEndsAt = now + m_verifyWindowMs + kVerifyStallMs;
    m_stage = Stage::Verifying;
    return true;
}

void LineLearning::Verify(uint32_t now)
{
    m_verify.Catch(m_session);
    const vexlin::BusyToneDetector& detector = m_verify.Detector();
    if (m_profile.cadence.empty())
        m_verified = !detector.Found() && detector.ToneHeldMs() > vexlin::CadenceTracker::kLongestSegmentMs;
    else
        m_verified = detector.Found() && detector.Count() >= RunControl::kFoundCount;
    const uint64_t heardMs = (m_verify.Next() - m_verifyFrom) / 48;
    if (m_verified || heardMs >= m_verifyWindowMs || static_cast<int32_t>(now - m_stageEndsAt) >= 0) {
        if (m_verified)
            SplitAlternatingBursts(m_session.HeardAudioFrom(m_from), m_profile);
        m_resultAt = now;
        m_stage = Stage::Done;
    }
}

} // namespace parvane::cli
