// Accuracy of the busy-tone detector on a corpus of published busy tones and
// of sounds that are not busy tones, beside spandsp's supervisory tone
// receiver (super_tone_rx) fed the very same line signals as a reference.
//
// Positives: every country's tone at several levels, in white noise at 20, 10
// and 6 dB SNR, 1.5 % off frequency, and with cadences 8 % off. Negatives:
// speech (espeak-ng, plus a speech-like synthesis), chords, noise, DTMF
// digits, steady dial tones, each heard with every country's request, and
// every country's tone heard with the requests of other countries whose tone
// differs from it.
//
// Line conditions: every country's tone through the codecs of recorded and
// carried calls (GSM 06.10, A-law and µ-law WAV files written and read back
// by libsndfile), at -45 dBFS and at 6 dB SNR, with the speech through the
// same codecs as negatives; detection rates, false detections and time to
// detection of both detectors for each.

#include "tests/vexlin/ToneCorpus.h"
#include "vexlin/BusyToneDetector.h"

extern "C" {
#include <spandsp.h>
}

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace parvane::vexlin;
namespace corpus = parvane::vexlin::corpus;
using corpus::BusyTone;
using corpus::Signal;

// Processing time against audio time, for one detector.
struct Speed {
    double processing = 0;
    double audio = 0;
    double Factor() const { return processing > 0 ? audio / processing : 0; }
};

// What one detector made of one signal.
struct Outcome {
    bool found = false;
    double foundAtMs = -1;
    int period = 0;
};

// Our detector, fed at the capture rate.
Outcome RunOurs(const std::vector<int16_t>& capture, const BusyToneRequest& request, Speed& speed)
{
    const auto begin = std::chrono::steady_clock::now();
    BusyToneDetector detector;
    detector.Start(request);
    // Blocks as the capture delivers them.
    constexpr size_t kBlock = 4096;
    for (size_t at = 0; at < capture.size(); at += kBlock)
        detector.Process(capture.data() + at, std::min(kBlock, capture.size() - at));
    speed.processing += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    speed.audio += static_cast<double>(capture.size()) / corpus::kCaptureRate;
    return {detector.Found(), static_cast<double>(detector.FoundAtMs()), detector.PerhapsPeriod()};
}

// spandsp's receiver, fed at the line rate, with the same cadence tolerance.
struct SpandspRun {
    int64_t samples = 0;
    Outcome outcome;
    std::vector<int> onMs, offMs;
    bool inTone = false;
};

void SpandspToneReport(void* data, int code, int, int)
{
    auto* run = static_cast<SpandspRun*>(data);
    if (code >= 0 && !run->outcome.found) {
        run->outcome.found = true;
        run->outcome.foundAtMs = run->samples * 1000.0 / corpus::kLineRate;
    }
}

void SpandspSegment(void* data, int f1, int, int duration)
{
    auto* run = static_cast<SpandspRun*>(data);
    (f1 >= 0 ? run->onMs : run->offMs).push_back(duration);
}

