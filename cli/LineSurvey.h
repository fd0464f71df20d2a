#pragma once
// The outbound survey: a line's call-progress tones learnt by calling out.
// Each call takes the line off-hook (the run control's answer, without a
// ring), hears the dial tone, dials a number with DTMF through the adapter's
// audio output and learns what answers with learn's stages (LineLearning);
// the line goes back on-hook between calls. The line's own number gives the
// busy tone, a ringing extension ringback, an unassigned number congestion.
//
// parvane-cli survey and the dialog's survey window both drive it:
//   LineSurvey survey(settings);
//   int code = survey.Run(session, console);   // blocks; Stop() from any thread
//   if (survey.Completed()) ... survey.Tones(), survey.AlikeTones()
// While it runs, Snapshot() (any thread) gives the tones as they are learnt.

#include "cli/DtmfDialler.h"
#include "cli/ToneProfile.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace parvane::cli {

class Console;
class LineSession;

enum class ToneKind { Dial, Ringback, Busy, Congestion };

// "dial", "ringback", "busy", "congestion".
const char* ToneKindName(ToneKind kind);
// "Dial tone", "Ringback", "Busy tone", "Congestion".
const char* ToneKindTitle(ToneKind kind);

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
bool Alike(const ToneProfile& a, const ToneProfile& b);

// "busy = 450/350,0/350".
std::string ToneLine(const SurveyTone& tone);
// The tone set: the line of each tone learnt, in survey order, each ending
// with a line break.
std::string ToneSetText(const std::vector<SurveyTone>& tones);

struct SurveySettings {
    // The numbers to call; an empty one is not called. With none, the
    // survey learns the dial tone only.
    std::string ownNumber;     // busy tone
    std::string ringNumber;    // ringback
    std::string invalidNumber; // congestion
    std::string dialPrefix;    // dialled before each number
    int blockBytes = 32768;
    uint32_t waitMs = 120000; // for the line to be taken
    DtmfTiming dtmf;
    // Added to the failure of digits the exchange did not take: where the
    // front end lets the DTMF timing and level be changed (" (try other ...)").
    std::string digitsNotTakenHint;
};

struct SurveySnapshot {
    // Every tone asked for, in survey order (the dial tone first); those
    // learnt so far carry their result.
    std::vector<SurveyTone> tones;
    // Run has returned: the line is on-hook and the tones are final.
    bool finished = false;
    // ... after every call ran (not stopped, no call lost).
    bool completed = false;
    // ... because Stop() was called (the line was released on the way).
    bool stopped = false;
    int exitCode = 0;
};

class LineSurvey {
public:
    explicit LineSurvey(SurveySettings settings);
    LineSurvey(const LineSurvey&) = delete;
    LineSurvey& operator=(const LineSurvey&) = delete;

    // The clearing seizure, then one call per number, on the calling thread
    // (the session's control thread). Errors go to the console as they
    // happen. Returns the exit code of parvane-cli survey: kExitDone when
    // every tone was learnt and verified, kExitNoTone when one was not (or
    // no dial tone was heard), kExitFailed when a call failed or the survey
    // was stopped, kExitNoAdapter, kExitUsage as the session's run says.
    int Run(LineSession& session, Console& console);

    // Ends the survey through its own teardown (the line put on-hook); any
    // thread, and from a signal handler (it only sets a flag).
    void Stop() { m_stopRequested.store(true); }
    bool StopRequested() const { return m_stopRequested.load(); }

    // After Run, on its thread.
    bool Completed() const { return m_completed; }
    const std::vector<SurveyTone>& Tones() const { return m_tones; }
    // The pairs of learnt tones that are alike, by name.
    const std::vector<std::pair<std::string, std::string>>& AlikeTones() const { return m_alike; }

    // Any thread.
    SurveySnapshot Snapshot() const;

private:
    // Publishes the final snapshot; returns exitCode.
    int Finish(int exitCode, bool stopped = false);
    void Publish();
    // Errors of the calls against the dial tone, and the alike pairs.
    void CompareTones(Console& console);

    SurveySettings m_settings;
    std::atomic<bool> m_stopRequested{false};
    std::vector<SurveyTone> m_tones;
    std::vector<std::pair<std::string, std::string>> m_alike;
    bool m_completed = false;

    mutable std::mutex m_snapshotMutex;
    SurveySnapshot m_snapshot;
};

} // namespace parvane::cli
