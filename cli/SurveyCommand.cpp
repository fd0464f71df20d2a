// parvane-cli survey: the line's call-progress tones learnt by calling out.
// Each call takes the line off-hook (the run control's answer, without a
// ring), hears the dial tone, dials a number with DTMF through the adapter's
// audio output and learns what answers with learn's stages; the line goes
// back on-hook between calls. The line's own number gives the busy tone, a
// ringing extension ringback, an unassigned number congestion.

#include "cli/AnalysisReport.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/DtmfDialler.h"
#include "cli/LineLearning.h"
#include "cli/LineSession.h"
#include "platform/DebugPrint.h"
#include "platform/Tick.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
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

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int)
{
    g_interrupted = true;
}

// SIGINT and SIGTERM end the survey through its own teardown (the line put
// on-hook) while an object of this class lives. The Windows C runtime has
// only signal(); there Ctrl+C arrives as SIGINT too.
class InterruptGuard {
public:
    InterruptGuard()
    {
        g_interrupted = false;
#ifdef _WIN32
        m_previousInt = std::signal(SIGINT, OnInterrupt);
        m_previousTerm = std::signal(SIGTERM, OnInterrupt);
#else
        struct sigaction action = {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_previousInt);
        sigaction(SIGTERM, &action, &m_previousTerm);
#endif
    }
    ~InterruptGuard()
    {
#ifdef _WIN32
        std::signal(SIGINT, m_previousInt);
        std::signal(SIGTERM, m_previousTerm);
#else
        sigaction(SIGINT, &m_previousInt, nullptr);
        sigaction(SIGTERM, &m_previousTerm, nullptr);
#endif
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
#ifdef _WIN32
    void (*m_previousInt)(int) = SIG_DFL;
    void (*m_previousTerm)(int) = SIG_DFL;
#else
    struct sigaction m_previousInt = {};
    struct sigaction m_previousTerm = {};
#endif
};

enum class ToneKind { Dial, Ringback, Busy, Congestion };

const char* KindName(ToneKind kind)
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

const char* KindTitle(ToneKind kind)
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

struct SurveyTone {
    ToneKind kind = ToneKind::Dial;
    std::string number; // as dialled, the prefix included; empty for the dial tone
    bool learnt = false;
    ToneProfile profile;
    bool verified = false;
    int count = 0;
    int periodMs = 0;
    // From the off-hook (the dial tone) or the last digit (the others) to
    // the result.
    uint32_t resultAfterMs = 0;
    std::string failure;
};

// Two tones alike: the same number of components, each within 2 %, and
// the same cadence within 10 % (or both continuous).
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

    SurveyCall(LineSession& session, const CliArguments& arguments, SurveyTone* dialTone, SurveyTone* answer)
        : m_session(session), m_arguments(arguments), m_dialTone(dialTone), m_answer(answer)
    {
        if (m_dialTone)
            m_dialLearning.emplace(session, arguments.blockBytes);
    }