int MedianOf(std::vector<int> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Outcome RunSpandsp(const std::vector<int16_t>& line, const BusyToneRequest& request, Speed& speed)
{
    const auto begin = std::chrono::steady_clock::now();
    super_tone_rx_descriptor_t* descriptor = super_tone_rx_make_descriptor(nullptr);
    const int tone = super_tone_rx_add_tone(descriptor);
    int on = request.onMs, off = request.offMs;
    if (on == 0 && off == 0)
        on = off = request.periodMs;
    super_tone_rx_add_element(descriptor, tone, request.frequency1, request.frequency2,
                              on - CadenceTracker::Tolerance(on), on + CadenceTracker::Tolerance(on));
    super_tone_rx_add_element(descriptor, tone, 0, 0, off - CadenceTracker::Tolerance(off),
                              off + CadenceTracker::Tolerance(off));
    SpandspRun run;
    super_tone_rx_state_t* state = super_tone_rx_init(nullptr, descriptor, SpandspToneReport, &run);
    super_tone_rx_segment_callback(state, SpandspSegment);
    constexpr size_t kBlock = 160;
    for (size_t at = 0; at < line.size(); at += kBlock) {
        const int count = static_cast<int>(std::min(kBlock, line.size() - at));
        run.samples = static_cast<int64_t>(at + count);
        super_tone_rx(state, line.data() + at, count);
    }
    super_tone_rx_free(state);
    super_tone_rx_free_descriptor(descriptor);
    speed.processing += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    speed.audio += static_cast<double>(line.size()) / corpus::kLineRate;
    // Drop the first segments, which the start of the signal may have cut.
    if (run.onMs.size() > 1)
        run.onMs.erase(run.onMs.begin());
    if (run.offMs.size() > 1)
        run.offMs.erase(run.offMs.begin());
    if (!run.onMs.empty() && !run.offMs.empty())
        run.outcome.period = CadenceTracker::PeriodOf(MedianOf(run.onMs), MedianOf(run.offMs));
    return run.outcome;
}

BusyToneRequest RequestFor(const BusyTone& tone)
{
    return {tone.frequency1, tone.frequency2, corpus::PeriodOf(tone), tone.onMs, tone.offMs};
}

// Tallies of one detector over a class of signals.
struct Tally {
    int runs = 0;
    int found = 0;
    std::vector<double> delays;
    std::vector<double> periodErrors;

    void Add(const Outcome& outcome, int truePeriod)
    {
        ++runs;
        if (!outcome.found)
            return;
        ++found;
        delays.push_back(outcome.foundAtMs);
        if (truePeriod > 0)
            periodErrors.push_back(outcome.period > 0 ? std::abs(outcome.period - truePeriod) : truePeriod);
    }
    double Rate() const { return runs ? 100.0 * found / runs : 0; }
};

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5))];
}

double Mean(const std::vector<double>& values)
{
    if (values.empty())
        return NAN;
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / values.size();
}

struct Pair {
    Tally ours, theirs;
};

void PrintRate(const char* label, const Pair& pair)
{
    std::printf("  %-34s %5d/%-5d %6.1f %%   %5d/%-5d %6.1f %%\n", label, pair.ours.found, pair.ours.runs,
                pair.ours.Rate(), pair.theirs.found, pair.theirs.runs, pair.theirs.Rate());
}

// Whether two busy tones can be told apart at all: a frequency more than 4 %
// away, a different number of components, or a cadence outside the tolerance.
bool Distinct(const BusyTone& a, const BusyTone& b)
{
    auto apart = [](int x, int y) { return std::abs(x - y) > 0.04 * std::max(x, y); };
    if ((a.frequency2 == 0) != (b.frequency2 == 0) || apart(a.frequency1, b.frequency1) ||
        (a.frequency2 && apart(a.frequency2, b.frequency2)))
        return true;
    return !CadenceTracker::Near(a.onMs, b.onMs) || !CadenceTracker::Near(a.offMs, b.offMs);
}

struct Negative {
    std::string kind;
    Signal signal;
};

