#include "cli/LineSurvey.h"

#include "cli/CliArguments.h"
#include "cli/Console.h"
#include "cli/LineLearning.h"
#include "cli/LineSession.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace parvane::cli {

namespace {

// A later call dials once this much tone is heard after the off-hook, or
// after kDialToneWaitMs whatever is heard.
constexpr uint64_t kDialToneHeardMs = 1000;
constexpr uint32_t kDialToneWaitMs = 8000;
// The first call, which learns the dial tone, may hold the line this long
// before the first digit.
constexpr uint32_t kFirstDigitLatestMs = kLearningLongestMs;
// The line is seized this long once before the first call and put down
// again, so that a call ringing in is dropped rather than taken for the
// survey's own.
constexpr uint32_t kClearingSeizeMs = 1000;

// Sound on the line: at least a fifth of its 10 ms frames above -50 dBFS
// (RMS). An answer that sounds and yet holds no steady tone is a voice (or
// music), which the survey does not learn.
bool Sounding(const std::vector<int16_t>& mono)
{
    constexpr size_t kFrame = 480;
    constexpr double kLoudest = 32768.0;
    const double floor = kLoudest * std::pow(10.0, -50.0 / 20.0);
    size_t frames = 0;
    size_t sounding = 0;
    for (size_t at = 0; at + kFrame <= mono.size(); at += kFrame) {
        double sum = 0;
        for (size_t i = at; i < at + kFrame; ++i)
            sum += static_cast<double>(mono[i]) * mono[i];
        ++frames;
        if (std::sqrt(sum / kFrame) > floor)
            ++sounding;
    }
    return frames > 0 && sounding * 5 >= frames;
}

void TakeResult(const LineLearning& learning, uint32_t since, SurveyTone& tone)
{
    tone.failure = learning.Failure();
    tone.learnt = tone.failure.empty();
    tone.profile = learning.Profile();
    tone.verified = learning.Verified();
    tone.count = learning.Count();
    tone.periodMs = learning.PeriodMs();
    tone.resultAfterMs = learning.ResultAt() - since;
}

// One call of the survey, stepped from the run's `done` on the loop's
// thread while the line is off-hook.
class SurveyCall {
public:
    enum class Phase { DialTone, Dialling, Answer, Done };

    SurveyCall(LineSession& session, const SurveySettings& settings, const std::atomic<bool>& stop,
               SurveyTone* dialTone, SurveyTone* answer)
        : m_session(session), m_settings(settings), m_stop(stop), m_dialTone(dialTone), m_answer(answer)
    {
        if (m_dialTone)
            m_dialLearning.emplace(session, settings.blockBytes);
    }

    bool Step()
    {
        const uint32_t now = GetTickCount32();
        if (m_startedAt == 0)
            m_startedAt = now;
        if (m_stop.load()) {
            m_failure = "interrupted";
            m_phase = Phase::Done;
        }
        switch (m_phase) {
        case Phase::DialTone:
            WaitForDialTone(now);
            break;
        case Phase::Dialling:
            if (m_dialler.Done()) {
                if (!m_dialler.Failure().empty()) {
                    m_failure = m_dialler.Failure();
                    m_phase = Phase::Done;
                    break;
                }
                m_dialledAt = now;
                m_answerFrom = static_cast<size_t>(m_session.HeardMs() * 48);
                m_answerLearning.emplace(m_session, m_settings.blockBytes, m_answerFrom);
                m_phase = Phase::Answer;
            }
            break;
        case Phase::Answer:
            if (m_answerLearning->Step()) {
                TakeResult(*m_answerLearning, m_dialledAt, *m_answer);
                if (!m_answer->learnt && Sounding(m_session.HeardAudioFrom(m_answerFrom)))
                    m_answer->failure = "answered by a voice (sound without a steady tone, " +
                                        m_answer->failure + "); nothing was learnt from it";
                m_phase = Phase::Done;
            }
            break;
        case Phase::Done:
            break;
        }
        return m_phase == Phase::Done;
    }

    std::string Progress() const
    {
        switch (m_phase) {
        case Phase::DialTone:
            return m_dialLearning ? "Dial tone: " + m_dialLearning->Progress() : "Waiting for the dial tone";
        case Phase::Dialling:
            return "Dialling " + m_answer->number;
        case Phase::Answer:
            return std::string(ToneKindTitle(m_answer->kind)) + " (" + m_answer->number + "): " +
                   m_answerLearning->Progress();
        case Phase::Done:
            break;
        }
        return "Done";
    }

