// parvane-cli survey: the line's call-progress tones learnt by calling out
// (LineSurvey), printed as text or JSON. Ctrl+C ends it through the
// survey's own teardown.

#include "cli/AnalysisReport.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/LineLearning.h"
#include "cli/LineSession.h"
#include "cli/LineSurvey.h"
#include "platform/Tick.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace parvane::cli {

namespace {

// The survey a signal stops (storing a lock-free atomic is safe in a
// handler).
std::atomic<LineSurvey*> g_survey{nullptr};

void OnInterrupt(int)
{
    if (LineSurvey* survey = g_survey.load())
        survey->Stop();
}

// SIGINT and SIGTERM end the survey through its own teardown (the line put
// on-hook) while an object of this class lives. The Windows C runtime has
// only signal(); there Ctrl+C arrives as SIGINT too.
class InterruptGuard {
public:
    explicit InterruptGuard(LineSurvey& survey)
    {
        g_survey = &survey;
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
        g_survey = nullptr;
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

void PrintText(Console& console, const std::vector<SurveyTone>& tones,
               const std::vector<std::pair<std::string, std::string>>& alike)
{
    FILE* out = console.Out();
    for (const SurveyTone& tone : tones) {
        std::string title = ToneKindTitle(tone.kind);
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
    std::fputs(ToneSetText(tones).c_str(), out);
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
        std::fprintf(out, "%s = %s\n", ToneKindName(tone.kind), TeletoneText(tone.profile).c_str());
    }
    std::fflush(out);
}

void PrintJson(Console& console, const CliArguments& arguments, const std::vector<SurveyTone>& tones,
               const std::vector<std::pair<std::string, std::string>>& alike, uint32_t surveyMs)
{
    nlohmann::ordered_json json;
    json["tones"] = nlohmann::ordered_json::array();
    for (const SurveyTone& tone : tones) {
        nlohmann::ordered_json entry;
        entry["name"] = ToneKindName(tone.kind);
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
        } else {
            entry["failure"] = tone.failure;
        }
        entry["result_after_ms"] = tone.resultAfterMs;
        json["tones"].push_back(entry);
    }
    json["tone_set"] = ToneSetText(tones);
    json["alike"] = nlohmann::ordered_json::array();
    for (const auto& [first, second] : alike)
        json["alike"].push_back({first, second});
    json["dtmf"] = {{"on_ms", arguments.dtmfOnMs}, {"off_ms", arguments.dtmfOffMs},
                    {"level_dbm", arguments.dtmfLevelDbm}};
    json["survey_ms"] = surveyMs;
    std::fprintf(console.Out(), "%s\n", json.dump(2).c_str());
    std::fflush(console.Out());
}

} // namespace

int RunSurveyCommand(const CliArguments& arguments, Console& console)
{
    const uint32_t startedAt = GetTickCount32();
    SurveySettings settings;
    settings.ownNumber = arguments.ownNumber;
    settings.ringNumber = arguments.ringNumber;
    settings.invalidNumber = arguments.invalidNumber;
    settings.dialPrefix = arguments.dialPrefix;
    settings.blockBytes = arguments.blockBytes;
    settings.waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    settings.dtmf = {arguments.dtmfOnMs, arguments.dtmfOffMs, arguments.dtmfLevelDbm};
    settings.digitsNotTakenHint = " (try other --dtmf-level-dbm, --dtmf-on-ms or --dtmf-off-ms)";
    LineSurvey survey(settings);
    InterruptGuard interrupts(survey);
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;

    const int code = survey.Run(session, console);
    if (survey.Snapshot().stopped)
        console.Error("interrupted: the line was released");
    if (!survey.Completed())
        return code;
    if (arguments.json)
        PrintJson(console, arguments, survey.Tones(), survey.AlikeTones(), GetTickCount32() - startedAt);
    else
        PrintText(console, survey.Tones(), survey.AlikeTones());
    return code;
}

} // namespace parvane::cli