std::vector<Negative> MakeNegatives(std::mt19937& random)
{
    std::vector<Negative> negatives;
    char pattern[] = "/tmp/parvane-bench-XXXXXX";
    const char* directory = mkdtemp(pattern);
    struct Speech {
        const char* voice;
        const char* text;
    };
    const Speech speech[] = {
        {"en-us", "Hello, you have reached the accounts department. All of our agents are busy at the moment. "
                  "Please hold the line and your call will be answered in the order it was received."},
        {"en+f3", "The number you have dialled is not in service. Please check the number and dial again, "
                  "or call the operator for assistance."},
        {"de", "Guten Tag, hier ist der automatische Anrufbeantworter. Bitte hinterlassen Sie nach dem "
               "Signalton Ihren Namen und Ihre Telefonnummer."},
        {"fr", "Bonjour, vous etes bien sur la messagerie vocale. Nous ne pouvons pas prendre votre appel "
               "pour le moment, merci de rappeler plus tard."},
        {"cmn", "ni hao, huan ying zhi dian. qing shao hou, nin de dian hua zheng zai jie tong zhong."},
        {"ru", "Zdravstvuyte, vy pozvonili v sluzhbu podderzhki. Vse operatory zanyaty, ostavaytes na linii."},
        {"es", "Hola, el telefono al que llama esta apagado o fuera de cobertura en este momento."},
        {"ja", "moshi moshi, tadaima denwa ni deru koto ga dekimasen. ato de kakenaoshite kudasai."},
    };
    int spoken = 0;
    if (directory != nullptr) {
        for (const Speech& s : speech) {
            Signal line = corpus::SpokenText(s.text, s.voice, directory, -20.0);
            if (!line.empty()) {
                negatives.push_back({"speech (espeak-ng)", std::move(line)});
                ++spoken;
            }
        }
        std::filesystem::remove_all(directory);
    }
    if (spoken == 0)
        std::printf("espeak-ng gave no speech; speech is synthesised only\n");
    for (double pitch : {95.0, 120.0, 150.0, 210.0, 240.0})
        negatives.push_back({"speech-like synthesis", corpus::SpeechLike(20000, pitch, random)});
    negatives.push_back({"chords", corpus::MusicChords(20000, 500, false, random)});
    negatives.push_back({"chords", corpus::MusicChords(20000, 750, false, random)});
    negatives.push_back({"chords struck on a beat", corpus::MusicChords(20000, 700, true, random)});
    negatives.push_back({"chords struck on a beat", corpus::MusicChords(20000, 1000, true, random)});
    negatives.push_back({"noise", corpus::WhiteNoise(15000, -20, random)});
    negatives.push_back({"noise bursts", corpus::NoiseBursts(500, 500, 15000, -20, random)});
    negatives.push_back({"noise bursts", corpus::NoiseBursts(350, 350, 15000, -20, random)});
    negatives.push_back({"DTMF digits", corpus::DtmfDigits("0123456789*#ABCD0123456789", 100, 100, -10)});
    negatives.push_back({"DTMF digits", corpus::DtmfDigits("5551234987006655443322", 250, 250, -10)});
    negatives.push_back({"DTMF digits", corpus::DtmfDigits("9876543210", 400, 350, -10)});
    for (auto [f1, f2] : {std::pair{350, 440}, {425, 0}, {450, 0}, {400, 0}, {440, 0}, {480, 620}, {400, 450}})
        negatives.push_back({"steady dial tone", corpus::SteadyTone(f1, f2, 10000, -15)});
    return negatives;
}