    bool Step()
    {
        const uint32_t now = GetTickCount32();
        if (m_startedAt == 0)
            m_startedAt = now;
        if (g_interrupted.load()) {
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
                m_answerLearning.emplace(m_session, m_arguments.blockBytes, m_answerFrom);
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
            return std::string(KindTitle(m_answer->kind)) + " (" + m_answer->number + "): " +
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
        m_dialler.Start(m_answer->number,
                        {m_arguments.dtmfOnMs, m_arguments.dtmfOffMs, m_arguments.dtmfLevelDbm});
        m_phase = Phase::Dialling;
    }

    LineSession& m_session;
    const CliArguments& m_arguments;
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

std::string ToneLine(const SurveyTone& tone)
{
    return std::string(KindName(tone.kind)) + " = " + ToneListText(tone.profile);
}

void PrintText(Console& console, const std::vector<SurveyTone>& tones,
               const std::vector<std::pair<std::string, std::string>>& alike)
{
    FILE* out = console.Out();
    for (const SurveyTone& tone : tones) {
        std::string title = KindTitle(tone.kind);
        if (!tone.number.empty())
            title += " (dialled " + tone.number + ")";
        if (!tone.learnt) {
            std::fprintf(out, "%s: not learnt: %s\n", title.c_str(), tone.failure.c_str());
            continue;
        }
        std::fprintf(out, "%s: %s, %s (%s, count %d, %.1f s)\n", title.c_str(), ToneText(tone.profile).c_str(),
                     CadenceText(tone.profile).c_str(), tone.verified ? "verified" : "NOT verified", tone.count,
                     tone.resultAfterMs / 1000.0);
    }
    for (const auto& [first, second] : alike)
        std::fprintf(out, "The %s and %s tones are alike.\n", first.c_str(), second.c_str());
    std::fprintf(out, "\n");
    for (const SurveyTone& tone : tones)
        if (tone.learnt)
            std::fprintf(out, "%s\n", ToneLine(tone).c_str());
    for (const SurveyTone& tone : tones) {
        if (tone.learnt && tone.kind == ToneKind::Busy)
            std::fprintf(out, "\n; busy detection (busypattern)\n%s", BusyPatternText(tone.profile).c_str());
    }
    bool teletone = false;
    for (const SurveyTone& tone : tones) {
        if (!tone.learnt)
            continue;
        if (!teletone)
            std::fprintf(out, "\n; teletone\n");
        teletone = true;
        std::fprintf(out, "%s = %s\n", KindName(tone.kind), TeletoneText(tone.profile).c_str());
    }
    std::fflush(out);
}

void PrintJson(Console& console, const CliArguments& arguments, const std::vector<SurveyTone>& tones,
               const std::vector<std::pair<std::string, std::string>>& alike, uint32_t surveyMs)
{
    nlohmann::ordered_json json;
    json["tones"] = nlohmann::ordered_json::array();
    std::string block;
    for (const SurveyTone& tone : tones) {
        nlohmann::ordered_json entry;
        entry["name"] = KindName(tone.kind);
        entry["number"] = tone.number.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(tone.number);
        entry["learnt"] = tone.learnt;
        if (tone.learnt) {
            entry["frequencies_hz"] = tone.profile.frequencies;
            entry["modulation_hz"] = tone.profile.modulationHz > 0 ? nlohmann::ordered_json(tone.profile.modulationHz)
                                                                   : nlohmann::ordered_json(nullptr);
            if (!tone.profile.burstFrequencies.empty())
                entry["burst_frequencies_hz"] = tone.profile.burstFrequencies;
            entry["cadence_ms"] = CadenceJson(tone.profile.cadence);
            entry["continuous"] = tone.profile.cadence.empty();
            entry["period_ms"] = tone.profile.cadence.empty() ? nlohmann::ordered_json(nullptr)
                                                               : nlohmann::ordered_json(tone.periodMs);
            entry.update(NotationsJson(tone.profile));
            entry["verified"] = tone.verified;
            entry["count"] = tone.count;
            block += ToneLine(tone) + "\n";
        } else {
            entry["failure"] = tone.failure;
        }
        entry["result_after_ms"] = tone.resultAfterMs;
        json["tones"].push_back(entry);
    }
    json["tone_set"] = block;
    json["alike"] = nlohmann::ordered_json::array();
    for (const auto& [first, second] : alike)
        json["alike"].push_back({first, second});
    json["dtmf"] = {{"on_ms", arguments.dtmfOnMs}, {"off_ms", arguments.dtmfOffMs},
                    {"level_dbm", arguments.dtmfLevelDbm}};
    json["survey_ms"] = surveyMs;
    std::fprintf(console.Out(), "%s\n", json.dump(2).c_str());
    std::fflush(console.Out());
}

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

int RunSurveyCommand(const CliArguments& arguments, Console& console)
{
    InterruptGuard interrupts;
    const uint32_t startedAt = GetTickCount32();
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;

    std::vector<SurveyTone> tones(1);
    const std::pair<ToneKind, const std::string*> numbers[] = {{ToneKind::Busy, &arguments.ownNumber},
                                                               {ToneKind::Ringback, &arguments.ringNumber},
                                                               {ToneKind::Congestion, &arguments.invalidNumber}};
    for (const auto& [kind, number] : numbers) {
        if (number->empty())
            continue;
        SurveyTone tone;
        tone.kind = kind;
        tone.number = arguments.dialPrefix + *number;
        tones.push_back(tone);
    }

    LineSession::RunOptions options;
    options.mode = RunMode::Analyze;
    options.blockBytes = arguments.blockBytes;
    options.waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    options.outgoing = true;

    // The clearing seizure.
    {
        const uint32_t seizedAt = GetTickCount32();
        options.done = [&] { return g_interrupted.load() || GetTickCount32() - seizedAt >= kClearingSeizeMs; };
        options.progress = [] { return std::string("Clearing the line"); };
        options.answeredMs = kClearingSeizeMs + 1000;
        if (std::optional<int> code = RunEnded(session.Run(options), console))
            return *code;
    }

    // The first call learns the dial tone; with no number given it is the
    // only one.
    const size_t calls = std::max<size_t>(1, tones.size() - 1);
    for (size_t call = 0; call < calls && !g_interrupted.load(); ++call) {
        SurveyTone* answer = tones.size() > 1 ? &tones[call + 1] : nullptr;
        SurveyCall survey(session, arguments, call == 0 ? &tones[0] : nullptr, answer);
        options.done = [&] { return survey.Step(); };
        options.progress = [&] { return survey.Progress(); };
        options.answeredMs = kFirstDigitLatestMs + kLearningLongestMs + 30000;
        if (std::optional<int> code = RunEnded(session.Run(options), console))
            return *code;
        if (g_interrupted.load())
            break;
        if (!survey.Failure().empty()) {
            console.Error(survey.Failure() + "; the line was released");
            return call == 0 && !tones[0].learnt ? kExitNoTone : kExitFailed;
        }
        if (survey.CurrentPhase() != SurveyCall::Phase::Done) {
            console.Error("the call ended before its tone was learnt; the line was released");
            if (answer)
                answer->failure = "the call ended before the tone was learnt";
        }
    }
    if (g_interrupted.load()) {
        console.Error("interrupted: the line was released");
        return kExitFailed;
    }

    // The dial tone still on after the digits: the exchange did not take
    // them, and what was learnt is not the number's answer.
    for (size_t i = 1; i < tones.size(); ++i) {
        SurveyTone& tone = tones[i];
        if (tones[0].learnt && tone.learnt && Alike(tone.profile, tones[0].profile)) {
            tone.learnt = false;
            tone.failure = "the dial tone went on after " + tone.number +
                           " was dialled: the exchange did not take the digits (try other --dtmf-level-dbm, "
                           "--dtmf-on-ms or --dtmf-off-ms)";
            console.Error(std::string(KindTitle(tone.kind)) + ": " + tone.failure);
        }
    }
    std::vector<std::pair<std::string, std::string>> alike;
    for (size_t i = 0; i < tones.size(); ++i)
        for (size_t j = i + 1; j < tones.size(); ++j)
            if (tones[i].learnt && tones[j].learnt && Alike(tones[i].profile, tones[j].profile))
                alike.emplace_back(KindName(tones[i].kind), KindName(tones[j].kind));
    if (arguments.json)
        PrintJson(console, arguments, tones, alike, GetTickCount32() - startedAt);
    else
        PrintText(console, tones, alike);
    for (const SurveyTone& tone : tones)
        if (!tone.learnt || !tone.verified)
            return kExitNoTone;
    return kExitDone;
}

} // namespace parvane::cli