    Phase CurrentPhase() const { return m_phase; }
    // Why the call ended before its tone was learnt (no dial tone, the
    // output failed, interrupted); empty otherwise.
    const std::string& Failure() const { return m_failure; }

private:
    void WaitForDialTone(uint32_t now)
    {
        if (m_dialLearning) {
            if (!m_dialLearning->Step())
                return;
            TakeResult(*m_dialLearning, m_session.AnsweredAt(), *m_dialTone);
            if (!m_dialTone->learnt) {
                m_failure = "no dial tone was heard on the line (" + m_dialTone->failure + ")";
                m_phase = Phase::Done;
                return;
            }
        } else if (now - m_startedAt < kDialToneWaitMs) {
            // Looked at five times a second: each look goes over all that
            // was heard.
            if (now - m_lookedAt < 200)
                return;
            m_lookedAt = now;
            uint64_t toneMs = 0;
            ToneOnsets(m_session.HeardAudio(), toneMs);
            if (toneMs < kDialToneHeardMs)
                return;
        } else {
            DebugPrint("Survey: no dial tone within %u ms; dialling all the same", kDialToneWaitMs);
        }
        if (!m_answer) {
            m_phase = Phase::Done;
            return;
        }
        m_dialler.Start(m_answer->number, m_settings.dtmf);
        m_phase = Phase::Dialling;
    }

    LineSession& m_session;
    const SurveySettings& m_settings;
    const std::atomic<bool>& m_stop;
    SurveyTone* m_dialTone;
    SurveyTone* m_answer;
    Phase m_phase = Phase::DialTone;
    uint32_t m_startedAt = 0;
    uint32_t m_lookedAt = 0;
    uint32_t m_dialledAt = 0;
    size_t m_answerFrom = 0;
    std::optional<LineLearning> m_dialLearning;
    std::optional<LineLearning> m_answerLearning;
    DtmfDialler m_dialler;
    std::string m_failure;
};

// A run of the survey that did not hold the line: the code to stop with,
// or nullopt when the survey goes on.
std::optional<int> RunEnded(LineSession::RunOutcome outcome, Console& console)
{
    switch (outcome) {
    case LineSession::RunOutcome::NoCall:
        console.Error("the line could not be taken off-hook");
        return kExitFailed;
    case LineSession::RunOutcome::Unplugged:
        console.Error("the survey ended: the adapter is gone, and with it the line");
        return kExitNoAdapter;
    case LineSession::RunOutcome::Refused:
        return kExitUsage;
    case LineSession::RunOutcome::Failed:
        return kExitFailed;
    default:
        return std::nullopt;
    }
}

} // namespace

const char* ToneKindName(ToneKind kind)
{
    switch (kind) {
    case ToneKind::Dial:
        return "dial";
    case ToneKind::Ringback:
        return "ringback";
    case ToneKind::Busy:
        return "busy";
    case ToneKind::Congestion:
        return "congestion";
    }
    return "";
}

const char* ToneKindTitle(ToneKind kind)
{
    switch (kind) {
    case ToneKind::Dial:
        return "Dial tone";
    case ToneKind::Ringback:
        return "Ringback";
    case ToneKind::Busy:
        return "Busy tone";
    case ToneKind::Congestion:
        return "Congestion";
    }
    return "";
}

bool Alike(const ToneProfile& a, const ToneProfile& b)
{
    if (a.frequencies.size() != b.frequencies.size() || a.cadence.size() != b.cadence.size() ||
        std::abs(a.modulationHz - b.modulationHz) > 2 || a.burstFrequencies != b.burstFrequencies)
        return false;
    for (size_t i = 0; i < a.frequencies.size(); ++i)
        if (std::abs(a.frequencies[i] - b.frequencies[i]) > 0.02 * std::max(a.frequencies[i], b.frequencies[i]))
            return false;
    const auto near = [](int x, int y) { return std::abs(x - y) <= 0.1 * std::max(x, y) + 20; };
    for (size_t i = 0; i < a.cadence.size(); ++i)
        if (!near(a.cadence[i].onMs, b.cadence[i].onMs) || !near(a.cadence[i].offMs, b.cadence[i].offMs))
            return false;
    return true;
}

std::string ToneLine(const SurveyTone& tone)
{
    return std::string(ToneKindName(tone.kind)) + " = " + ToneListText(tone.profile);
}

std::string ToneSetText(const std::vector<SurveyTone>& tones)
{
    std::string text;
    for (const SurveyTone& tone : tones)
        if (tone.learnt)
            text += ToneLine(tone) + "\n";
    return text;
}