// A line signal as it comes back from a file coded with `format`
// (libsndfile's SF_FORMAT_...), at the line rate; empty when libsndfile
// cannot write or read it.
Signal ThroughCodec(const Signal& line, int format, const std::string& path)
{
    SF_INFO info{};
    info.samplerate = corpus::kLineRate;
    info.channels = 1;
    info.format = format;
    SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
    if (out == nullptr)
        return {};
    const std::vector<int16_t> samples = corpus::ToLine(line);
    sf_writef_short(out, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(out);
    SF_INFO readInfo{};
    SNDFILE* in = sf_open(path.c_str(), SFM_READ, &readInfo);
    if (in == nullptr)
        return {};
    std::vector<int16_t> decoded(static_cast<size_t>(readInfo.frames));
    decoded.resize(static_cast<size_t>(sf_readf_short(in, decoded.data(), readInfo.frames)));
    sf_close(in);
    std::remove(path.c_str());
    return Signal(decoded.begin(), decoded.end());
}

struct LineCondition {
    const char* name;
    int codec = 0;             // SF_FORMAT_..., 0: none
    double levelDbfs = -20;
    double snrDb = 30;
};

const std::vector<LineCondition>& LineConditions()
{
    static const std::vector<LineCondition> conditions = {
        {"GSM 06.10 WAV", SF_FORMAT_WAV | SF_FORMAT_GSM610},
        {"A-law WAV", SF_FORMAT_WAV | SF_FORMAT_ALAW},
        {"u-law WAV", SF_FORMAT_WAV | SF_FORMAT_ULAW},
        {"-45 dBFS", 0, -45, 1000},
        {"6 dB SNR", 0, -20, 6},
        {"GSM 06.10 WAV, 6 dB SNR", SF_FORMAT_WAV | SF_FORMAT_GSM610, -20, 6},
    };
    return conditions;
}

void PrintDelays(const char* label, const Pair& pair)
{
    std::printf("  %-34s %8.0f ms         %8.0f ms\n", label, Percentile(pair.ours.delays, 0.5),
                Percentile(pair.theirs.delays, 0.5));
}

// Every country's tone under each line condition, and the negatives that
// are speech through each codec.
void BenchLineConditions(const std::vector<Negative>& negatives, std::mt19937& random, Speed& ourSpeed,
                         Speed& theirSpeed)
{
    const auto& tones = corpus::PublishedBusyTones();
    const std::string path = "/tmp/parvane-bench-codec-" + std::to_string(::getpid()) + ".wav";
    std::map<std::string, Pair> found, falseFound;
    for (const LineCondition& condition : LineConditions()) {
        Pair& pair = found[condition.name];
        for (const BusyTone& tone : tones) {
            corpus::ToneVariant variant;
            variant.levelDbfs = condition.levelDbfs;
            variant.snrDb = condition.snrDb;
            variant.startMs = std::uniform_int_distribution<int>(0, tone.onMs + tone.offMs - 1)(random);
            Signal line = corpus::Cadenced(tone, variant, random);
            if (condition.codec != 0)
                line = ThroughCodec(line, condition.codec, path);
            if (line.empty())
                continue;
            pair.ours.Add(RunOurs(corpus::ToCapture(line), RequestFor(tone), ourSpeed), corpus::PeriodOf(tone));
            pair.theirs.Add(RunSpandsp(corpus::ToLine(line), RequestFor(tone), theirSpeed), corpus::PeriodOf(tone));
        }
        if (condition.codec == 0 || condition.snrDb < 30)
            continue;
        Pair& negative = falseFound[std::string("speech, ") + condition.name];
        for (const Negative& speech : negatives) {
            if (speech.kind != "speech (espeak-ng)")
                continue;
            const Signal line = ThroughCodec(speech.signal, condition.codec, path);
            if (line.empty())
                continue;
            const auto capture = corpus::ToCapture(line);
            const auto lineSamples = corpus::ToLine(line);
            for (const BusyTone& tone : tones) {
                negative.ours.Add(RunOurs(capture, RequestFor(tone), ourSpeed), 0);
                negative.theirs.Add(RunSpandsp(lineSamples, RequestFor(tone), theirSpeed), 0);
            }
        }
    }
    std::printf("Line conditions: detection rate (every country's tone)\n");
    for (const LineCondition& condition : LineConditions())
        PrintRate(condition.name, found[condition.name]);
    std::printf("Line conditions: false detections (speech in eight languages, every request)\n");
    for (const auto& [name, pair] : falseFound)
        PrintRate(name.c_str(), pair);
    std::printf("Line conditions: median time to first detection (ms from the start of the signal)\n");
    for (const LineCondition& condition : LineConditions())
        PrintDelays(condition.name, found[condition.name]);
}

} // namespace

