#pragma once
// Learning a tone on a line that is off-hook, in the stages learn goes
// through: Analyze Mode's analysis finds the frequencies, a detector learning
// the cadence measures it, and a detector asked for what was learnt verifies
// it on the audio that follows. Each stage reads the audio the session's
// Analyze run hears; a command steps the stages from the run's `done`.
//
//   LineLearning learning(session, blockBytes);
//   options.done = [&] { return learning.Step(); };
//   session.Run(options);
//   if (learning.CurrentStage() == LineLearning::Stage::Done && learning.Failure().empty()) ...

#include "cli/AnalysisReport.h"
#include "cli/LineSession.h"
#include "cli/ToneProfile.h"
#include "vexlin/BusyToneDetector.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace parvane::cli {

// A Get Period run ends once the library has found the tone and matched
// this many cycles (its period is then the median of several).
constexpr int kPeriodCycles = 2;

// How long each stage of learning may take at most, from its start.
constexpr uint32_t kAnalysingMs = 15000;
constexpr uint32_t kMeasuringMs = 20000;
// A continuous tone is confirmed once held this long again after it was
// measured.
constexpr uint32_t kContinuousVerifyMs = 8000;
// How much longer than its window verification may take when the capture
// falls behind.
constexpr uint32_t kVerifyStallMs = 20000;
// The most audio verification hears: enough for the cycles the dialog
// counts before it calls a tone found, and a few more, of a ringback of six
// seconds a cycle.
constexpr uint32_t kVerifyLongestMs = 90000;
// The longest a whole learning can take: every stage's limit.
constexpr uint32_t kLearningLongestMs = kAnalysingMs + kMeasuringMs + kVerifyLongestMs + kVerifyStallMs;

// "451 Hz", "480 Hz + 620 Hz".
std::string FrequenciesText(int frequency1, int frequency2);
// "451 Hz", "400 Hz modulated at 25 Hz", "425 Hz then 420 Hz in turn".
std::string ToneText(const ToneProfile& profile);
// "continuous", "500 ms on, 500 ms off".
std::string CadenceText(const ToneProfile& profile);

// The number of separate stretches of tone in the audio (a long tone that
// the stretch finder cuts into pieces counts once), and in toneMs how long
// they sound together.
int ToneOnsets(const std::vector<int16_t>& mono, uint64_t& toneMs);

// A detector fed, as it comes, the audio heard on the line from a given
// sample on.
class HeardDetector {
public:
    bool Start(const vexlin::BusyToneRequest& request, size_t fromSample);
    void Catch(const LineSession& session);
    const vexlin::BusyToneDetector& Detector() const { return m_detector; }
    size_t Next() const { return m_next; }

private:
    vexlin::BusyToneDetector m_detector;
    size_t m_next = 0;
};

class LineLearning {
public:
    enum class Stage { Analysing, Measuring, Verifying, Done };

    // Learns from the audio heard from sample `fromSample` of the run on.
    LineLearning(LineSession& session, int blockBytes, size_t fromSample = 0)
        : m_session(session), m_blockBytes(blockBytes), m_from(fromSample)
    {
    }

    // Called on the loop's thread while the line is off-hook; true once
    // learning is done (learnt, or failed).
    bool Step();
    // The progress line: "Learning: analysing the frequencies, 12 s left".
    std::string Progress() const;

    Stage CurrentStage() const { return m_stage; }
    // Why learning failed; empty when it did not.
    const std::string& Failure() const { return m_failure; }
    const ToneProfile& Profile() const { return m_profile; }
    const AnalysisReport& Report() const { return m_report; }
    bool Verified() const { return m_verified; }
    int Count() const { return m_verify.Detector().Count(); }
    int PeriodMs() const { return m_periodMs; }
    // GetTickCount32() when the result was in.
    uint32_t ResultAt() const { return m_resultAt; }

private:
    int Frequency1() const { return m_profile.frequencies.empty() ? 0 : m_profile.frequencies[0]; }
    int Frequency2() const { return m_profile.frequencies.size() > 1 ? m_profile.frequencies[1] : 0; }

    void Fail(uint32_t now, const std::string& why);
    // True once the frequencies are known.
    bool Analyse(uint32_t now);
    // True once the cadence is measured.
    bool Measure(uint32_t now);
    void Verify(uint32_t now);

    LineSession& m_session;
    int m_blockBytes;
    size_t m_from;
    Stage m_stage = Stage::Analysing;
    uint32_t m_stageEndsAt = 0;
    uint32_t m_lookedAt = 0;
    AnalysisReport m_report;
    ToneProfile m_profile;
    HeardDetector m_period;
    HeardDetector m_verify;
    size_t m_verifyFrom = 0;
    uint32_t m_verifyWindowMs = 0;
    int m_periodMs = 0;
    bool m_verified = false;
    std::string m_failure;
    uint32_t m_resultAt = 0;
};

} // namespace parvane::cli
