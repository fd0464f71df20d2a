// How finely parvane-cli names a busy tone's frequencies, and how fast it
// analyses a recording.
//
// Accuracy: every published busy tone of the detector's corpus, as a line
// carries it (8000 Hz, brought to the capture rate), clean, in white noise at
// 20, 10 and 6 dB SNR and 1.5 % off frequency, is put through Analyze Mode's
// analysis and the refinement, as `parvane-cli file` does. The error of the
// refined frequencies is set beside the error of the analysis's own best
// candidate (its transform bin), and the share of dual tones of which both
// components were found is counted.
//
// Speed: the whole of `file`'s work (analysis, refinement, cadence and a
// Verify-style detection) over a minute of audio, as a multiple of real time.

#include "audio/AnalysisOutput.h"
#include "cli/AnalysisReport.h"
#include "platform/DebugPrint.h"
#include "tests/vexlin/ToneCorpus.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using namespace parvane;
using namespace parvane::cli;
namespace corpus = parvane::vexlin::corpus;

constexpr int kBlockBytes = 32768;

std::vector<int16_t> Stereo(const std::vector<int16_t>& mono)
{
    std::vector<int16_t> stereo(mono.size() * 2);
    for (size_t i = 0; i < mono.size(); ++i)
        stereo[2 * i] = stereo[2 * i + 1] = mono[i];
    return stereo;
}

AnalysisReport Analyse(const std::vector<int16_t>& mono)
{
    MemoryAnalysisOutput output;
    AnalyseRecording(Stereo(mono), kBlockBytes, output);
    return BuildAnalysisReport(kBlockBytes, output.frequencies, output.changes, mono);
}

struct Errors {
    std::vector<double> refined;
    std::vector<double> binned;
    int dualTones = 0;
    int dualTonesFound = 0;
    int missed = 0;
};

double Percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
}

} // namespace

int main()
{
    SetDebugSink([](const std::string&) {});
    std::mt19937 random(11);

    struct Condition {
        const char* name;
        double snrDb;
        double frequencyScale;
    };
    const Condition conditions[] = {
        {"clean", 1000, 1.0}, {"SNR 20 dB", 20, 1.0}, {"SNR 10 dB", 10, 1.0}, {"SNR 6 dB", 6, 1.0}, {"1.5 % high", 1000, 1.015},
    };
    std::printf("Refined frequencies against the analysis's own bins (32768-byte blocks, 5.86 Hz)\n");
    std::printf("%-12s %8s %12s %12s %12s %12s %10s\n", "condition", "tones", "refined p50", "refined max",
                "bin p50", "bin max", "duals");
    for (const Condition& condition : conditions) {
        Errors errors;
        for (const corpus::BusyTone& tone : corpus::PublishedBusyTones()) {
            corpus::ToneVariant variant;
            variant.snrDb = condition.snrDb;
            variant.frequencyScale = condition.frequencyScale;
            variant.durationMs = 6000;
            const std::vector<int16_t> mono = corpus::ToCapture(corpus::Cadenced(tone, variant, random));
            const AnalysisReport report = Analyse(mono);
            std::vector<double> expected = {tone.frequency1 * condition.frequencyScale};
            if (tone.frequency2 > 0) {
                expected.push_back(tone.frequency2 * condition.frequencyScale);
                ++errors.dualTones;
            }
            std::sort(expected.begin(), expected.end());
            if (report.tone.frequencies.empty() || report.candidates.empty()) {
                ++errors.missed;
                continue;
            }
            if (expected.size() == 2 && report.tone.frequencies.size() == 2)
                ++errors.dualTonesFound;
            for (double frequency : report.tone.frequencies) {
                double nearest = expected[0];
                for (double e : expected)
                    if (std::abs(e - frequency) < std::abs(nearest - frequency))
                        nearest = e;
                errors.refined.push_back(std::abs(frequency - nearest));
            }
            double nearestBin = 1e9;
            for (double e : expected)
                nearestBin = std::min(nearestBin, std::abs(report.candidates[0].frequencyHz - e));
            errors.binned.push_back(nearestBin);
        }
        char duals[32];
        std::snprintf(duals, sizeof duals, "%d/%d", errors.dualTonesFound, errors.dualTones);
        std::printf("%-12s %8zu %10.2f Hz %9.2f Hz %9.2f Hz %9.2f Hz %10s%s\n", condition.name,
                    corpus::PublishedBusyTones().size(), Percentile(errors.refined, 0.5),
                    Percentile(errors.refined, 1.0), Percentile(errors.binned, 0.5), Percentile(errors.binned, 1.0),
                    duals, errors.missed ? (" (" + std::to_string(errors.missed) + " missed)").c_str() : "");
    }

    // Speed of `file` over a minute of the Chinese busy tone.
    const corpus::BusyTone* china = corpus::FindBusyTone("cn");
    corpus::ToneVariant minute;
    minute.durationMs = 60000;
    minute.snrDb = 20;
    const std::vector<int16_t> mono = corpus::ToCapture(corpus::Cadenced(*china, minute, random));
    const auto start = std::chrono::steady_clock::now();
    const AnalysisReport report = Analyse(mono);
    const DetectionResult detection = DetectOverRecording(mono, 450, 0, 350, 350);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("\nfile over 60 s of audio: %.2f s, %.0f x real time (tone %s, found %s)\n", seconds, 60.0 / seconds,
                ToneListText(report.Profile()).c_str(), detection.found ? "yes" : "no");
    return 0;
}