LineSurvey::LineSurvey(SurveySettings settings) : m_settings(std::move(settings))
{
    m_tones.resize(1);
    const std::pair<ToneKind, const std::string*> numbers[] = {{ToneKind::Busy, &m_settings.ownNumber},
                                                               {ToneKind::Ringback, &m_settings.ringNumber},
                                                               {ToneKind::Congestion, &m_settings.invalidNumber}};
    for (const auto& [kind, number] : numbers) {
        if (number->empty())
            continue;
        SurveyTone tone;
        tone.kind = kind;
        tone.number = m_settings.dialPrefix + *number;
        m_tones.push_back(tone);
    }
    m_snapshot.tones = m_tones;
}

SurveySnapshot LineSurvey::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    return m_snapshot;
}

void LineSurvey::Publish()
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_snapshot.tones = m_tones;
}

int LineSurvey::Finish(int exitCode, bool stopped)
{
    std::lock_guard<std::mutex> lock(m_snapshotMutex);
    m_snapshot.tones = m_tones;
    m_snapshot.finished = true;
    m_snapshot.completed = m_completed;
    m_snapshot.stopped = stopped;
    m_snapshot.exitCode = exitCode;
    return exitCode;
}

int LineSurvey::Run(LineSession& session, Console& console)
{
    LineSession::RunOptions options;
    options.mode = RunMode::Analyze;
    options.blockBytes = m_settings.blockBytes;
    options.waitMs = m_settings.waitMs;
    options.outgoing = true;

    // The clearing seizure.
    {
        const uint32_t seizedAt = GetTickCount32();
        options.done = [&] { return StopRequested() || GetTickCount32() - seizedAt >= kClearingSeizeMs; };
        options.progress = [] { return std::string("Clearing the line"); };
        options.answeredMs = kClearingSeizeMs + 1000;
        if (std::optional<int> code = RunEnded(session.Run(options), console))
            return Finish(*code);
    }

    // The first call learns the dial tone; with no number given it is the
    // only one.
    const size_t calls = std::max<size_t>(1, m_tones.size() - 1);
    for (size_t call = 0; call < calls && !StopRequested(); ++call) {
        SurveyTone* answer = m_tones.size() > 1 ? &m_tones[call + 1] : nullptr;
        SurveyCall survey(session, m_settings, m_stopRequested, call == 0 ? &m_tones[0] : nullptr, answer);
        // Each phase the call leaves holds a result (the dial tone once it
        // dials, the answer once done): it is published then.
        SurveyCall::Phase phase = survey.CurrentPhase();
        options.done = [&] {
            const bool done = survey.Step();
            if (survey.CurrentPhase() != phase) {
                phase = survey.CurrentPhase();
                Publish();
            }
            return done;
        };
        options.progress = [&] { return survey.Progress(); };
        options.answeredMs = kFirstDigitLatestMs + kLearningLongestMs + 30000;
        if (std::optional<int> code = RunEnded(session.Run(options), console))
            return Finish(*code);
        if (StopRequested())
            break;
        if (!survey.Failure().empty()) {
            console.Error(survey.Failure() + "; the line was released");
            return Finish(call == 0 && !m_tones[0].learnt ? kExitNoTone : kExitFailed);
        }
        if (survey.CurrentPhase() != SurveyCall::Phase::Done) {
            console.Error("the call ended before its tone was learnt; the line was released");
            if (answer)
                answer->failure = "the call ended before the tone was learnt";
        }
    }
    if (StopRequested())
        return Finish(kExitFailed, true);

    CompareTones(console);
    m_completed = true;
    for (const SurveyTone& tone : m_tones)
        if (!tone.learnt || !tone.verified)
            return Finish(kExitNoTone);
    return Finish(kExitDone);
}

void LineSurvey::CompareTones(Console& console)
{
    // The dial tone still on after the digits: the exchange did not take
    // them, and what was learnt is not the number's answer.
    for (size_t i = 1; i < m_tones.size(); ++i) {
        SurveyTone& tone = m_tones[i];
        if (m_tones[0].learnt && tone.learnt && Alike(tone.profile, m_tones[0].profile)) {
            tone.learnt = false;
            tone.failure = "the dial tone went on after " + tone.number +
                           " was dialled: the exchange did not take the digits" + m_settings.digitsNotTakenHint;
            console.Error(std::string(ToneKindTitle(tone.kind)) + ": " + tone.failure);
        }
    }
    m_alike.clear();
    for (size_t i = 0; i < m_tones.size(); ++i)
        for (size_t j = i + 1; j < m_tones.size(); ++j)
            if (m_tones[i].learnt && m_tones[j].learnt && Alike(m_tones[i].profile, m_tones[j].profile))
                m_alike.emplace_back(ToneKindName(m_tones[i].kind), ToneKindName(m_tones[j].kind));
}

} // namespace parvane::cli