int main()
{
    std::mt19937 random(20240611);
    const auto& tones = corpus::PublishedBusyTones();
    Speed ourSpeed, theirSpeed;

    std::map<std::string, Pair> bySnr, byLevel, byOffset, byFamily;
    Pair positives, drift, learn;
    const std::vector<double> levels = {-10, -25, -40};
    const std::vector<std::pair<const char*, double>> noises = {{"clean", 1000}, {"20 dB SNR", 20}, {"10 dB SNR", 10}, {"6 dB SNR", 6}};
    const std::vector<double> offsets = {0.985, 1.0, 1.015};

    for (const BusyTone& tone : tones) {
        const BusyToneRequest request = RequestFor(tone);
        for (double level : levels) {
            for (const auto& [noiseName, snr] : noises) {
                for (double offset : offsets) {
                    corpus::ToneVariant variant;
                    variant.levelDbfs = level;
                    variant.snrDb = snr;
                    variant.frequencyScale = offset;
                    variant.startMs = std::uniform_int_distribution<int>(0, tone.onMs + tone.offMs - 1)(random);
                    const Signal line = corpus::Cadenced(tone, variant, random);
                    const Outcome ours = RunOurs(corpus::ToCapture(line), request, ourSpeed);
                    const Outcome theirs = RunSpandsp(corpus::ToLine(line), request, theirSpeed);
                    const int period = corpus::PeriodOf(tone);
                    char levelName[32], offsetName[32];
                    std::snprintf(levelName, sizeof levelName, "%.0f dBFS", level);
                    std::snprintf(offsetName, sizeof offsetName, "frequency %+.1f %%", (offset - 1.0) * 100.0);
                    for (Pair* pair : {&positives, &bySnr[noiseName], &byLevel[levelName], &byOffset[offsetName],
                                       &byFamily[corpus::CadenceFamily(tone)]}) {
                        pair->ours.Add(ours, period);
                        pair->theirs.Add(theirs, period);
                    }
                }
            }
        }
        // Cadence drift, and learning the period with none requested.
        for (double scale : {0.92, 1.08}) {
            corpus::ToneVariant variant;
            variant.snrDb = 20;
            variant.cadenceScale = scale;
            variant.startMs = std::uniform_int_distribution<int>(0, tone.onMs + tone.offMs - 1)(random);
            const Signal line = corpus::Cadenced(tone, variant, random);
            drift.ours.Add(RunOurs(corpus::ToCapture(line), request, ourSpeed), 0);
            drift.theirs.Add(RunSpandsp(corpus::ToLine(line), request, theirSpeed), 0);
        }
        for (double snr : {1000.0, 10.0}) {
            corpus::ToneVariant variant;
            variant.snrDb = snr;
            variant.durationMs = 12000;
            variant.startMs = std::uniform_int_distribution<int>(0, tone.onMs + tone.offMs - 1)(random);
            const Signal line = corpus::Cadenced(tone, variant, random);
            BusyToneRequest learning = request;
            learning.periodMs = learning.onMs = learning.offMs = 0;
            learn.ours.Add(RunOurs(corpus::ToCapture(line), learning, ourSpeed), corpus::PeriodOf(tone));
        }
    }

    // Negatives, each heard with every country's request.
    std::map<std::string, Pair> falseByKind;
    Pair negatives, learnNegatives;
    const std::vector<Negative> madeNegatives = MakeNegatives(random);
    for (const auto& negative : madeNegatives) {
        const auto capture = corpus::ToCapture(negative.signal);
        const auto line = corpus::ToLine(negative.signal);
        for (const BusyTone& tone : tones) {
            const Outcome ours = RunOurs(capture, RequestFor(tone), ourSpeed);
            const Outcome theirs = RunSpandsp(line, RequestFor(tone), theirSpeed);
            for (Pair* pair : {&negatives, &falseByKind[negative.kind]}) {
                pair->ours.Add(ours, 0);
                pair->theirs.Add(theirs, 0);
            }
            BusyToneRequest learning{tone.frequency1, tone.frequency2, 0, 0, 0};
            learnNegatives.ours.Add(RunOurs(capture, learning, ourSpeed), 0);
        }
    }
    // Another country's busy tone that differs in frequency or cadence.
    for (const BusyTone& heard : tones) {
        corpus::ToneVariant variant;
        variant.snrDb = 30;
        const Signal line = corpus::Cadenced(heard, variant, random);
        const auto capture = corpus::ToCapture(line);
        const auto lineSamples = corpus::ToLine(line);
        for (const BusyTone& asked : tones) {
            if (!Distinct(heard, asked))
                continue;
            const Outcome ours = RunOurs(capture, RequestFor(asked), ourSpeed);
            const Outcome theirs = RunSpandsp(lineSamples, RequestFor(asked), theirSpeed);
            for (Pair* pair : {&negatives, &falseByKind["another country's busy tone"]}) {
                pair->ours.Add(ours, 0);
                pair->theirs.Add(theirs, 0);
            }
        }
    }

    // A ringback tone of the same frequencies as the busy tone asked for.
    for (const BusyTone& asked : tones) {
        for (auto [onMs, offMs] : {std::pair{1000, 4000}, {2000, 4000}}) {
            const BusyTone ringback{"", "", asked.frequency1, asked.frequency2, onMs, offMs};
            corpus::ToneVariant variant;
            variant.snrDb = 30;
            variant.durationMs = 15000;
            const Signal line = corpus::Cadenced(ringback, variant, random);
            const Outcome ours = RunOurs(corpus::ToCapture(line), RequestFor(asked), ourSpeed);
            const Outcome theirs = RunSpandsp(corpus::ToLine(line), RequestFor(asked), theirSpeed);
            for (Pair* pair : {&negatives, &falseByKind["ringback of the same frequency"]}) {
                pair->ours.Add(ours, 0);
                pair->theirs.Add(theirs, 0);
            }
        }
    }

    std::printf("\nBusy-tone detector against spandsp super_tone_rx, %zu countries' busy tones\n", tones.size());
    std::printf("  %-34s %-19s   %-19s\n", "", "vexlin", "spandsp");
    std::printf("Detection rate\n");
    PrintRate("all positives", positives);
    for (const auto& [name, pair] : bySnr)
        PrintRate(name.c_str(), pair);
    for (const auto& [name, pair] : byLevel)
        PrintRate(name.c_str(), pair);
    for (const auto& [name, pair] : byOffset)
        PrintRate(name.c_str(), pair);
    PrintRate("cadence -8 % / +8 %", drift);
    std::printf("Detection rate by cadence family\n");
    for (const auto& [name, pair] : byFamily)
        PrintRate(name.c_str(), pair);
    std::printf("False detections\n");
    PrintRate("all negatives", negatives);
    for (const auto& [name, pair] : falseByKind)
        PrintRate(name.c_str(), pair);
    std::printf("Time to first detection (ms from the start of the signal)\n");
    std::printf("  %-34s %8.0f            %8.0f\n", "median", Percentile(positives.ours.delays, 0.5),
                Percentile(positives.theirs.delays, 0.5));
    std::printf("  %-34s %8.0f            %8.0f\n", "95th percentile", Percentile(positives.ours.delays, 0.95),
                Percentile(positives.theirs.delays, 0.95));
    std::printf("Period error on detected positives (ms)\n");
    std::printf("  %-34s %8.1f            %8.1f\n", "mean", Mean(positives.ours.periodErrors),
                Mean(positives.theirs.periodErrors));
    std::printf("  %-34s %8.0f            %8.0f\n", "95th percentile", Percentile(positives.ours.periodErrors, 0.95),
                Percentile(positives.theirs.periodErrors, 0.95));
    std::printf("Learning the period (period 0), vexlin only\n");
    std::printf("  %-34s %5d/%-5d %6.1f %%\n", "found", learn.ours.found, learn.ours.runs, learn.ours.Rate());
    std::printf("  %-34s %8.1f ms mean, %.0f ms worst\n", "period error", Mean(learn.ours.periodErrors),
                Percentile(learn.ours.periodErrors, 1.0));
    std::printf("  %-34s %5d/%-5d %6.1f %%\n", "false detections on negatives", learnNegatives.ours.found,
                learnNegatives.ours.runs, learnNegatives.ours.Rate());
    BenchLineConditions(madeNegatives, random, ourSpeed, theirSpeed);
    std::printf("Speed (seconds of audio judged per second of processing)\n");
    std::printf("  %-34s %8.0fx           %8.0fx\n", "at 48 kHz / at 8 kHz", ourSpeed.Factor(), theirSpeed.Factor());
    const bool better = positives.ours.found >= positives.theirs.found && negatives.ours.found <= negatives.theirs.found;
    std::printf("\nvexlin %s spandsp: detection rate %.1f %% vs %.1f %%, false detections %d vs %d\n",
                better ? "matches or beats" : "FALLS BEHIND", positives.ours.Rate(), positives.theirs.Rate(),
                negatives.ours.found, negatives.theirs.found);
    return 0;
}
